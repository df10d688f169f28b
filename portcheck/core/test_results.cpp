#include "portcheck/core/test_results.hpp"

#include "platform/text_format.hpp"

namespace zelin::portcheck {

uint16_t TestWord(uint32_t test_flags, uint32_t server_flags) {
  uint32_t word = test_flags & 0xFFFF;
  if ((test_flags & kTestExternal) == 0) word &= ~kExternalSubitems;
  return static_cast<uint16_t>(word | (server_flags & 0xFFFF));
}

DiagnoseCommand BuildDiagnoseCommand(const DiagConfig& c, int server) {
  const auto& s = c.settings[static_cast<size_t>(server)];
  DiagnoseCommand cmd;
  cmd.test_word = TestWord(c.test_flags, s.server_flags);
  cmd.port_mask = static_cast<uint16_t>(s.port_mask);
  cmd.baud_rate = BaudRate(c.baud_index);
  cmd.serial_mode = c.serial_mode;
  return cmd;
}

bool ResultStore::Keep(const TestResult& r) {
  if (count >= kCapacity) return false;
  results[count++] = r;
  return true;
}

void ResultStore::MarkFailure(uint8_t marker) {
  results[0] = TestResult{};
  results[0].bytes[1] = marker;
  count = 1;
}

uint8_t ResultStore::failure() const {
  if (count == 0) return 0;
  const uint8_t item = results[0].item();
  return item == kMarkConnectFail || item == kMarkLoginFail || item == kMarkSerialFail ? item : 0;
}

std::string_view TestEndText(TestEnd end) {
  switch (end) {
    case TestEnd::kConnectionLost: return "Connection lost!";
    case TestEnd::kSilent: return "Server stopped reporting!";
    case TestEnd::kInterrupted: return "Interrupted!";
    default: return "";
  }
}

std::string_view ItemName(uint8_t item) {
  switch (item) {
    case kItemInternal: return "Internal test";
    case kItemExternal: return "External test";
    case kItemPrinter: return "Printer test";
    default: return "Unknow";
  }
}

std::string_view SubitemName(uint8_t subitem) {
  switch (subitem) {
    case kSubController: return "Controllor test";
    case kSubLoopback: return "Loopback test";
    case kSubFindPair: return "Find port pair";
    case kSubTxRx: return "Tx <-> Rx";
    case kSubDtrDsr: return "DTR <-> DSR";
    case kSubRtsCts: return "RTS <-> CTS";
    case kSubDtrDcd: return "DTR <-> DCD";
    default: return "Unknow";
  }
}

std::string DescribeStep(const ProgressReport& r) {
  const int a = r.port_a() + 1;
  const int b = r.port_b() + 1;
  if (r.item() == kItemInternal || r.item() == kItemExternal) {
    switch (r.subitem()) {
      case kSubLoopback: return Format("port %d Internal test", a);
      case kSubFindPair: return Format("port %d finding connection", a);
      case kSubTxRx: return Format("port %d - %d Tx/Rx test", a, b);
      case kSubDtrDsr: return Format("port %d - %d DTR/DSR test", a, b);
      case kSubRtsCts: return Format("port %d - %d RTS/CTS test", a, b);
      case kSubDtrDcd: return Format("port %d - %d DTR/DCD test", a, b);
      default: return "Unrecognized subitem!";
    }
  }
  if (r.item() == kItemPrinter) return "Printer test";
  return "Unrecognized test item";
}

std::string DescribeError(int code) {
  switch (code) {
    case 1: return "Receive data length error";
    case 2: return "Receive data content error";
    case 3: return "Invalid Parameter";
    case 9: return "External test port not connected";
    case 10: return "Error port number";
    case 11: return "Port B receive data length error";
    case 12: return "Port B receive data content error";
    case 13: return "Port A receive data length error";
    case 14: return "Port A receive data content error";
    case 15: return "Invalid Parameter";
    case 21: return "Port A DTR off but Port B DSR on";
    case 22: return "Port A DTR on but Port B DSR off";
    case 23: return "Port B DTR off but Port A DSR on";
    case 24: return "Port B DTR on but Port A DSR off";
    case 31: return "Port A RTS off but Port B CTS on";
    case 32: return "Port A RTS on but Port B CTS off";
    case 33: return "Port B RTS off but Port A CTS on";
    case 34: return "Port B RTS on but Port A CTS off";
    case 41: return "Port A DTR off but Port B DCD on";
    case 42: return "Port A DTR on but Port B DCD off";
    case 43: return "Port B DTR off but Port A DCD on";
    case 44: return "Port B DTR on but Port A DCD off";
    case 51: return "Printer not ready";
    case 52: return "Printer paper out";
    case 53: return "Printer write timeout";
    default: return Format("Unknow error %d!", code);
  }
}

std::string ErrorCodeText(int code) { return Format("E%03d", code); }

uint32_t BuildPairTable(const ResultStore& store, PairTable& t) {
  t.count = 0;
  t.port_a.fill(kNoPort);
  t.port_b.fill(kNoPort);
  for (auto& row : t.cells) row.fill(kNotTested);
  if (store.failure() != 0) return 0;
  const size_t n = std::min<size_t>(store.count, ResultStore::kCapacity);
  for (size_t i = 0; i < n; ++i) {
    const TestResult& r = store.results[i];
    if (r.item() != kItemExternal) continue;
    int entry = -1;
    for (uint32_t e = 0; e < t.count; ++e) {
      if (t.port_a[e] == r.port_a() && t.port_b[e] == r.port_b()) {
        entry = static_cast<int>(e);
        break;
      }
    }
    if (r.subitem() == kSubFindPair) {
      if (entry < 0 && t.count < PairTable::kCapacity) {
        t.port_a[t.count] = r.port_a();
        t.port_b[t.count] = r.port_b();
        ++t.count;
      }
      continue;
    }
    if (entry < 0) continue;
    auto& row = t.cells[static_cast<size_t>(entry)];
    switch (r.subitem()) {
      case kSubTxRx: row[PairTable::kTxRx] = r.result(); break;
      case kSubRtsCts: row[PairTable::kRtsCts] = r.result(); break;
      case kSubDtrDsr: row[PairTable::kDtrDsr] = r.result(); break;
      case kSubDtrDcd: row[PairTable::kDtrDcd] = r.result(); break;
      default: break;
    }
  }
  return t.count;
}

std::string TestTimeLine(const std::tm& t) {
  return Format("(Test Time : %02d/%02d/%02d %02d:%02d:%02d)------------------------",
                t.tm_mon + 1, t.tm_mday, t.tm_year % 100, t.tm_hour, t.tm_min, t.tm_sec);
}

}  // namespace zelin::portcheck
