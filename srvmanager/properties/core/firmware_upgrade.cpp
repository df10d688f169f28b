#include "srvmanager/properties/core/firmware_upgrade.hpp"

#include <algorithm>

#include "protocol/firmware.hpp"
#include "srvmanager/properties/core/properties_strings.hpp"

namespace zelin::manager {

void UpgradeProgress::Show(std::string_view text) {
  shown_ = true;
  position_ = kMinimum;
  steps_ = 0;
  percent_ = " 0 %";
  message_ = text;
  if (view_ != nullptr) {
    view_->SetShown(true);
    view_->Changed(true);
  }
}

void UpgradeProgress::SetText(std::string_view text) {
  message_ = text;
  if (view_ != nullptr) view_->Changed(true);
}

void UpgradeProgress::Step() {
  ++steps_;
  position_ = std::min(position_ + kStep, kMaximum);
  percent_ = Format("%d%c", position_, '%');
  if (view_ != nullptr) view_->Changed(true);
}

void UpgradeProgress::Close() {
  if (!shown_) return;
  shown_ = false;
  if (view_ != nullptr) view_->SetShown(false);
}

std::string_view UpgradeProgress::Caption() {
  return ManagerString(kStrUpgradeCaption);
}

UpgradeFirmwareCommand::UpgradeFirmwareCommand(PropertiesHost& host, FirmwareFileChooser& chooser,
                                               ProgressWindow& progress)
    : host_(host), chooser_(chooser), progress_(progress) {}

UpgradeFirmwareCommand::Result UpgradeFirmwareCommand::Run(int server_index, int found_index) {
  ServerList& found = host_.found();
  if (found_index < 0 || found_index >= found.count || server_index < 0 ||
      server_index >= host_.count())
    return Result::kNothing;
  const auto path = chooser_.ChooseFirmwareFile();
  if (!path) return Result::kCancelled;
  ServerRecord& record = found.records[static_cast<size_t>(found_index)];
  record.password = host_.server(server_index).password();
  Status downloaded;
  {
    WaitCursor wait(host_.prompter());
    downloaded = DownloadFirmware(host_.transport(), record, *path, kReplyWaitSeconds, progress_);
  }
  // Whatever path the download took, the window does not outlive it.
  progress_.Close();
  if (downloaded) {
    host_.prompter().Message(ManagerString(kStrUpgradeOk), MsgButtons::Ok, MsgIcon::Information);
    return Result::kUpgraded;
  }
  host_.prompter().Message(ManagerString(kStrUpgradeFail), MsgButtons::Ok, MsgIcon::Error);
  return Result::kFailed;
}

}  // namespace zelin::manager
