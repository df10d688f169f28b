#pragma once
// What the bridge tests share: a TCP echo server on a loopback address that can be
// closed and reopened like a restarting device server, the device a program opens, and
// a fixture with a store, a settings file and a bridge on a scaled clock.

#include <gtest/gtest.h>
#include <termios.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/core/bridge.hpp"
#include "protocol/rfc2217.hpp"
#include "protocol/bytes.hpp"
#include "store/server_config.hpp"
#include "tests/store/store_util.hpp"
#include "tests/support/loopback.hpp"

namespace zelin::testing {

// Echoes every byte on each accepted connection. Close() drops the listener and every
// connection; Listen() opens the listener again. With `telnet` it is the server side of
// RFC 2217: it greets, echoes the payload, records the client's COM-PORT commands and
// answers them as a device server does (a baud rate above `max_baud`, when not 0, is
// answered with max_baud, as a server that cannot go faster).
class EchoServer {
 public:
  EchoServer(Ipv4 address, uint16_t port, bool telnet = false, uint32_t max_baud = 0);
  ~EchoServer();
  void Close() { SetListening(false); }
  void Listen() { SetListening(true); }
  int accepted() const { return accepted_; }
  // Every byte received so far, over all connections.
  std::vector<uint8_t> Received();
  // The client's COM-PORT commands so far, and for each how many data bytes (over all
  // connections) had been received before it.
  std::vector<rfc2217::ComEvent> Commands();
  std::vector<size_t> CommandsAt();
  // For each accepted connection, how many data bytes had been received before it.
  std::vector<size_t> AcceptsAt();
  // Sends `bytes` as they are to every connection (from the server's thread).
  void Inject(std::vector<uint8_t> bytes);

 private:
  void SetListening(bool on);
  void Loop();
  Ipv4 address_;
  uint16_t port_;
  bool telnet_;
  uint32_t max_baud_;
  std::vector<rfc2217::ComEvent> commands_;
  std::vector<size_t> commands_at_;
  std::vector<size_t> accepts_at_;
  std::vector<uint8_t> inject_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool want_listening_ = true;
  bool listening_ = false;
  std::atomic<bool> quit_{false};
  std::atomic<int> accepted_{0};
  std::vector<uint8_t> received_;
  std::thread thread_;
};

// Collects the bridge's notices (printed when a test fails).
class NoticeLog final : public NoticeSink {
 public:
  void Notice(NoticeLevel, std::string_view text) override { lines.emplace_back(text); }
  void BusyBegin() override {}
  void BusyEnd() override {}
  std::vector<std::string> lines;
};

// The python3 that runs pyserial, a client we did not write, in the interop tests.
inline constexpr const char* kPython = "/usr/bin/python3";
// Whether kPython runs and imports `module` (such as "serial.rfc2217").
bool PythonHasModule(const std::string& module);

// A program's descriptor of a bridged device (non-blocking, raw).
int OpenDevice(const std::filesystem::path& link);
// Writes `out` to the device and reads from it at the same time, running the bridge,
// until `expect` bytes came back (or time ran out); returns what came.
std::vector<uint8_t> Exchange(bridge::Bridge& b, int fd, const std::vector<uint8_t>& out,
                              size_t expect);
std::vector<uint8_t> Pattern(size_t n, uint8_t seed);
// Sets the device's speed (both ways), adds the control flags `set` (such as
// CSTOPB | CRTSCTS) and takes away `clear`, as a program's tcsetattr does; `*applied`, when
// given, gets the settings. Fatal failures: call it inside ASSERT_NO_FATAL_FAILURE.
void SetLine(int fd, speed_t speed, tcflag_t set = 0, tcflag_t clear = 0,
             termios* applied = nullptr);

class BridgeFixture : public ::testing::Test {
 protected:
  BridgeFixture();
  ~BridgeFixture() override;
  // A QX408 at 127.X.Y.10 with the given ports (0-based) mapped to the COM numbers.
  ServerConfig Server(std::vector<std::pair<int, uint8_t>> ports) const;
  void SaveStore(const std::vector<ServerConfig>& table);
  void WriteConfig(const std::string& text);
  // A bridge over the fixture's files (started; fails the test when it cannot start).
  void StartBridge();
  // Runs the bridge until the port of `com` is connected.
  bool WaitConnected(const std::string& com);
  // Saves `table`, starts the bridge, waits for `com` to connect and opens its device as
  // `*fd`. Fatal failures: call it inside ASSERT_NO_FATAL_FAILURE.
  void StartConnected(const std::vector<ServerConfig>& table, const std::string& com, int* fd);
  const bridge::PortStatus* Port(const std::string& com);

  LoopbackBlock block_;
  TempDir dir_;
  Ipv4 server_ip_;
  ScaledClock clock_{10};
  NoticeLog notices_;
  bridge::BridgeOptions options_;
  std::vector<ServerConfig> saved_;
  std::unique_ptr<bridge::Bridge> bridge_;
  std::vector<bridge::PortStatus> ports_;
};

}  // namespace zelin::testing
