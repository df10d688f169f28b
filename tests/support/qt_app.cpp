#include "tests/support/qt_app.hpp"

#include <cstdlib>
#include <string>

// Fontconfig keeps a cache for the life of the process that the leak checker reports.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}

namespace zelin::testing {

QApplication& QtApp(const char* name) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static std::string program(name);
  static char* argv[] = {program.data(), nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace zelin::testing
