#pragma once
// The firmware upgrade window ("Zelin Server upgrade") as a presentation model: one
// server of the Test Object page's working copy, a firmware file, and the download over
// the diagnostic session. Reached by the Insert key in that page's server list.
//
// Every failure is one message and leaves the window open, except a cancelled password
// prompt, which ends the attempt silently. Only the password dialog changes the working
// copy (a new password is kept even when the download then fails).
//
// Thread safety: the user-interface thread only (the download blocks it, with the wait
// cursor, for at most the two 30-second replies and the paced transfer).

#include <string>
#include <string_view>

#include "platform/prompter.hpp"
#include "portcheck/core/diag_config.hpp"
#include "portcheck/core/session.hpp"

namespace zelin::portcheck {

// "%d.%d%d%c%c": bits 24-27, 20-23 and 16-19 as digits, then bits 8-15 and 0-7 as
// characters; a zero byte ends the text there.
std::string UpgradeVersionText(uint32_t version);
// The message of a download result: 0 "Firmware upgrade ok", -12 "Invalid firmware
// format!", -11 "Download Timeout!", -1 "Can't open firmware file!", else
// "Download fail (%d)!".
std::string DownloadResultMessage(int result);

class UpgradeWindow {
 public:
  static constexpr std::string_view kTitle = "Zelin Server upgrade";
  static constexpr std::string_view kBrowseTitle = "Zelin Server Firmware File";
  static constexpr std::string_view kBrowseFilter = "Rom File(*.rom)|*.rom||";
  static constexpr std::string_view kBrowseExtension = "rom";
  static constexpr int kReplyWaitSeconds = 30;

  UpgradeWindow(DiagConfig& working, int server, DiagSession& session, Prompter& prompter,
                PasswordDialogRunner run_dialog);

  // The read-only fields.
  std::string server_name() const;
  std::string ip_address() const;
  std::string serial_number() const;
  std::string firmware_version() const;

  // The "File name" field.
  std::string file_name;

  // Start: true when the upgrade succeeded and the window closes with OK.
  bool Start();
  // BROWSE with a chosen file: puts its path into the field and starts at once.
  bool Browse(const std::string& chosen_path);

 private:
  const ServerImage& image() const { return working_.images[static_cast<size_t>(server_)]; }

  DiagConfig& working_;
  int server_;
  DiagSession& session_;
  Prompter& prompter_;
  PasswordDialogRunner run_dialog_;
};

}  // namespace zelin::portcheck
