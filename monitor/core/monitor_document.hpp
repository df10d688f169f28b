#pragma once
// MonitorDocument: the monitor's document, one watched configuration with its file.
// It runs the life cycle of the configuration in use: the new configuration at start,
// loading a monitor file (which restarts monitoring), "Save Configuration", the
// modified test against the saved baseline, the save prompt before another file is
// opened and before the window closes, and "Refresh Monitor".
//
// The document borrows the run's MonitorState, the polling engine, the Prompter and
// the file dialogs; they must outlive it. Every message goes through the Prompter.
// User-interface thread only.

#include <deque>
#include <filesystem>
#include <optional>
#include <string>

#include "monitor/core/monitor_file.hpp"
#include "monitor/core/monitor_state.hpp"
#include "platform/prompter.hpp"

namespace zelin::monitor {

inline constexpr char kMonitorTitle[] = "Zelin Server Monitor";

// The document's file dialogs: the program shows its own, tests answer from a script.
class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // The save dialog: default extension ".mnt", kMonitorFileFilter, no read-only box,
  // asks before overwriting an existing file. nullopt when cancelled.
  virtual std::optional<std::filesystem::path> ChooseSavePath() = 0;
  // The open dialog with the same extension and filter. nullopt when cancelled.
  virtual std::optional<std::filesystem::path> ChooseOpenPath() = 0;
};

// The File menu's recent files: at most four, the latest first, each once.
class RecentFiles {
 public:
  static constexpr size_t kCapacity = 4;
  void Add(const std::filesystem::path& path);
  const std::deque<std::filesystem::path>& entries() const { return entries_; }

 private:
  std::deque<std::filesystem::path> entries_;
};

class MonitorDocument {
 public:
  MonitorDocument(MonitorState& state, Monitoring& monitoring, Prompter& prompter,
                  FileChooser& files);
  MonitorDocument(const MonitorDocument&) = delete;
  MonitorDocument& operator=(const MonitorDocument&) = delete;

  // Interval 3, no server, the default columns; also the saved baseline; no file.
  void NewConfiguration();

  // Reads `path` and makes it the configuration in use: every watched server answering,
  // run-time fields cleared, the throughput gate clear, the baseline equal, monitoring
  // started. A file that cannot be read says "Open configuration file error!", a file
  // that is not a valid monitor file "Invalid file format!"; the configuration in use
  // and monitoring then stay as they were. True when loaded.
  bool LoadConfiguration(const std::filesystem::path& path);

  // "Load Configuration": the open dialog, then OpenFile.
  bool LoadCommand();
  // Opens a file from the menu or the recent-file list, asking first to save a
  // modified configuration (Cancel stops; Yes saves, even when its dialog is then
  // cancelled, and opens). An unmodified document does not load its own file again.
  bool OpenFile(const std::filesystem::path& path);

  // "Save Configuration": the save dialog, then the file. True when written.
  bool SaveConfiguration();

  // Whether the configuration in use differs from the baseline in what the user set:
  // interval, column mask, server count, or the serial number, IP address or
  // watched-port mask of a watched server.
  bool IsModified() const;

  // Before the window closes: stops monitoring and asks to save a modified
  // configuration. Yes saves (a cancelled dialog still closes); No closes. Cancel, or
  // a save that could not write its file, keeps the window open and monitoring going.
  bool CanClose();

  // "Refresh Monitor": clears every port's samples and status and the throughput gate,
  // then starts monitoring again.
  void Refresh();

  const std::optional<std::filesystem::path>& path() const { return path_; }
  // "Zelin Server Monitor", or "NAME - Zelin Server Monitor" with a file.
  std::string Title() const;
  const RecentFiles& recent() const { return recent_; }
  // The polling engine the document drives (the configuration sheet drives it too).
  Monitoring& monitoring() { return monitoring_; }
  RecentFiles& recent() { return recent_; }

 private:
  enum class SaveOutcome { kSaved, kCancelled, kFailed };
  SaveOutcome Save();
  void RestartIfWatching();

  MonitorState& state_;
  Monitoring& monitoring_;
  Prompter& prompter_;
  FileChooser& files_;
  std::optional<std::filesystem::path> path_;
  RecentFiles recent_;
};

// The modified test between two configurations.
bool ConfigurationDiffers(const MonitorConfig& a, const MonitorConfig& b);

}  // namespace zelin::monitor
