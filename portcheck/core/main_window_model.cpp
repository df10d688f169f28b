#include "portcheck/core/main_window_model.hpp"

#include "platform/text_format.hpp"
#include "protocol/address.hpp"

namespace zelin::portcheck {
namespace {

// The caption beside the toolbar after a completed run.
constexpr std::string_view kReportCaption = "Test Report";

constexpr std::array<CommandInfo, 11> kCommands{{
    {Command::kSaveReport, "File", "&Save Report", 3, "Save The Test Report"},
    {Command::kPrint, "File", "&Print...\tCtrl+P", 3, "Print The Test Report"},
    {Command::kPrintPreview, "File", "Print Pre&view", 0, "Display full pages"},
    {Command::kPrintSetup, "File", "P&rint Setup...", 0, "Change the printer and printing options"},
    {Command::kExportPdf, "File", "&Export PDF...", 0, "Write the test report page as a PDF file"},
    {Command::kExit, "File", "E&xit", 0, ""},
    {Command::kConfig, "Diagnose", "&Config", 1, "Diagnose Config"},
    {Command::kServerStatus, "Diagnose", "&Server Status", 2, "Server Status"},
    {Command::kGo, "Diagnose", "&Go", 1, "Begin Test"},
    {Command::kErrorCodeReference, "Help", "&Error Code Reference", 0, ""},
    {Command::kAbout, "Help", "&About", 0, ""},
}};

constexpr std::array<StartingLine, 2> kStarting{{
    {1, "Select ", Command::kConfig, " (Config) to set test option"},
    {3, "Select ", Command::kGo, " (Go) to start testing"},
}};

}  // namespace

std::span<const CommandInfo> Commands() { return kCommands; }

std::vector<Command> ToolbarCommands() {
  return {Command::kConfig, Command::kGo, Command::kServerStatus, Command::kSaveReport,
          Command::kPrint};
}

std::span<const StartingLine> StartingText() { return kStarting; }

bool MainWindowModel::IsEnabled(Command c) const {
  switch (c) {
    case Command::kSaveReport:
    case Command::kPrint:
    case Command::kPrintPreview:
    case Command::kExportPdf:
      return report_mode_;
    case Command::kServerStatus:
    case Command::kGo:
      return live_.server_count > 0;
    default:
      return true;
  }
}

void MainWindowModel::RefreshList(bool keep_marks) {
  items_.clear();
  for (int i = 0; i < live_.server_count; ++i) {
    const auto k = static_cast<size_t>(i);
    const ServerImage& im = live_.images[k];
    if (!keep_marks || marks_[k] == ServerMark::kNone) marks_[k] = MarkFromStatus(live_.settings[k].status);
    items_.push_back({marks_[k],
                      Format("%s (%s)", std::string(ModelName(im.device_type())).c_str(), im.name().c_str()),
                      Format("SerialNo:%d, %s", im.serial_number(), AddressToText(im.ip_address()).c_str())});
  }
}

void MainWindowModel::ConfigOpened() { caption_.clear(); }

void MainWindowModel::ConfigAccepted() {
  report_mode_ = false;
  caption_.clear();
  RefreshList(false);
}

std::string_view MainWindowModel::GoQuestion(bool from_menu) {
  return from_menu ? "Warnning!\nDiagnostic will reset the testing serial ports of Zelin Server\n"
                     "Do you want to continue?"
                   : "Warning!\nDiagnostic will reset the testing serial ports of Zelin Server\n"
                     "Do you want to continue?";
}

void MainWindowModel::RunEnded(bool cancelled, std::span<const ServerMark> run_marks) {
  if (cancelled) {
    report_mode_ = false;
    RefreshList(false);
    return;
  }
  for (size_t i = 0; i < marks_.size() && i < run_marks.size(); ++i) marks_[i] = run_marks[i];
  report_mode_ = true;
  report_server_ = 0;
  caption_ = std::string(kReportCaption);
  RefreshList(true);
}

void MainWindowModel::SelectServer(int index) {
  if (index >= 0 && index < live_.server_count) report_server_ = index;
}

}  // namespace zelin::portcheck
