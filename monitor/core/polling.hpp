#pragma once
// The monitor's data path: locating the watched servers when monitoring starts,
// asking every server for the status of its watched ports at the sampling interval
// (QueryPorts, four ports per request), receiving and decoding the replies on a
// worker thread, and noticing servers that fall silent or answer from a watched
// address with another identity.
//
//   PortPoller        StartMonitoring / StopMonitoring, SendQueries, the two timers
//                     (RunDueTimers), the worker thread; reports through a
//                     PollingObserver and never touches a widget.
//   ReceiveStatusReply / AcceptStatusReply
//                     one reply: wait and read it / judge and store it.
//
// Threads: the caller's thread (the user-interface thread in the program) runs
// StartMonitoring, StopMonitoring, SendQueries and RunDueTimers; the worker thread
// receives. Both work on the configuration in use and the monitor's ServerList; every
// access of either to the status blocks, rate samples, sequence numbers and nonces is
// made under records_mutex(), which other readers of those fields take too. The
// worker never waits for the caller's thread, so the caller may hold the mutex while
// it reads. Server states are read and written with LoadState/StoreState.
// The Transport belongs to the caller's thread (searches, queries, its notices); the
// worker only receives, with protocol's ReceiveDatagram, which keeps no state of the
// Transport and is safe on the sockets that the caller's thread sends on.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "monitor/core/records.hpp"
#include "monitor/core/row_table.hpp"
#include "platform/clock.hpp"
#include "protocol/bytes.hpp"
#include "protocol/transport.hpp"
#include "protocol/types.hpp"
#include "protocol/wire.hpp"

namespace zelin::monitor {

// Status replies of one datagram hold at most this many bytes (4 long blocks).
inline constexpr size_t kStatusReplySize = wire::kQueryReplyMaxSize;
// The sampling timer ticks every interval; the silence timer every 30 seconds.
inline constexpr int64_t kSilencePeriodMs = 30000;
// After a pass in which no reply arrived the worker waits at most this long; a datagram
// on a watched server's socket ends the wait at once (the CPU stays idle either way).
inline constexpr int64_t kIdleSleepMs = 100;
// Locating a watched server: this many searches, each waiting 1 second per socket.
inline constexpr int kLocateAttempts = 3;
inline constexpr int kLocateWaitSeconds = 1;

// Four port indexes of one QueryPorts request (0xFF: place not used).
using PortGroup = std::array<uint8_t, wire::kQueryPlaceCount>;

// The watched ports p < port count of `server`, four to a group, the last group padded
// with 0xFF; none for a server without a watched port.
std::vector<PortGroup> PortGroups(const MonitoredServer& server);

// The 30-byte QueryPorts request for `group`, with the record's sequence number (low
// 16 bits), device type and serial number and a zero digest.
std::array<uint8_t, wire::kQueryPortsSize> BuildQueryPorts(const ServerRecord& record,
                                                           const PortGroup& group);

// What one received datagram did.
enum class ReplyVerdict {
  kSkipped,   // not a status reply, or an error status: the caller reads on
  kNothing,   // refused (status 6), from an address in conflict, or for no watched
              // server: nothing accepted
  kAccepted,  // stored in the blocks of server *server_index
};
struct ReplyOutcome {
  ReplyVerdict verdict = ReplyVerdict::kSkipped;
  uint32_t ports = 0;     // kAccepted: the four port bytes, place k in byte k (lowest first)
  int server_index = -1;  // kAccepted: the watched server whose blocks took the reply
};

// Judges and stores one received datagram (`datagram` holds the bytes kept, at most
// kStatusReplySize; `full_length` is the length that arrived; `sender` its source
// address). A reply naming a watched server by serial number updates that server's
// blocks (whichever socket it came on) and makes it answered; a reply from a watched
// server's address with another serial number puts that server in conflict and leaves
// its values. A port that the reply names in more than one place is taken from its
// first place only (it is reported once). The nonce and the sequence number of
// `record` move on for a refusal, an unmatched reply and an accepted one. Every byte
// is treated as hostile.
// The caller holds records_mutex() when the configuration is shared.
ReplyOutcome AcceptStatusReply(Bytes datagram, size_t full_length, Ipv4 sender,
                               ServerRecord& record, MonitorConfig& config);

// Waits up to `timeout_seconds` (0: only what has arrived) for status replies on the
// record's socket and returns the packed port bytes of the first accepted one, with
// its server in *server_index, or 0 when nothing was accepted. `mutex` (may be null)
// is held while a datagram is judged and stored.
uint32_t ReceiveStatusReply(ServerRecord& record, MonitorConfig& config, int* server_index,
                            int timeout_seconds, Clock& clock, std::mutex* mutex = nullptr);

// What the poller tells the program. Called on the worker thread; implementations
// hand the news to the user-interface thread (queued signals) and never wait for it.
class PollingObserver {
 public:
  virtual ~PollingObserver() = default;
  // Row `row` (port `port` of watched server `server`) holds a new status block. The
  // rate samples still hold the previous reply, so the interval throughput can be
  // formatted now; they move on when this returns. Called under records_mutex().
  virtual void RowUpdated(int row, size_t server, size_t port) = 0;
  // The state of watched server `server` changed: rows first..last take its colour.
  virtual void ServerStateChanged(size_t server, ServerState state, int first_row,
                                  int last_row) = 0;
  // StartMonitoring has located the servers and built the rows; the worker has not
  // started yet. Called on the thread of StartMonitoring: the place to build the list
  // and to write the cells of the servers that did not answer.
  virtual void RowsBuilt() {}
};


// Runs the monitoring of the configuration in use. Borrows the transport (opened from
// local port 5124), the configuration in use, the monitor's ServerList and the
// observer; all must outlive it. The destructor stops monitoring.
class PortPoller {
 public:
  PortPoller(Transport& transport, MonitorConfig& config, ServerList& servers,
             PollingObserver& observer);
  ~PortPoller();
  PortPoller(const PortPoller&) = delete;
  PortPoller& operator=(const PortPoller&) = delete;

