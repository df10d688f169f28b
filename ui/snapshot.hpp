#pragma once
// Renders a widget (with its children) into a PNG file, for GUI tests and the
// documentation's screenshots. Works on the offscreen platform.

#include <QString>

class QWidget;

namespace zelin::ui {

// Lays out and paints `widget` as it would show, and writes it to `path`, creating the
// missing directories. False when the widget is null or the file cannot be written.
bool SaveWidgetPng(QWidget* widget, const QString& path);

}  // namespace zelin::ui
