#pragma once
// What the diagnostic program holds for its whole run: the live configuration and its
// file, the result stores and test-time line of the last run, the COM mapping table,
// the Test Object page's search results and the main window's model. The windows borrow
// it; workers write it only while their modal windows are open.

#include <string>

#include "portcheck/core/com_mapping.hpp"
#include "portcheck/core/config_file.hpp"
#include "portcheck/core/main_window_model.hpp"
#include "portcheck/core/test_object_page.hpp"
#include "portcheck/core/test_run.hpp"

namespace zelin::portcheck {

struct DiagnosticDocument {
  explicit DiagnosticDocument(std::string config_path) : file(std::move(config_path)) {}

  // Reads the file (or the defaults) into the live configuration.
  void Load() { live = file.Load(); }
  // Writes the file when the configuration changed since it was read.
  bool Save() { return file.SaveIfChanged(live); }

  DiagConfigFile file;
  DiagConfig live = DiagConfig::Defaults();
  ResultStores stores{};
  std::string test_time_line;
  ComMappingTable com;
  ServerSearchResults search;
  MainWindowModel model{live};
};

}  // namespace zelin::portcheck
