#pragma once
// Network safety for tests: each test process claims its own /24 block inside
// 127.0.0.0/8 (127.X.Y.0), so that tests running in parallel never hear each
// other's emulated servers. The claim is a UDP socket bound to 127.X.Y.253:65001,
// held for the life of the object.

#include <cstdint>

#include "protocol/bytes.hpp"
#include "protocol/transport.hpp"

namespace zelin::testing {

class LoopbackBlock {
 public:
  LoopbackBlock();
  ~LoopbackBlock();
  LoopbackBlock(const LoopbackBlock&) = delete;
  LoopbackBlock& operator=(const LoopbackBlock&) = delete;

  // 127.X.Y.host
  Ipv4 Address(uint8_t host) const;
  // The address the emulated lab listens on in place of 255.255.255.255: 127.X.Y.255.
  Ipv4 Broadcast() const { return Address(255); }
  // A host interface address of the client side: 127.X.Y.1 (+ n).
  Ipv4 Interface(uint8_t n = 0) const { return Address(static_cast<uint8_t>(1 + n)); }
  // The client transport of a test: the first interface, the broadcast stand-in, and
  // loopback only.
  TransportOptions ClientOptions() const {
    return {.interfaces = {Interface()}, .broadcast = Broadcast(), .loopback_only = true};
  }

 private:
  uint8_t x_ = 0, y_ = 0;
  int claim_ = -1;
};

}  // namespace zelin::testing
