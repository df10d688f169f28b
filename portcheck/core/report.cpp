#include "portcheck/core/report.hpp"

#include "platform/text_format.hpp"
#include "protocol/address.hpp"

namespace zelin::portcheck {
namespace {

using Style = ReportText::Style;

constexpr std::string_view kInternalTitle = "Internal LoopBack Test                ";
constexpr std::string_view kExternalTitle = "External LoopBack Test                ";
constexpr std::string_view kPrinterTitle = "Printer Test                ";
constexpr std::string_view kRule = "=========================";

std::string_view FailureText(uint8_t marker) {
  switch (marker) {
    case kMarkConnectFail: return "Connect fail!";
    case kMarkLoginFail: return "Login fail!";
    default: return "Check serial no fail!";
  }
}

std::string Padded(std::string s, size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

// Ports without a partner, as "Port ( 3 5 )".
std::string UnpairedLine(const PairTable& t) {
  std::string s = "Port ( ";
  for (uint32_t e = 0; e < t.count; ++e)
    if (t.port_b[e] == kNoPort) s += Format("%d ", t.port_a[e] + 1);
  return s + ")";
}

bool HasUnpaired(const PairTable& t) {
  for (uint32_t e = 0; e < t.count; ++e)
    if (t.port_b[e] == kNoPort) return true;
  return false;
}

class Layouter {
 public:
  explicit Layouter(ReportLayout& out) : out_(out) {}
  void Put(int line, int column, std::string text, Style style = Style::kNormal, int code = 0) {
    out_.texts.push_back({line, column, std::move(text), style, code});
  }
  // A result cell: OK, --- (external cells only) or the error code.
  void Cell(int line, int column, uint8_t value) {
    if (value == 0)
      Put(line, column, "OK", Style::kOk);
    else if (value == kNotTested)
      Put(line, column, "---");
    else
      Put(line, column, ErrorCodeText(value), Style::kErrorCode, value);
  }

 private:
  ReportLayout& out_;
};

// The sections of a server's report (see report.hpp).
struct ReportSections {
  bool internal = false;
  bool external = false;
  bool printer = false;
};

ReportSections SectionsOf(const DiagConfig& c, int server) {
  const auto& s = c.settings[static_cast<size_t>(server)];
  ReportSections r;
  r.internal = (c.test_flags & kTestInternal) != 0 && s.port_mask != 0;
  r.external = (c.test_flags & kExternalSubitems) != 0 && s.port_mask != 0;
  r.printer = (s.server_flags & kTestPrinter) != 0;
  return r;
}

}  // namespace

std::string CommunicationLine(const DiagConfig& c) {
  std::string s = Format("Communication parameter=%u ", BaudRate(c.baud_index));
  s += ParityText(c.serial_mode);
  s += DataBitsText(c.serial_mode);
  s += StopBitsText(c.serial_mode, c.test_flags);
  return s;
}

ReportLayout LayoutReport(const DiagConfig& c, int server, const ResultStore& store,
                          std::string_view time_line) {
  ReportLayout out;
  Layouter l(out);
  const ServerImage& image = c.images[static_cast<size_t>(server)];
  l.Put(1, 0,
        Format("Zelin Server Pro %s  %s (%s)", std::string(ModelName(image.device_type())).c_str(),
               image.name().c_str(), AddressToText(image.ip_address()).c_str()));
  l.Put(2, 0, "Firmware version = " + FirmwareVersionText(image.firmware_version()));
  l.Put(3, 0, CommunicationLine(c));
  if (const uint8_t marker = store.failure()) {
    l.Put(5, 0, std::string(FailureText(marker)), Style::kFailure);
    l.Put(6, 0, std::string(time_line));
    out.lines = 9;
    return out;
  }
  const ReportSections sections = SectionsOf(c, server);
  const size_t kept = std::min<size_t>(store.count, ResultStore::kCapacity);
  int n = 4;
  if (sections.internal) {
    l.Put(5, 0, std::string(kInternalTitle), Style::kBold);
    l.Put(6, 0, std::string(kRule));
    l.Put(7, 13, "[Tx/Rx]");
    n = 8;
    for (size_t i = 0; i < kept; ++i) {
      const TestResult& r = store.results[i];
      if (r.item() != kItemInternal) continue;
      l.Put(n, 4, Format("Port %d", r.port_a() + 1));
      if (r.result() == 0)
        l.Put(n, 15, "OK", Style::kOk);
      else
        l.Put(n, 15, ErrorCodeText(r.result()), Style::kErrorCode, r.result());
      ++n;
    }
  }
  if (sections.external) {
    PairTable table;
    BuildPairTable(store, table);
    l.Put(n + 1, 0, std::string(kExternalTitle), Style::kBold);
    l.Put(n + 2, 0, std::string(kRule));
    n += 2;
    if (HasUnpaired(table)) {
      l.Put(n + 1, 4, UnpairedLine(table), Style::kFailure);
      l.Put(n + 2, 4, "Not connected, skip test.", Style::kFailure);
      n += 3;
    }
    l.Put(n + 1, 3, " Port A-B [Tx/Rx]   [RTS/CTS]  [DTR/DSR]  [DTR/DCD]");
    n += 2;
    for (uint32_t e = 0; e < table.count; ++e) {
      if (table.port_b[e] == kNoPort) continue;
      l.Put(n, 9, Format("%d-%d ", table.port_a[e] + 1, table.port_b[e] + 1));
      static constexpr std::array<int, 4> kColumns{15, 26, 37, 48};
      for (size_t k = 0; k < 4; ++k) l.Cell(n, kColumns[k], table.cells[e][k]);
      ++n;
    }
  }
  if (sections.printer) {
    l.Put(n + 1, 0, std::string(kPrinterTitle), Style::kBold);
    l.Put(n + 2, 0, std::string(kRule));
    n += 3;
    for (size_t i = 0; i < kept; ++i) {
      const TestResult& r = store.results[i];
      if (r.item() != kItemPrinter) continue;
      if (r.result() == 0)
        l.Put(n, 16, "OK", Style::kOk);
      else
        l.Put(n, 15, ErrorCodeText(r.result()), Style::kErrorCode, r.result());
      ++n;
    }
  }
  if (store.end != TestEnd::kComplete) {
    // The test ended early: what came before stands, and why it ended is said.
    l.Put(n + 1, 0, std::string(TestEndText(store.end)), Style::kFailure);
    n += 2;
  }
  l.Put(n + 1, 0, std::string(time_line));
  out.lines = n + 3;
  return out;
}

std::string TextReport(const DiagConfig& c, std::span<const ResultStore> stores,
                       std::string_view time_line) {
  std::string out;
  auto line = [&out](std::string_view s) {
    out += s;
    out += "\r\n";
  };
  for (int i = 0; i < c.server_count && static_cast<size_t>(i) < stores.size(); ++i) {
    const ServerImage& image = c.images[static_cast<size_t>(i)];
    const ResultStore& store = stores[static_cast<size_t>(i)];
    line("");
    line(Format("Zelin Server %s (%s)", image.name().c_str(),
                AddressToText(image.ip_address()).c_str()));
    line("Firmware version = " + FirmwareVersionText(image.firmware_version()));
    line(CommunicationLine(c));
    line("");
    if (store.count < 1) {
      if (store.end != TestEnd::kComplete) line(TestEndText(store.end));
      continue;
    }
    if (const uint8_t marker = store.failure()) {
      line(FailureText(marker));
      continue;
    }
    const ReportSections sections = SectionsOf(c, i);
    const size_t kept = std::min<size_t>(store.count, ResultStore::kCapacity);
    if (sections.internal) {
      line(kInternalTitle);
      line("===========================");
      line("                [Tx/Rx]");
      for (size_t k = 0; k < kept; ++k) {
        const TestResult& r = store.results[k];
        if (r.item() != kItemInternal) continue;
        line(Padded(Format("    Port %d", r.port_a() + 1), 17) +
             (r.result() == 0 ? std::string("OK") : ErrorCodeText(r.result())));
      }
    }
    line("");
    if (sections.external) {
      PairTable table;
      BuildPairTable(store, table);
      line(kExternalTitle);
      line(kRule);
      if (HasUnpaired(table)) {
        line("    " + UnpairedLine(table));
        line("    Not connected, skip test.");
        line("");
      }
      line("    Port A-B    [Tx/Rx]   [RTS/CTS]  [DTR/DSR]  [DTR/DCD]");
      for (uint32_t e = 0; e < table.count; ++e) {
        if (table.port_b[e] == kNoPort) continue;
        std::string row = "         " +
                          Padded(Format("%d-%d", table.port_a[e] + 1, table.port_b[e] + 1), 8);
        for (uint8_t cell : table.cells[e]) {
          if (cell == 0)
            row += " OK        ";
          else if (cell == kNotTested)
            row += " ---       ";
          else
            row += ErrorCodeText(cell) + "       ";
        }
        line(row);
      }
    }
    line("");
    if (sections.printer) {
      line(kPrinterTitle);
      line(kRule);
      for (size_t k = 0; k < kept; ++k) {
        const TestResult& r = store.results[k];
        if (r.item() != kItemPrinter) continue;
        line(r.result() == 0 ? std::string("               ok")
                             : "                 " + ErrorCodeText(r.result()));
      }
    }
    if (store.end != TestEnd::kComplete) line(TestEndText(store.end));
  }
  line("");
  line(time_line);
  return out;
}

}  // namespace zelin::portcheck
