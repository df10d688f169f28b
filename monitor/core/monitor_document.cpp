#include "monitor/core/monitor_document.hpp"

#include <algorithm>

namespace zelin::monitor {

namespace {

constexpr char kOpenError[] = "Open configuration file error!";
constexpr char kInvalidFormat[] = "Invalid file format!";
constexpr char kSavePrompt[] = "Save changes to Zelin Server Monitor file?";

}  // namespace

void RecentFiles::Add(const std::filesystem::path& path) {
  std::erase(entries_, path);
  entries_.push_front(path);
  if (entries_.size() > kCapacity) entries_.pop_back();
}

bool ConfigurationDiffers(const MonitorConfig& a, const MonitorConfig& b) {
  if (a.server_count != b.server_count || a.interval != b.interval ||
      a.column_mask != b.column_mask)
    return true;
  const auto watched = a.watched();
  for (size_t i = 0; i < watched.size(); ++i) {
    const MonitoredServer& x = watched[i];
    const MonitoredServer& y = b.servers[i];
    if (x.serial_number != y.serial_number || x.ip_address != y.ip_address ||
        x.watched_mask != y.watched_mask)
      return true;
  }
  return false;
}

MonitorDocument::MonitorDocument(MonitorState& state, Monitoring& monitoring, Prompter& prompter,
                                 FileChooser& files)
    : state_(state), monitoring_(monitoring), prompter_(prompter), files_(files) {}

void MonitorDocument::NewConfiguration() {
  *state_.in_use = MonitorConfig{};
  *state_.baseline = *state_.in_use;
  path_.reset();
}

bool MonitorDocument::LoadConfiguration(const std::filesystem::path& path) {
  const Result<int> read = ReadMonitorFile(path, *state_.working);
  if (!read.ok()) {
    prompter_.Message(read.status().Is(MonitorFileError::kCannotOpen) ? kOpenError
                                                                      : kInvalidFormat);
    return false;
  }
  // The receiving thread must not see the configuration change under it.
  monitoring_.StopMonitoring();
  *state_.in_use = *state_.working;
  for (MonitoredServer& server : state_.in_use->watched()) {
    server.ClearRunTime();
    server.state = kStateAnswered;
  }
  state_.throughput_gate = false;
  *state_.baseline = *state_.in_use;
  path_ = path;
  recent_.Add(path);
  monitoring_.StartMonitoring();
  return true;
}

bool MonitorDocument::LoadCommand() {
  const auto chosen = files_.ChooseOpenPath();
  return chosen && OpenFile(*chosen);
}

bool MonitorDocument::OpenFile(const std::filesystem::path& path) {
  if (IsModified()) {
    const MsgAnswer answer = prompter_.Message(kSavePrompt, MsgButtons::YesNoCancel, MsgIcon::Warning);
    if (answer == MsgAnswer::Cancel) return false;
    // A save that failed keeps this configuration: the other file is not loaded over it.
    if (answer == MsgAnswer::Yes && Save() == SaveOutcome::kFailed) return false;
  } else if (path_ && *path_ == path) {
    return false;
  }
  return LoadConfiguration(path);
}

MonitorDocument::SaveOutcome MonitorDocument::Save() {
  const auto chosen = files_.ChooseSavePath();
  if (!chosen) return SaveOutcome::kCancelled;
  // The run-time fields are not saved: the receiving thread may be writing them, and
  // loading clears them anyway.
  const std::unique_ptr<MonitorConfig> saved = state_.in_use->WithoutRunTime();
  if (!WriteMonitorFile(*chosen, *saved).ok()) {
    prompter_.Message(kOpenError);
    return SaveOutcome::kFailed;
  }
  *state_.baseline = *saved;
  path_ = *chosen;
  recent_.Add(*chosen);
  return SaveOutcome::kSaved;
}

bool MonitorDocument::SaveConfiguration() { return Save() == SaveOutcome::kSaved; }

bool MonitorDocument::IsModified() const {
  return ConfigurationDiffers(*state_.in_use, *state_.baseline);
}

void MonitorDocument::RestartIfWatching() {
  if (state_.in_use->server_count > 0) monitoring_.StartMonitoring();
}

bool MonitorDocument::CanClose() {
  monitoring_.StopMonitoring();
  if (!IsModified()) return true;
  const MsgAnswer answer = prompter_.Message(kSavePrompt, MsgButtons::YesNoCancel, MsgIcon::Warning);
  if (answer == MsgAnswer::No) return true;
  if (answer == MsgAnswer::Yes && Save() != SaveOutcome::kFailed) return true;
  RestartIfWatching();
  return false;
}

void MonitorDocument::Refresh() {
  monitoring_.StopMonitoring();
  for (MonitoredServer& server : state_.in_use->watched()) {
    const ServerState state = LoadState(server);
    server.ClearRunTime();
    StoreState(server, state);
  }
  state_.throughput_gate = false;
  monitoring_.StartMonitoring();
}

std::string MonitorDocument::Title() const {
  if (!path_) return kMonitorTitle;
  return path_->filename().string() + " - " + kMonitorTitle;
}

}  // namespace zelin::monitor
