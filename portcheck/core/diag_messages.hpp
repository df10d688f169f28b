#pragma once
// The diagnose command that starts a server's self-tests and the progress reports
// that the server sends for every step, as records with their byte layouts
// (offsets in protocol/wire.hpp). Plain values; decoders read only the bytes given.

#include <array>
#include <cstdint>
#include <optional>

#include "protocol/bytes.hpp"
#include "protocol/wire.hpp"

namespace zelin::portcheck {

// 10 bytes: 0x0E, test word, port mask (both LE 16), baud rate (LE 32), serial mode.
struct DiagnoseCommand {
  uint16_t test_word = 0;  // wire::kTestInternal | kTestPrinter | kTestTxRx | ...
  uint16_t port_mask = 0;  // bit n: port n + 1
  uint32_t baud_rate = 0;  // bits per second
  uint8_t serial_mode = 0;

  std::array<uint8_t, wire::kDiagnoseSize> Encode() const;
  // nullopt unless exactly 10 bytes starting with 0x0E.
  static std::optional<DiagnoseCommand> Decode(Bytes message);
  bool operator==(const DiagnoseCommand&) const = default;
};

// 7 bytes: 0x0E, item, subitem, result flag, result code, port A, port B. Kept verbatim
// (a test result is such a report with the result flag set).
struct ProgressReport {
  std::array<uint8_t, wire::kProgressReportSize> bytes{wire::kTcpDiagnose};

  uint8_t item() const { return bytes[wire::kReportItem]; }
  uint8_t subitem() const { return bytes[wire::kReportSubitem]; }
  bool has_result() const { return bytes[wire::kReportHasResult] == wire::kReportResultFlag; }
  uint8_t result() const { return bytes[wire::kReportResult]; }
  uint8_t port_a() const { return bytes[wire::kReportPortA]; }
  uint8_t port_b() const { return bytes[wire::kReportPortB]; }
  bool finished() const { return item() == wire::kItemDone; }

  static ProgressReport Make(uint8_t item, uint8_t subitem, bool has_result, uint8_t result,
                             uint8_t port_a, uint8_t port_b = wire::kNoPartner);
  // nullopt unless exactly 7 bytes starting with 0x0E.
  static std::optional<ProgressReport> Decode(Bytes message);
  bool operator==(const ProgressReport&) const = default;
};

}  // namespace zelin::portcheck
