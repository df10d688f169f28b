#pragma once
// The mark of each server in the main window's list.

#include <cstdint>

namespace zelin::portcheck {

enum class ServerMark : uint8_t {
  kNone,         // not set yet
  kReachable,    // status 1
  kOtherSerial,  // status 0: answered with another serial number
  kUnreachable,  // any other status
  kTestPassed,
  kTestFailed,
};

inline ServerMark MarkFromStatus(int32_t status) {
  if (status == 1) return ServerMark::kReachable;
  if (status == 0) return ServerMark::kOtherSerial;
  return ServerMark::kUnreachable;
}

}  // namespace zelin::portcheck
