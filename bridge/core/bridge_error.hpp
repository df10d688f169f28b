#pragma once
// The bridge's error codes (StatusDomain::kBridge).

#include <string_view>

#include "platform/status.hpp"

namespace zelin::bridge {

enum class BridgeError : int {
  kNone = 0,
  kPty = 1,       // a pseudo-terminal could not be opened or set up
  kLink = 2,      // the device's link could not be created (a file of that name is in the way)
  kConfig = 3,    // the bridge's settings file does not parse ("PATH:LINE: what")
  kStore = 4,     // the server store could not be read
  kRefused = 5,   // the server address is outside 127.0.0.0/8 while ZELIN_LOOPBACK_ONLY=1
  kConnect = 6,   // the connection to the server failed or was lost
  kSystem = 7,    // a system call the loop needs failed (poll, eventfd, the state file)
};

}  // namespace zelin::bridge

namespace zelin {
template <>
struct StatusCode<bridge::BridgeError> {
  static constexpr StatusDomain kDomain = StatusDomain::kBridge;
  static std::string_view Describe(bridge::BridgeError code);
};
}  // namespace zelin
