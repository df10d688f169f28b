#include "ui/snapshot.hpp"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
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

}  // namespace zelin::ui
