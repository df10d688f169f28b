#pragma once
// One line of the emulator's request log: every datagram and TCP request that a
// lab received, what it made of it and the bytes (as hex, the first 512 bytes).
// Tests read the entries in-process; devsim writes them as JSON lines.

#include <cstdint>
#include <string>

#include "protocol/bytes.hpp"

namespace zelin::emulator {

inline constexpr size_t kLogHexBytes = 512;

struct LogEntry {
  int64_t time_ms = 0;        // lab clock, since Start
  std::string server;         // the serial number in decimal, or "broadcast"
  std::string proto = "udp";  // "udp" or "tcp"
  std::string to;             // address:port the request arrived at
  std::string from;           // address:port of the sender
  int code = -1;              // first byte, -1 for an empty datagram
  size_t length = 0;          // bytes received
  int sequence = -1;          // request sequence number, -1 when the request has none
  std::string verdict;        // "ok", "refused:...", "replayed", "ignored:...", ...
  int status = -1;            // status of the reply, -1 when nothing was answered
  std::string hex;            // the first kLogHexBytes bytes

  bool ignored() const { return verdict.rfind("ignored", 0) == 0; }
  std::string ToJson() const;  // one line, no newline
};

std::string HexOf(Bytes bytes, size_t limit = kLogHexBytes);

}  // namespace zelin::emulator
