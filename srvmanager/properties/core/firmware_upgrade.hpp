#pragma once
// Upgrade Firmware: the command and the model of its progress window.
//
// UpgradeProgress is the progress window of the download (caption "Zelin Server
// Upgrade"): a bar from 0 to 100 advanced in steps of 10, the percentage text (" 0 %"
// at start, then "%d%%"), and the message text. It implements ProgressWindow for
// DownloadFirmware and tells an optional view (the Qt window) about every change;
// the view repaints on Step.
//
// UpgradeFirmwareCommand asks for a file through a FirmwareFileChooser, logs in with
// the entry's password and downloads the file with a 20-second reply wait, then shows
// "Upgrade server firmware OK!" or "Upgrade server firmware Fail!". The model is not
// changed either way.
//
// GUI thread only; the download blocks for at most its waits.

#include <optional>
#include <string>
#include <string_view>

#include "platform/prompter.hpp"
#include "srvmanager/properties/core/host.hpp"

namespace zelin::manager {

class UpgradeProgress final : public ProgressWindow {
 public:
  static constexpr int kMinimum = 0;
  static constexpr int kMaximum = 100;
  static constexpr int kStep = 10;

  class View {
   public:
    virtual ~View() = default;
    // Show or hide the window (the main window is disabled while it shows).
    virtual void SetShown(bool shown) = 0;
    // Bar, percentage or message changed; `repaint` asks to paint at once.
    virtual void Changed(bool repaint) = 0;
  };

  void set_view(View* view) { view_ = view; }

  void Show(std::string_view text) override;
  void SetText(std::string_view text) override;
  void Step() override;
  void Close() override;

  static std::string_view Caption();
  bool shown() const { return shown_; }
  int position() const { return position_; }
  const std::string& percent_text() const { return percent_; }
  const std::string& message() const { return message_; }
  int steps() const { return steps_; }

 private:
  View* view_ = nullptr;
  bool shown_ = false;
  int position_ = 0;
  int steps_ = 0;
  std::string percent_ = " 0 %";
  std::string message_;
};

class FirmwareFileChooser {
 public:
  virtual ~FirmwareFileChooser() = default;
  // The standard file-open dialog (no filter, no read-only box); nullopt on Cancel.
  virtual std::optional<std::string> ChooseFirmwareFile() = 0;
};

class UpgradeFirmwareCommand {
 public:
  static constexpr int kReplyWaitSeconds = 20;

  UpgradeFirmwareCommand(PropertiesHost& host, FirmwareFileChooser& chooser,
                         ProgressWindow& progress);

  enum class Result { kNothing, kCancelled, kUpgraded, kFailed };
  Result Run(int server_index, int found_index);

 private:
  PropertiesHost& host_;
  FirmwareFileChooser& chooser_;
  ProgressWindow& progress_;
};

}  // namespace zelin::manager
