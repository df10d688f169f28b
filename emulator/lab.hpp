#pragma once
// A lab of emulated device servers on loopback addresses (or, inside a network
// namespace made for it, private-range ones: LabSpec::network_namespace), served by one worker
// thread that polls every socket:
//  - each server binds its own address, UDP port 1029 and TCP port 4000;
//  - the lab binds the broadcast stand-in address, UDP port 1029, and hands every
//    datagram arriving there to every server; each answers from its own socket;
//  - replies pass through the server's injected faults (drop, delay, duplicate,
//    stale) on their way out;
//  - each server's serial ports listen on their own TCP ports (emulator/serial_ports.hpp);
//  - after SaveAndRestart a server applies its staged settings, stays silent for the
//    restart time and rebinds at its new address; after an accepted firmware image it
//    restarts the same way but drops its staged settings.
//
// Ownership: the Lab owns its sockets, devices and worker thread; Stop() (or the
// destructor) joins the thread and closes everything.
// Thread safety: every public method may be called from any thread while the lab
// runs; they take the lab's lock. Handler tables and the log sink are set before Start.
// Limits: at most 32 servers; 64 clients with authentication state per server;
// 8 TCP connections per server; the in-memory log keeps the last 4096 entries.

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "emulator/device.hpp"
#include "emulator/lab_spec.hpp"
#include "emulator/request_log.hpp"
#include "emulator/serial_ports.hpp"
#include "platform/clock.hpp"

namespace zelin::emulator {

inline constexpr size_t kLogCapacity = 4096;
inline constexpr size_t kMaxConnectionsPerServer = 8;

struct LabStats {
  uint64_t datagrams = 0;        // received on any UDP socket
  uint64_t ignored = 0;          // datagrams no server answered
  uint64_t replies_sent = 0;     // datagrams sent, copies included
  uint64_t replies_dropped = 0;  // replies withheld by the drop fault
  uint64_t tcp_connections = 0;  // accepted
};

class Lab {
 public:
  // `desc` must have passed CompleteAndCheck (the constructor throws
  // std::invalid_argument otherwise). `clock` must outlive the Lab.
  explicit Lab(LabSpec desc, Clock& clock = SystemClock());
  ~Lab();
  Lab(const Lab&) = delete;
  Lab& operator=(const Lab&) = delete;

  // The command tables; extend them before Start.
  UdpDispatch& udp_handlers() { return udp_; }
  TcpDispatch& tcp_handlers() { return tcp_; }
  // Receives every log entry as a JSON line (on the worker thread). Set before Start.
  void SetLogSink(std::function<void(const std::string&)> sink) { sink_ = std::move(sink); }

  // Binds every socket and starts the worker. False with the reason when an
  // address cannot be bound (nothing stays open then).
  bool Start(std::string* error);
  void Stop();
  bool running() const { return thread_.joinable(); }

  const LabSpec& desc() const { return spec_; }

  // Snapshots of the servers' state, in lab order / by serial number (the first
  // server with that number).
  std::vector<DeviceState> Snapshots() const;
  std::optional<DeviceState> Snapshot(uint16_t serial) const;

  std::vector<LogEntry> Log() const;
  void ClearLog();
  LabStats Stats() const;

  // Fault injection at run time. False when no server has that serial number.
  bool SetFaults(uint16_t serial, const FaultSettings& faults);
  // Any other change of a running server's state (password, firmware rule, tables,
  // ...), made under the lab's lock. The applied address must not be changed here:
  // addresses move with SetAddress and SaveAndRestart, which rebind the sockets.
  bool Modify(uint16_t serial, const std::function<void(DeviceState&)>& change);

  // Restarts the server as a power cycle does: staged settings are dropped, every
  // connection closes, nothing is answered or accepted for the restart time. False
  // when no server has that serial number.
  bool Restart(uint16_t serial);
  // The settings of serial port `port` (from 1) as the server's clients set them.
  std::optional<rfc2217::SerialSettings> PortSettings(uint16_t serial, int port) const;

 private:
  struct Server {
    std::unique_ptr<Device> device;
    int udp = -1;
    int listener = -1;
    int64_t restart_end_ms = 0;
    std::mt19937_64 fault_rng;
    std::unique_ptr<SerialPorts> serial;
  };
  struct Connection {
    int fd = -1;
    size_t server = 0;
    Endpoint peer;
    std::unique_ptr<TcpSession> session;
    std::vector<uint8_t> out;
    size_t out_pos = 0;
    bool close_after_flush = false;
    bool draining = false;  // its server is restarting: input is discarded
    std::deque<std::pair<int64_t, std::vector<uint8_t>>> later;  // (due, bytes), due ascending
  };
  struct Outgoing {
    size_t server = 0;
    Endpoint to;
    std::vector<uint8_t> bytes;
    bool restart = false;  // not a datagram: begin the server's restart
  };
  class Owners;

  void Run();
  void CloseAll();
  bool BindServer(Server& s, std::string* error);
  void UnbindServer(Server& s);
  void OnUdp(int fd, std::optional<size_t> server, std::vector<uint8_t>& buffer);
  // `arrived_on`: the interface index a broadcast came in through (0 when unknown).
  void HandleDatagram(std::optional<size_t> server, Bytes datagram, Endpoint from, Ipv4 to,
                      int arrived_on = 0);
  void Deliver(size_t server, Endpoint to, UdpOutcome& outcome);
  void OnAccept(size_t server);
  void OnConnection(Connection& c, std::vector<uint8_t>& buffer);
  void Flush(Connection& c);
  void BeginRestart(size_t server, bool apply_staged);
  void RunTimers();
  void AddLog(LogEntry entry);
  int64_t Now() const { return clock_.NowMs() - start_ms_; }

  LabSpec spec_;
  Clock& clock_;
  UdpDispatch udp_;
  TcpDispatch tcp_;
  std::function<void(const std::string&)> sink_;
  std::unique_ptr<Owners> owners_;

  mutable std::mutex mu_;
  std::vector<Server> servers_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::multimap<int64_t, Outgoing> outbox_;  // by due time; equal times keep their order
  std::deque<LogEntry> log_;
  LabStats stats_;
  int broadcast_fd_ = -1;
  int wake_[2] = {-1, -1};
  int64_t start_ms_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace zelin::emulator
