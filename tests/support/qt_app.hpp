#pragma once
// The QApplication of a GUI test executable, created on first use on the offscreen
// platform and never destroyed (Qt's input devices must not be torn down by exit
// handlers).

#include <QApplication>
#include <cstdlib>

namespace zelin::testing {

inline QApplication& QtApp() {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "zelin_gui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace zelin::testing
