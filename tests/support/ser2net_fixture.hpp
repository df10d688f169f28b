#pragma once
// A serial port served by a peer we did not write, for the RFC 2217 interop tests:
//
//   socat -d -d pty,raw,echo=0,link=DIR/device pty,raw,echo=0,link=DIR/line
//   ser2net -n -d -u -P DIR/pid -c DIR/ser2net.yaml
//
// ser2net (4.x, YAML configuration) holds DIR/device as its serial device and serves it
// as telnet(rfc2217) (or raw TCP) on a free TCP port of a loopback address. socat joins
// that pty to DIR/line, which the test opens as "the other end of the cable": bytes a
// client sends through ser2net come out there, and bytes written there reach the
// client. What a client sets (SET-BAUDRATE ...) lands in the device pty's termios,
// which `stty -a -F DIR/device` shows (DeviceStty()).
//
// Usage:
//   Ser2netFixture s2n;                       // nothing runs yet
//   if (auto why = Ser2netFixture::Missing(); !why.empty()) GTEST_SKIP() << why;
//   ASSERT_TRUE(s2n.Start(&error)) << error;  // both programs up, the port accepts
//   connect to s2n.address():s2n.port(), open s2n.line_path() ...
// The destructor stops both programs (SIGTERM, then SIGKILL) and removes DIR.
// Waits are bounded loops on the system clock (they measure nothing).

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "protocol/bytes.hpp"

namespace zelin::testing {

class Ser2netFixture {
 public:
  struct Options {
    bool rfc2217 = true;              // telnet(rfc2217); false: raw TCP
    std::string line = "9600n81";     // the device's settings at start
    Ipv4 address = Ipv4FromOctets(127, 0, 0, 1);  // loopback only
  };

  Ser2netFixture() = default;
  ~Ser2netFixture();
  Ser2netFixture(const Ser2netFixture&) = delete;
  Ser2netFixture& operator=(const Ser2netFixture&) = delete;

  // Empty when ser2net and socat are installed, else a reason to skip the test
  // ("scripts/setup.sh --interop installs them").
  static std::string Missing();

  // Starts socat, waits for both links, writes the configuration, starts ser2net on a
  // free port and waits until it accepts. False with the reason (ser2net's log included).
  bool Start(std::string* error) { return Start(Options{}, error); }
  bool Start(const Options& options, std::string* error);
  void Stop();
  // Stops ser2net alone (socat and the cable stay) and starts it again on the same
  // port, as a server that restarts; the device is opened anew at `line`.
  void StopServer();
  bool StartSer2net(std::string* error);

  Ipv4 address() const { return options_.address; }
  uint16_t port() const { return port_; }
  const std::string& device_path() const { return device_; }  // the pty ser2net holds
  const std::string& line_path() const { return line_; }      // the pty at the cable's far end
  // `stty -a -F device_path()`: "speed 19200 baud; ... cstopb ..." after a client set them.
  std::string DeviceStty() const;
  // The two programs' process ids (-1 when not running), e.g. to read their CPU time.
  pid_t ser2net_pid() const { return ser2net_; }
  pid_t socat_pid() const { return socat_; }

 private:
  Options options_;
  std::string dir_;
  std::string device_, line_;
  uint16_t port_ = 0;
  pid_t socat_ = -1;
  pid_t ser2net_ = -1;
};

}  // namespace zelin::testing
