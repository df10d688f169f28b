#include "portcheck/core/upgrade_window.hpp"

#include "platform/text_format.hpp"
#include "protocol/address.hpp"

namespace zelin::portcheck {

std::string UpgradeVersionText(uint32_t v) {
  std::string s = FirmwareVersionText(v);
  for (const uint8_t c : {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}) {
    if (c == 0) break;
    s.push_back(static_cast<char>(c));
  }
  return s;
}

std::string DownloadResultMessage(int result) {
  switch (result) {
    case 0: return "Firmware upgrade ok";
    case -12: return "Invalid firmware format!";
    case -11: return "Download Timeout!";
    case -1: return "Can't open firmware file!";
    default: return Format("Download fail (%d)!", result);
  }
}

UpgradeWindow::UpgradeWindow(DiagConfig& working, int server, DiagSession& session,
                             Prompter& prompter, PasswordDialogRunner run_dialog)
    : working_(working),
      server_(server),
      session_(session),
      prompter_(prompter),
      run_dialog_(std::move(run_dialog)) {}

std::string UpgradeWindow::server_name() const { return image().name(); }
std::string UpgradeWindow::ip_address() const { return AddressToText(image().ip_address()); }
std::string UpgradeWindow::serial_number() const { return std::to_string(image().serial_number()); }
std::string UpgradeWindow::firmware_version() const {
  return UpgradeVersionText(image().firmware_version());
}

bool UpgradeWindow::Browse(const std::string& chosen_path) {
  file_name = chosen_path;
  return Start();
}

bool UpgradeWindow::Start() {
  if (file_name.empty()) {
    prompter_.Message("Missing firmware file name!");
    return false;
  }
  const Ipv4 address = image().ip_address();
  if (!session_.Open(address).ok()) {
    prompter_.Message(Format("Zelin Server %s (%s)\n          Connect fail!", server_name().c_str(),
                             ip_address().c_str()));
    return false;
  }
  std::string& password = working_.settings[static_cast<size_t>(server_)].password;
  if (!session_.SessionLogin(password).ok()) {
    PasswordDialog dialog(session_, prompter_, address, server_name(), password);
    run_dialog_(dialog);
    if (dialog.end() != PasswordDialog::End::kOk) {
      session_.Close();
      return false;
    }
  }
  Status result;
  {
    WaitCursor wait(prompter_);
    result = session_.FirmwareDownload(file_name, kReplyWaitSeconds);
  }
  session_.Close();
  prompter_.Message(DownloadResultMessage(result.code()));
  return result.ok();
}

}  // namespace zelin::portcheck
