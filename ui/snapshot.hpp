#pragma once
// Renders a widget (with its children) into a PNG file, for GUI tests and the
// documentation's screenshots. Works on the offscreen platform.

#include <QString>
#include <functional>

class QObject;
class QWidget;

namespace zelin::ui {

// Lays out and paints `widget` as it would show, and writes it to `path`, creating the
// missing directories. False when the widget is null or the file cannot be written.
bool SaveWidgetPng(QWidget* widget, const QString& path);

// The programs' picture for the demo on machines without a display: when the
// environment's ZELIN_SCREENSHOT names a PNG file, calls `take` with that path
// ZELIN_SCREENSHOT_AFTER seconds (3 when unset) after the event loop starts, on
// `context`'s thread (never once `context` is gone). Else does nothing.
void TakeScreenshotWhenAsked(QObject* context, std::function<void(const QString& path)> take);

}  // namespace zelin::ui
