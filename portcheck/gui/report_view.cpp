#include "portcheck/gui/report_view.hpp"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPrinter>

#include "ui/qt_prompter.hpp"

namespace zelin::portcheck {
namespace {

const QColor kDarkGreen(0, 128, 0);
const QColor kDarkRed(128, 0, 0);

QFont ScreenFont(bool bold) {
  QFont f(QStringLiteral("Courier New"));
  f.setStyleHint(QFont::TypeWriter);
  f.setPixelSize(12);
  f.setWeight(bold ? QFont::Bold : QFont::Normal);
  return f;
}

}  // namespace

ErrorCodeLabel::ErrorCodeLabel(QWidget* parent) : QLabel(parent) {
  setFont(ScreenFont(false));
  setStyleSheet(QStringLiteral("color: rgb(128, 0, 0);"));
  setCursor(Qt::WhatsThisCursor);
  hide();
}

void ErrorCodeLabel::mousePressEvent(QMouseEvent* event) {
  QLabel::mousePressEvent(event);
  emit clicked(code);
}

ReportView::ReportView(QWidget* parent) : QWidget(parent), normal_(ScreenFont(false)), bold_(ScreenFont(true)) {
  setObjectName(QStringLiteral("ReportView"));
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Base);
  for (int i = 0; i < kLabels; ++i) {
    auto* label = new ErrorCodeLabel(this);
    connect(label, &ErrorCodeLabel::clicked, this, &ReportView::errorCodeClicked);
    labels_.push_back(label);
  }
}

void ReportView::ShowReport(ReportLayout layout) {
  layout_ = std::move(layout);
  const QFontMetrics fm(normal_);
  setMinimumSize(layout_->columns * fm.averageCharWidth(), layout_->lines * fm.height());
  PlaceLabels();
  update();
}

void ReportView::ShowStartingText(QPixmap config_picture, QPixmap go_picture) {
  layout_.reset();
  config_picture_ = std::move(config_picture);
  go_picture_ = std::move(go_picture);
  setMinimumSize(0, 0);
  PlaceLabels();
  update();
}

std::vector<const ErrorCodeLabel*> ReportView::PlacedLabels() const {
  std::vector<const ErrorCodeLabel*> out;
  for (const auto* l : labels_)
    if (!l->isHidden()) out.push_back(l);
  return out;
}

void ReportView::PlaceLabels() {
  for (auto* l : labels_) l->hide();  // everything the previous drawing placed
  if (!layout_) return;
  const QFontMetrics fm(normal_);
  size_t next = 0;
  for (const ReportText& t : layout_->texts) {
    if (t.style != ReportText::Style::kErrorCode) continue;
    if (next >= kMaxPlaced) break;
    ErrorCodeLabel* l = labels_[next++];
    l->code = t.code;
    l->setText(ui::ToQString(t.text));
    l->setGeometry(t.column * fm.averageCharWidth(), (t.line - 1) * fm.height(),
                   4 * fm.averageCharWidth(), fm.height());
    l->show();
  }
}

void ReportView::Draw(QPainter& p, const ReportLayout& layout, const QFont& normal,
                      const QFont& bold, int line_height, int char_width, bool printing) {
  const QColor text_colour = p.pen().color();
  for (const ReportText& t : layout.texts) {
    if (t.style == ReportText::Style::kErrorCode && !printing) continue;  // a label shows it
    p.setFont(t.style == ReportText::Style::kBold ? bold : normal);
    switch (t.style) {
      case ReportText::Style::kOk: p.setPen(kDarkGreen); break;
      case ReportText::Style::kFailure:
      case ReportText::Style::kErrorCode: p.setPen(kDarkRed); break;
      default: p.setPen(text_colour); break;
    }
    const QFontMetrics fm(p.font());
    p.drawText(t.column * char_width, (t.line - 1) * line_height + fm.ascent(), ui::ToQString(t.text));
  }
  p.setPen(text_colour);
}

void ReportView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setPen(palette().color(QPalette::Text));
  const QFontMetrics fm(normal_);
  if (layout_) {
    Draw(p, *layout_, normal_, bold_, fm.height(), fm.averageCharWidth(), false);
    return;
  }
  p.setFont(normal_);
  for (const StartingLine& s : StartingText()) {
    const int top = (s.line - 1) * fm.height() * 2;
    const QString before = ui::ToQString(s.before);
    p.drawText(0, top + fm.ascent() + 6, before);
    const int x = fm.horizontalAdvance(before) + 2;
    const QPixmap& pic = s.picture == Command::kConfig ? config_picture_ : go_picture_;
    if (!pic.isNull()) p.drawPixmap(x, top, pic);
    p.drawText(x + 28, top + fm.ascent() + 6, ui::ToQString(s.after));
  }
}

void ReportView::Print(const ReportLayout& layout, QPaintDevice* printer) {
  QPainter p(printer);
  QFont normal(QStringLiteral("Courier New"));
  normal.setStyleHint(QFont::TypeWriter);
  normal.setPointSize(8);
  QFont bold = normal;
  bold.setWeight(QFont::Bold);
  p.setFont(normal);
  const QFontMetrics fm(normal, printer);
  Draw(p, layout, normal, bold, fm.height() + fm.leading(), fm.averageCharWidth(), true);
}

}  // namespace zelin::portcheck