  // Stops, locates every watched server (searches that wait: call it where a wait is
  // allowed), builds the rows and, when there is at least one, sends the first queries,
  // starts both timers and the worker thread. False when the thread could not be
  // created (the program says "Create Thread Fail"; the timers run all the same).
  bool StartMonitoring();
  // Stops both timers and the worker thread (waits for it to end).
  void StopMonitoring();
  // Holds the worker between two passes / lets it go on (the configuration sheet).
  void Suspend();
  void Resume();

  // Sends QueryPorts to every watched server that has a record.
  void SendQueries();
  // The sampling tick: sets the throughput gate and sends the queries.
  void SamplingTick();
  // The silence tick: a server in state 1 one of whose watched ports shows the time
  // stamp that the previous silence tick saw becomes silent (-1).
  void SilenceTick();
  // Runs the ticks that are due by the clock and returns the milliseconds of the clock
  // until the next one (-1 when the timers are stopped). A program calls it from one
  // timer of its own; tests call it after moving a fake clock.
  int64_t RunDueTimers();
  // Starts the two timers again after the configuration sheet (if not running).
  void StartTimers();
  void StopTimers() { timers_running_ = false; }

  bool running() const { return worker_.joinable(); }
  bool timers_running() const { return timers_running_; }
  // Set by every sampling tick; cleared when monitoring is refreshed or loaded.
  bool throughput_gate() const { return gate_->load(); }
  void set_throughput_gate(bool on) { gate_->store(on); }
  // Uses the program's gate (which its cells read) instead of the poller's own.
  void UseThroughputGate(std::atomic<bool>& gate) { gate_ = &gate; }

  // The rows of the watched ports, built by StartMonitoring.
  const RowTable& rows() const { return rows_; }
  // The index of watched server `index`'s record in the monitor's ServerList; -1 when
  // it has none (the list was full).
  int RecordOf(size_t index) const { return index < kMaxWatchedServers ? record_[index] : -1; }

  std::mutex& records_mutex() { return mu_; }

 private:
  // Locates every watched server side by side: each of the kLocateAttempts attempts
  // sends a search to every server still silent, in the watched order, then waits
  // kLocateWaitSeconds on every socket at once and hands each reply to the server it
  // answers. Gives each server the state and record that locating it alone would.
  std::array<ServerState, kMaxWatchedServers> LocateAll();
  // Adds `record` to the monitor's ServerList: its index, or -1 when the list is full.
  // A `watched` server's record takes the place of one that no watched server has.
  int AppendRecord(const ServerRecord& record, bool watched);
  bool IsWatchedSerial(uint16_t serial) const;
  void Work();
  void ReportState(size_t index);  // on the worker thread
  // After a pass that took nothing: waits up to kIdleSleepMs, ended at once by a
  // datagram on a watched server's socket or by WakeWorker (on the worker thread).
  void WaitIdle(size_t count);
  // Ends the worker's idle wait (a stop or suspension is pending).
  void WakeWorker();

  Transport& transport_;
  MonitorConfig& config_;
  ServerList& servers_;
  PollingObserver& observer_;
  Clock& clock_;

  RowTable rows_;
  std::array<int, kMaxWatchedServers> record_{};
  std::array<ServerState, kMaxWatchedServers> drawn_{};  // states as last reported

  std::mutex mu_;  // records_mutex()
  std::atomic<bool> own_gate_{false};
  std::atomic<bool>* gate_ = &own_gate_;
  bool timers_running_ = false;
  int64_t next_sampling_ms_ = 0;
  int64_t next_silence_ms_ = 0;

  std::thread worker_;
  std::mutex wake_mu_;
  std::condition_variable wake_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> suspended_{false};
  bool parked_ = false;  // the worker waits while suspended (under wake_mu_)
  int wake_fd_ = -1;     // eventfd that ends the idle wait
};

}  // namespace zelin::monitor
