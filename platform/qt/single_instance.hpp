#pragma once
// Single instance and window closing for the suite's Qt programs.
//
// Every running program listens on a local socket named after its main window
// title (InstanceChannel). A second start with the same title finds the channel and
// asks the first instance to show itself (ActivateRunning), then ends. The manager's
// Release course uses the same channels to list the suite's windows and to ask them
// to close (RunningTitles, RequestClose).
//
// The channels live in one folder: ZELIN_RUNTIME_DIR when set, else the user's
// runtime folder ($XDG_RUNTIME_DIR), else the system's temporary folder. A channel's file name is
// "zelin-win-" and a 64-bit hash of the title; the channel answers a "title" request with the full
// title, so titles of any length work. Requests are single lines: "activate", "close", "title".
//
// Thread safety: GUI thread only. The client calls block for at most about
// kClientTimeoutMs; the serving side needs the Qt event loop.

#include <QObject>
#include <QString>
#include <QStringList>

class QWidget;

class QLocalServer;

namespace zelin::platform_qt {

inline constexpr int kClientTimeoutMs = 1000;

// The folder of the channels and the full name of the channel of `title`.
QString ChannelFolder();
QString ChannelName(const QString& title);

// Sends `request` to the program with `title`; true when it was delivered. When
// `reply` is given, one line of answer is read into it.
bool SendRequest(const QString& title, const QString& request, QString* reply = nullptr);

// Asks a running program with `title` to show itself; true when one answered.
bool ActivateRunning(const QString& title);

// The titles of all programs that answer on a channel in the channel folder.
QStringList RunningTitles();

// The serving side of one program. Emits activateRequested / closeRequested; the
// program shows or closes its main window in response.
class InstanceChannel : public QObject {
  Q_OBJECT
 public:
  explicit InstanceChannel(QString title, QObject* parent = nullptr);
  ~InstanceChannel() override;
  // Starts listening (removing a stale channel file that nobody answers on). False
  // when another program already answers on it, or the channel cannot be opened.
  bool Listen();
  // Stops listening (the program's window is going away).
  void Close();
  const QString& title() const { return title_; }

 signals:
  void activateRequested();
  void closeRequested();

 private:
  void OnConnection();
  QString title_;
  QLocalServer* server_ = nullptr;
};

// Serves `channel` for the program's main window: an activation request shows, raises
// and activates it, a close request closes it. Returns what Listen() returns.
bool ServeMainWindow(InstanceChannel& channel, QWidget& window);

// True when a program with exactly this title answers on its channel.
bool IsRunning(const QString& title);
// Asks the program with `title` to close its main window; does not wait.
void RequestClose(const QString& title);

}  // namespace zelin::platform_qt
