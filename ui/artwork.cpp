#include "ui/artwork.hpp"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <map>
#include <tuple>
#include <vector>

#include "store/installation_type.hpp"

namespace zelin::ui {

namespace {

// A server box at `r`, with `lights` port lights along its front.
void DrawServer(QPainter& p, const QRectF& r, int lights) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, QColor(0x5a, 0x6f, 0x8c));
  g.setColorAt(1, QColor(0x2c, 0x3a, 0x4f));
  p.setPen(QPen(QColor(0x1b, 0x24, 0x31), 1));
  p.setBrush(g);
  p.drawRoundedRect(r, r.height() * 0.15, r.height() * 0.15);
  const qreal d = r.height() * 0.22;
  const qreal gap = (r.width() - 2 * d) / std::max(lights, 1);
  for (int i = 0; i < lights; ++i) {
    p.setPen(Qt::NoPen);
    p.setBrush(i % 3 == 0 ? QColor(0xff, 0xb3, 0x30) : QColor(0x5c, 0xe0, 0x6a));
    p.drawEllipse(QPointF(r.left() + d + gap * (i + 0.5), r.center().y()), d / 2, d / 2);
  }
}

// A small computer screen standing on its foot, centred on `c`.
void DrawHost(QPainter& p, QPointF c, qreal w) {
  const qreal h = w * 0.7;
  QRectF screen(c.x() - w / 2, c.y() - h / 2, w, h);
  p.setPen(QPen(QColor(0x30, 0x30, 0x30), 1.2));
  p.setBrush(QColor(0xe8, 0xe8, 0xe8));
  p.drawRoundedRect(screen, 3, 3);
  p.setBrush(QColor(0x24, 0x5d, 0xa8));
  p.drawRect(screen.adjusted(w * 0.08, w * 0.08, -w * 0.08, -w * 0.12));
  p.setBrush(QColor(0xb0, 0xb0, 0xb0));
  p.drawRect(QRectF(c.x() - w * 0.12, screen.bottom(), w * 0.24, w * 0.1));
  p.drawRect(QRectF(c.x() - w * 0.3, screen.bottom() + w * 0.1, w * 0.6, w * 0.06));
}

QPixmap PaintIcon(int size, bool suite) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  if (suite) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x24, 0x5d, 0xa8));
    p.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    DrawServer(p, QRectF(size * 0.15, size * 0.38, size * 0.7, size * 0.26), 4);
  } else {
    DrawServer(p, QRectF(size * 0.05, size * 0.3, size * 0.9, size * 0.4), 4);
  }
  return pm;
}

}  // namespace

QIcon ServerIcon() {
  static const QIcon icon = [] {
    QIcon i;
    for (int s : {16, 32, 48}) i.addPixmap(PaintIcon(s, false));
    return i;
  }();
  return icon;
}

QIcon SuiteIcon() {
  static const QIcon icon = [] {
    QIcon i;
    for (int s : {16, 32, 48, 64}) i.addPixmap(PaintIcon(s, true));
    return i;
  }();
  return icon;
}

QPixmap WizardPicture(int installation_type) {
  static std::map<int, QPixmap> cache;
  if (!IsInstallationType(installation_type)) installation_type = 0;
  if (auto it = cache.find(installation_type); it != cache.end()) return it->second;

  const int w = 164, h = 314;
  QPixmap pm(w, h);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, h);
  sky.setColorAt(0, QColor(0x1c, 0x3f, 0x72));
  sky.setColorAt(1, QColor(0x6f, 0xa4, 0xd8));
  p.fillRect(pm.rect(), sky);

  // Network cable: a bus down the middle with the server at its foot.
  const QPointF server_top(w / 2.0, h - 70);
  DrawServer(p, QRectF(22, h - 70, w - 44, 30), 8);
  p.setPen(QPen(QColor(0xf0, 0xf0, 0xf0), 2.5));
  const qreal bus_y = h - 110;
  p.drawLine(QPointF(w / 2.0, bus_y), server_top);

  std::vector<QPointF> hosts;
  switch (installation_type) {
    case kSingleHost:
      hosts = {{w / 2.0, 130}};
      break;
    case kMultiHost:
      hosts = {{42, 110}, {w - 42, 110}, {w / 2.0, 175}};
      break;
    case kCustom:
      hosts = {{w / 2.0, 70}};
      break;
    default:
      hosts = {{w / 2.0, 140}};
      break;
  }
  for (const QPointF& c : hosts) {
    if (installation_type == kCustom) {
      // A far host: the cable takes a long dashed way over a cloud.
      QPen dashed(QColor(0xf0, 0xf0, 0xf0), 2.5, Qt::DashLine);
      p.setPen(dashed);
      p.drawLine(QPointF(c.x(), c.y() + 30), QPointF(w / 2.0, bus_y));
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(255, 255, 255, 200));
      for (auto [dx, dy, r] : {std::tuple{-22.0, 0.0, 16.0}, {0.0, -8.0, 20.0}, {22.0, 0.0, 16.0}})
        p.drawEllipse(QPointF(w / 2.0 + dx, 150 + dy), r, r);
    } else {
      p.setPen(QPen(QColor(0xf0, 0xf0, 0xf0), 2.5));
      p.drawLine(QPointF(c.x(), c.y() + 30), QPointF(c.x(), bus_y));
      p.drawLine(QPointF(c.x(), bus_y), QPointF(w / 2.0, bus_y));
    }
    DrawHost(p, c, 52);
  }

  p.setPen(QColor(0xff, 0xff, 0xff));
  QFont f = p.font();
  f.setBold(true);
  f.setPixelSize(13);
  p.setFont(f);
  p.drawText(QRectF(0, h - 34, w, 24), Qt::AlignCenter, QStringLiteral("Zelin Server Pro"));
  p.end();
  cache[installation_type] = pm;
  return pm;
}

}  // namespace zelin::ui
