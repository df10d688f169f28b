#include "srvmanager/core/save_progress.hpp"

#include "platform/status.hpp"
#include "srvmanager/core/strings.hpp"

namespace zelin::manager {
namespace {

constexpr std::string_view kSaveProgressTitle = "Save Configuration";

}  // namespace

std::string_view SaveProgress::StepText(WriteStepName step) {
  static constexpr CodeText<WriteStepName> kTexts[] = {
      {WriteStepName::kLogin, "logging in"},
      {WriteStepName::kName, "server name"},
      {WriteStepName::kNewPassword, "new password"},
      {WriteStepName::kAddress, "IP address"},
      {WriteStepName::kRoutes, "routing table"},
      {WriteStepName::kAccessList, "access control table"},
      {WriteStepName::kPortKinds, "port settings"},
      {WriteStepName::kDhcp, "DHCP setting"},
      {WriteStepName::kRestart, "saving and restarting"},
  };
  return TextOf(kTexts, step);
}

SaveProgress::~SaveProgress() {
  Close();
}

SaveProgress::Scope::Scope(SaveProgress& p) : p_(p) {
  if (p_.depth_++ == 0) p_.prompter_.BeginWait();
}

SaveProgress::Scope::~Scope() {
  if (--p_.depth_ == 0) {
    p_.Close();
    p_.prompter_.EndWait();
  }
}

std::string SaveProgress::WritingText(std::string_view server, WriteStepName step) {
  const std::string name(server);
  const std::string what(StepText(step));
  return Format("Writing %s: %s", name.c_str(), what.c_str());
}

std::string SaveProgress::RestartingText(std::string_view server, int64_t ms_left) {
  const std::string name(server);
  const long long seconds = ms_left > 0 ? (ms_left + 999) / 1000 : 0;
  return Format("Restarting %s: %lld s left", name.c_str(), seconds);
}

void SaveProgress::Writing(std::string_view server, WriteStepName step) {
  Say(WritingText(server, step));
}

void SaveProgress::Restarting(std::string_view server, int64_t ms_left) {
  Say(RestartingText(server, ms_left));
}

void SaveProgress::Say(const std::string& text) {
  if (!window_) window_ = prompter_.OpenProgress(kSaveProgressTitle);
  if (!shown_) {
    window_->Show(text);
    shown_ = true;
  } else {
    window_->SetText(text);
  }
  window_->Step();
}

void SaveProgress::Close() {
  if (window_ && shown_) window_->Close();
  window_.reset();
  shown_ = false;
}

}  // namespace zelin::manager
