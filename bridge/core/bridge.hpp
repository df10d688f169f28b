#pragma once
// The port bridge: every mapped port of the server store becomes a local serial device
// (a pty with a link named after its COM port) whose bytes travel to the server port
// over TCP, raw or with RFC 2217 (per server, from the bridge's settings file).
//
// One poll loop carries every port: per port the pty master and its socket, plus an
// eventfd that Stop() signals and the store watch. Nothing spins: the loop sleeps until
// a descriptor is ready or the next deadline of a port (a retry, a connect time-out,
// the settings check of a connected port), of the store poll or of the state file.
//
// The store watch: inotify on the folders of the store and of the settings file (the
// hive, the stamp "<hive>.changed" that FreshPort writes, the settings file); where
// inotify cannot watch, their modification times are compared every `store_poll_ms`.
// A change reloads both files and applies the difference only: removed ports close
// their device, ports whose server, port or mode changed reconnect on the same device,
// new ports open theirs, and the other ports are not touched. A store or settings file
// that cannot be read is reported and the ports stay as they are.
//
// The control socket (a Unix datagram socket, mode 0600 in the folder of the devices)
// takes one request a datagram and answers the sender: "signal COM5 [dtr=on|off]
// [rts=on|off] [break=MS]" sets the server port's modem lines or sends a BREAK, which a
// program cannot do through a pty; the answer is "ok" or "error: why".
//
// The state file is rewritten atomically (temporary file and rename) when a port's
// state, settings or error changes, and at most every `state_write_ms` when only its
// byte counts moved; it is removed when the bridge ends.
//
// Threads: one thread runs Start/Step/Run; Stop() may be called from any thread or a
// signal handler.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "bridge/core/port_link.hpp"
#include "bridge/core/port_map.hpp"
#include "platform/clock.hpp"
#include "platform/notices.hpp"
#include "platform/status.hpp"

namespace zelin::bridge {

struct BridgeOptions {
  std::filesystem::path store;   // the hive file
  std::filesystem::path config;  // the bridge's settings file
  std::filesystem::path dir;     // where the device links go
  std::filesystem::path state;   // the state file; empty: none
  std::filesystem::path control;  // the control socket (zelinctl bridge signal); empty: none
  bool loopback_only = false;
  LinkLimits limits;
  int64_t store_poll_ms = 1000;
  int64_t state_write_ms = 1000;
  int64_t reload_delay_ms = 50;  // changes closer together than this are read once
};

// The defaults of the program: the store from ResolveRegistryPath(store_option),
// "bridge.conf" beside it, links in $XDG_RUNTIME_DIR/zelin (else /tmp/zelin-UID), the
// state file "bridge-state.json" and the control socket "bridge.ctl" there; ZELIN_LOOPBACK_ONLY=1 sets loopback_only.
BridgeOptions DefaultOptions(std::string_view store_option = {});

// Makes the folder of the device links and the state file, mode 0700, and refuses one
// that is a link, belongs to another user or that others may write in (a folder under
// /tmp could have been planted by someone else).
Status PrepareRuntimeDir(const std::filesystem::path& dir);

class Bridge {
 public:
  Bridge(BridgeOptions options, Clock& clock, NoticeSink& notices);
  ~Bridge();
  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;

  // Opens the loop's descriptors and the store watch and applies the store. Fails only
  // when the loop cannot run; a store that cannot be read is reported and watched.
  Status Start();

  // One round of the loop, waiting at most `max_wait_ms` of the clock. False once
  // Stop() was called.
  bool Step(int64_t max_wait_ms);
  // Steps for `ms` of the clock (or until Stop()).
  void RunFor(int64_t ms);
  // Steps until `done()` holds (true) or `ms` of the clock passed (false).
  bool RunUntil(const std::function<bool()>& done, int64_t ms);
  // Steps until Stop().
  void Run();
  void Stop();

  // Rereads the settings file and the store and applies the difference.
  Status Reload();

  std::vector<PortStatus> Ports() const;  // by COM number
  const BridgeOptions& options() const { return options_; }

 private:
  void HandleWatch();
  void HandleControl();
  std::string Command(std::string_view request);
  bool StoreFilesChanged();
  void WriteState(int64_t now);

  BridgeOptions options_;
  Clock& clock_;
  NoticeSink& notices_;
  BridgeConfig config_;
  std::map<int, std::unique_ptr<PortLink>> links_;  // by COM number
  int wake_ = -1;
  int inotify_ = -1;
  int control_ = -1;
  bool stopped_ = false;
  int64_t reload_due_ = INT64_MAX;
  int64_t next_stat_poll_ = INT64_MAX;
  std::vector<int64_t> stamps_;  // modification times seen by the stat poll
  bool state_dirty_ = true;
  uint64_t written_bytes_ = 0;  // byte total in the state file as last written
  int64_t next_state_write_ = 0;
  std::vector<pollfd> fds_;
};

}  // namespace zelin::bridge
