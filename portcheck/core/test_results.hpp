#pragma once
// What a test run keeps and how its steps read: the diagnose command built from the
// configuration, the results kept per server (progress reports that carry a result,
// diag_messages.hpp), the texts of steps and error codes, and the table of external
// port pairs built from the results.
//
// Thread safety: values; the results of a run are written by the test worker only
// while the Test Status window keeps the user-interface thread away from them.

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "portcheck/core/diag_config.hpp"
#include "portcheck/core/diag_messages.hpp"
#include "protocol/wire.hpp"

namespace zelin::portcheck {

// Items and subitems: those of the progress reports.
using enum wire::ReportItem;
using enum wire::ReportSubitem;
// Failure markers in the item byte of a server that could not be tested.
enum FailureMarker : uint8_t { kMarkConnectFail = 40, kMarkLoginFail = 41, kMarkSerialFail = 42 };

inline constexpr uint8_t kNoPort = wire::kNoPartner;
inline constexpr uint8_t kNotTested = 0xFF;

using TestResult = ProgressReport;

// The test word: the low 16 bits of TestFlags, without the external subitems when the
// external test is off, OR the low 16 bits of the server flags (the printer bit).
uint16_t TestWord(uint32_t test_flags, uint32_t server_flags);
DiagnoseCommand BuildDiagnoseCommand(const DiagConfig& config, int server);

// How a server's test ended when the server did not send its end report: the
// connection closed, no report came within the run's silence limit, or the run was
// cancelled (Cancel, an interrupt) before the server's test ended.
enum class TestEnd : uint8_t { kComplete = 0, kConnectionLost, kSilent, kInterrupted };
// "Connection lost!", "Server stopped reporting!", "Interrupted!" ("" for kComplete).
std::string_view TestEndText(TestEnd end);

// Results of one server in arrival order (at most 60), or a failure marker; with how
// its test ended, whatever the results gathered before.
struct ResultStore {
  static constexpr size_t kCapacity = 60;
  uint32_t count = 0;
  std::array<TestResult, kCapacity> results{};
  TestEnd end = TestEnd::kComplete;

  void Clear() {
    count = 0;
    end = TestEnd::kComplete;
  }
  // Keeps a result; false when the store is full (the result is dropped).
  bool Keep(const TestResult& r);
  // Count 1 with `marker` (40, 41, 42) in the item byte of the first record.
  void MarkFailure(uint8_t marker);
  // The marker 40, 41 or 42, or 0 when the store holds results.
  uint8_t failure() const;
};

// "Internal test", "External test", "Printer test", else "Unknow".
std::string_view ItemName(uint8_t item);
// The names 1..7 ("Controllor test" ... "DTR <-> DCD"); "Unknow" for any other subitem,
// as for an unknown item.
std::string_view SubitemName(uint8_t subitem);
// The step a report describes, ports 1-based ("port 1 - 2 Tx/Rx test").
std::string DescribeStep(const ProgressReport& report);
// The text of a result code; "Unknow error %d!" for a code without one.
std::string DescribeError(int code);
// "E%03d".
std::string ErrorCodeText(int code);

// External port pairs of one server. Every byte but the count starts as 0xFF; a cell
// is 0 passed, 0xFF not tested, else an error code. Columns: Tx/Rx, RTS/CTS, DTR/DSR,
// DTR/DCD.
struct PairTable {
  static constexpr size_t kCapacity = 16;
  enum Column { kTxRx = 0, kRtsCts = 1, kDtrDsr = 2, kDtrDcd = 3 };
  uint32_t count = 0;
  std::array<uint8_t, kCapacity> port_a{};
  std::array<uint8_t, kCapacity> port_b{};
  std::array<std::array<uint8_t, 4>, kCapacity> cells{};
};
// Fills `table` from the external results of `store` and returns the pair count.
uint32_t BuildPairTable(const ResultStore& store, PairTable& table);

// "(Test Time : MM/DD/YY HH:MM:SS)------------------------" for a local time.
std::string TestTimeLine(const std::tm& local);

}  // namespace zelin::portcheck
