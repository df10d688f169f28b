#pragma once
// What an emulated server's self-tests find: which of its ports are wired to each
// other outside it, whether it has a printer port, which steps fail with which codes,
// whether it stops reporting part way, and which ports are open. From a plan and a
// diagnose command, DiagReports gives the progress reports the server sends, in order.
//
// Plain values; no sockets. Port numbers here are 0-based port indexes.

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "protocol/wire.hpp"

namespace zelin::emulator {

// One step that fails: the report of `item`/`subitem` for port A `port` carries `code`.
// For the printer test the port is ignored.
struct DiagFailure {
  uint8_t item = wire::kItemInternal;
  uint8_t subitem = wire::kSubLoopback;
  uint8_t port = 0;
  uint8_t code = 0;
  bool operator==(const DiagFailure&) const = default;
};

struct DiagPlan {
  std::vector<std::pair<uint8_t, uint8_t>> pairs;  // ports wired together
  bool printer = false;                            // the server has a printer port
  std::vector<DiagFailure> failures;
  int stop_after = -1;    // reports sent before the server falls silent; -1: all of them
  bool noisy_end = false;  // the end report (item 0) carries a result flag, a code and ports
  int close_after = -1;   // reports sent before the server closes the connection; -1: never
  int64_t step_ms = 20;   // lab-clock time between two reports
  uint16_t open_ports = 0;  // bit n: port n + 1 is open (GetPortStatus)
  bool operator==(const DiagPlan&) const = default;
};

using ReportBytes = std::array<uint8_t, wire::kProgressReportSize>;

// The reports for a diagnose command on a server with `port_count` ports: the internal
// test of each selected port (test word bit 0x02), the external test (any of bits
// 0x10-0x80: find each selected port's partner, then each selected subitem per pair),
// the printer test (0x04), and the end report (item 0). Ports outside the port count
// are not tested. With stop_after >= 0 only that many reports are given.
std::vector<ReportBytes> DiagReports(const DiagPlan& plan, uint8_t port_count, uint16_t test_word,
                                     uint16_t port_mask);

// Checks a plan against the server's port count; "" when usable, else the problem.
std::string CheckDiagPlan(const DiagPlan& plan, uint8_t port_count);

}  // namespace zelin::emulator
