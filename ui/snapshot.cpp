#include "ui/snapshot.hpp"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

namespace zelin::ui {

bool SaveWidgetPng(QWidget* widget, const QString& path) {
  if (widget == nullptr) return false;
  QApplication::processEvents();
  // A hidden widget that nobody sized gets the size it would show with.
  if (!widget->isVisible() && !widget->testAttribute(Qt::WA_Resized)) widget->adjustSize();
  const QPixmap pm = widget->grab();
  if (pm.isNull()) return false;
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
  return pm.save(path, "PNG");
}

void TakeScreenshotWhenAsked(QObject* context, std::function<void(const QString& path)> take) {
  const QByteArray shot = qgetenv("ZELIN_SCREENSHOT");
  if (shot.isEmpty()) return;
  bool ok = false;
  int seconds = qEnvironmentVariableIntValue("ZELIN_SCREENSHOT_AFTER", &ok);
  if (!ok) seconds = 3;
  QTimer::singleShot(seconds * 1000, context, [take = std::move(take), shot] {
    take(QString::fromLocal8Bit(shot));
  });
}

}  // namespace zelin::ui
