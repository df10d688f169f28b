#pragma once
// How a bridged port's bytes travel on its TCP connection. One codec per connection
// (a new connection starts a new Telnet negotiation).
//
//   raw      the program's bytes as they are, both ways; line settings stay local.
//   rfc2217  Telnet with the Com Port Control option: data with IAC doubled, and the
//            line settings as SET-* commands. The port (port_link) sends the whole set
//            once the server has agreed to the option and holds the program's data
//            until then; after that, the commands of each change in the order of the
//            data around it. What the server says back (its answers to SET-*, line and
//            modem state, flow control suspend/resume) is kept in a ServerReport.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "bridge/core/line_settings.hpp"
#include "bridge/core/port_map.hpp"

namespace zelin::bridge {

enum class Agreement : uint8_t { kPending, kAgreed, kRefused };

// What the server said about its port (rfc2217).
struct ServerReport {
  bool suspended = false;    // FLOWCONTROL-SUSPEND in force: the client sends no data
  bool modem_known = false;  // a NOTIFY-MODEMSTATE came
  uint8_t modem_state = 0;   // its value: CTS 0x10, DSR 0x20, RI 0x40, CD 0x80
  uint8_t line_state = 0;    // the last NOTIFY-LINESTATE
  std::string refused;       // settings the server answered with another value, "" if none
  bool operator==(const ServerReport&) const = default;
};

// "cts=1 dsr=1 ri=0 cd=1", or "" when the server reported nothing.
std::string DescribeModem(const ServerReport& r);

class LinkCodec {
 public:
  virtual ~LinkCodec() = default;
  // What opens a new connection (the Telnet greeting; nothing when raw).
  virtual void Start(std::vector<uint8_t>& out) = 0;
  // Whether the server has agreed to carry line settings (raw: kRefused at once, it never
  // will; rfc2217: pending until the server answers WILL COM-PORT).
  virtual Agreement agreement() const = 0;
  // The whole set of settings, with the masks of the notifications wanted.
  virtual void EncodeAll(const LineSettings& settings, std::vector<uint8_t>& out) = 0;
  // The program's bytes for the wire.
  virtual void EncodeData(std::span<const uint8_t> payload, std::vector<uint8_t>& out) = 0;
  // The program changed its settings from `before` to `now`: the commands for what changed.
  virtual void EncodeSettings(const LineSettings& before, const LineSettings& now,
                              std::vector<uint8_t>& out) = 0;
  // PURGE-DATA and a single SET-CONTROL value (rfc2217; nothing when raw).
  virtual void EncodePurge(uint8_t what, std::vector<uint8_t>& out) = 0;
  virtual void EncodeControl(uint8_t value, std::vector<uint8_t>& out) = 0;
  // Bytes from the server: the program's data go to `data`, negotiation answers to
  // `reply`. Any byte sequence is accepted.
  virtual void Decode(std::span<const uint8_t> in, std::vector<uint8_t>& data,
                      std::vector<uint8_t>& reply) = 0;
  virtual const ServerReport& report() const = 0;
};

std::unique_ptr<LinkCodec> MakeCodec(LinkMode mode);

}  // namespace zelin::bridge
