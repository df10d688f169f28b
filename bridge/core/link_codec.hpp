#pragma once
// How a bridged port's bytes travel on its TCP connection. One codec per connection
// (a new connection starts a new Telnet negotiation).
//
//   raw      the program's bytes as they are, both ways; line settings stay local.
//   rfc2217  Telnet with the Com Port Control option: data with IAC doubled, and the
//            line settings as SET-* commands, sent at the start of every connection
//            and whenever the program changes them.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "bridge/core/line_settings.hpp"
#include "bridge/core/port_map.hpp"

namespace zelin::bridge {

class LinkCodec {
 public:
  virtual ~LinkCodec() = default;
  // What opens a new connection, given the line settings at that moment.
  virtual void Start(const LineSettings& settings, std::vector<uint8_t>& out) = 0;
  // The program's bytes for the wire.
  virtual void EncodeData(std::span<const uint8_t> payload, std::vector<uint8_t>& out) = 0;
  // The program changed its settings from `before` to `now`: the commands for what changed.
  virtual void EncodeSettings(const LineSettings& before, const LineSettings& now,
                              std::vector<uint8_t>& out) = 0;
  // Bytes from the server: the program's data go to `data`, negotiation answers to
  // `reply`. Any byte sequence is accepted.
  virtual void Decode(std::span<const uint8_t> in, std::vector<uint8_t>& data,
                      std::vector<uint8_t>& reply) = 0;
};

std::unique_ptr<LinkCodec> MakeCodec(LinkMode mode);

}  // namespace zelin::bridge
