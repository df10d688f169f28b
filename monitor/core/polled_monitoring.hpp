#pragma once
// PolledMonitoring: the Monitoring that the document and the configuration sheet drive,
// made of the PortPoller. Starting shows the configuration in use on the status list
// (every cell once) before the worker runs; the worker then writes the cells of each
// row a reply updated (only those whose text changed) and asks for the rows of a
// server whose state changed to be redrawn, through the StatusDisplay, whose program
// side hands both over to its own thread.
//
// Borrows the program's tables, the transport, the display and the prompter (for
// "Create Thread Fail"); all must outlive it. The program calls RunDueTimers() from a
// timer of its own: it returns when to call again.

#include "monitor/core/monitor_state.hpp"
#include "monitor/core/polling.hpp"
#include "monitor/core/status_display.hpp"
#include "platform/prompter.hpp"
#include "protocol/transport.hpp"

namespace zelin::monitor {

class PolledMonitoring final : public Monitoring, private PollingObserver {
 public:
  PolledMonitoring(MonitorState& state, Transport& transport, StatusDisplay& display,
                   Prompter& prompter);
  ~PolledMonitoring() override;

  void StartMonitoring() override;
  void StopMonitoring() override;
  void Suspend() override;
  void Resume() override;
  void ShowColumnsOnly() override;

  // Runs the due sampling and silence ticks; milliseconds of the clock until the next
  // (-1 while the timers are stopped).
  int64_t RunDueTimers() { return poller_.RunDueTimers(); }
  PortPoller& poller() { return poller_; }

 private:
  void RowUpdated(int row, size_t server, size_t port) override;
  void ServerStateChanged(size_t server, ServerState state, int first_row, int last_row) override;
  void RowsBuilt() override;

  MonitorState& state_;
  StatusDisplay& display_;
  Prompter& prompter_;
  PortPoller poller_;
};

}  // namespace zelin::monitor
