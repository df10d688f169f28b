#include "emulator/diag_plan.hpp"

#include <algorithm>

namespace zelin::emulator {
namespace {

// A "Invalid Parameter" result: a printer test asked of a server without a printer port.
constexpr uint8_t kInvalidParameter = 3;
// The find-pair result of a port whose partner is not connected.
constexpr uint8_t kNotConnected = 9;

ReportBytes Report(uint8_t item, uint8_t subitem, bool result, uint8_t code, uint8_t a,
                   uint8_t b) {
  return {wire::kTcpDiagnose, item, subitem, result ? wire::kReportResultFlag : uint8_t{0},
          code,               a,    b};
}

uint8_t CodeOf(const DiagPlan& plan, uint8_t item, uint8_t subitem, uint8_t port) {
  for (const DiagFailure& f : plan.failures)
    if (f.item == item && f.subitem == subitem && (item == wire::kItemPrinter || f.port == port))
      return f.code;
  return 0;
}

}  // namespace

std::vector<ReportBytes> DiagReports(const DiagPlan& plan, uint8_t port_count, uint16_t test_word,
                                     uint16_t port_mask) {
  std::vector<ReportBytes> out;
  const uint8_t ports = std::min<uint8_t>(port_count, static_cast<uint8_t>(wire::kMaxPorts));
  auto selected = [&](uint8_t p) { return p < ports && (port_mask >> p & 1) != 0; };

  if (test_word & wire::kTestInternal) {
    out.push_back(Report(wire::kItemInternal, wire::kSubController, false, 0, 0, wire::kNoPartner));
    for (uint8_t p = 0; p < ports; ++p) {
      if (!selected(p)) continue;
      out.push_back(Report(wire::kItemInternal, wire::kSubLoopback, false, 0, p, wire::kNoPartner));
      out.push_back(Report(wire::kItemInternal, wire::kSubLoopback, true,
                           CodeOf(plan, wire::kItemInternal, wire::kSubLoopback, p), p,
                           wire::kNoPartner));
    }
  }

  constexpr std::array<std::pair<uint16_t, uint8_t>, 4> kSubitems = {{
      {wire::kTestTxRx, wire::kSubTxRx},
      {wire::kTestDtrDsr, wire::kSubDtrDsr},
      {wire::kTestRtsCts, wire::kSubRtsCts},
      {wire::kTestDtrDcd, wire::kSubDtrDcd},
  }};
  const uint16_t external_bits =
      wire::kTestTxRx | wire::kTestDtrDsr | wire::kTestRtsCts | wire::kTestDtrDcd;
  if (test_word & external_bits) {
    std::array<bool, wire::kMaxPorts> done{};
    for (uint8_t p = 0; p < ports; ++p) {
      if (!selected(p) || done[p]) continue;
      done[p] = true;
      uint8_t partner = wire::kNoPartner;
      for (const auto& [a, b] : plan.pairs) {
        if (a == p && selected(b) && !done[b]) partner = b;
        if (b == p && selected(a) && !done[a]) partner = a;
      }
      out.push_back(Report(wire::kItemExternal, wire::kSubFindPair, false, 0, p, wire::kNoPartner));
      if (partner == wire::kNoPartner) {
        out.push_back(
            Report(wire::kItemExternal, wire::kSubFindPair, true, kNotConnected, p, partner));
        continue;
      }
      done[partner] = true;
      out.push_back(Report(wire::kItemExternal, wire::kSubFindPair, true,
                           CodeOf(plan, wire::kItemExternal, wire::kSubFindPair, p), p, partner));
      for (const auto& [bit, subitem] : kSubitems) {
        if ((test_word & bit) == 0) continue;
        out.push_back(Report(wire::kItemExternal, subitem, true,
                             CodeOf(plan, wire::kItemExternal, subitem, p), p, partner));
      }
    }
  }

  if (test_word & wire::kTestPrinter) {
    const uint8_t code = plan.printer ? CodeOf(plan, wire::kItemPrinter, 0, 0) : kInvalidParameter;
    out.push_back(Report(wire::kItemPrinter, 0, true, code, 0, wire::kNoPartner));
  }
  if (plan.noisy_end)
    out.push_back(Report(wire::kItemDone, wire::kSubLoopback, true, 2, 1, 0));
  else
    out.push_back(Report(wire::kItemDone, 0, false, 0, 0, 0));
  if (plan.stop_after >= 0 && static_cast<size_t>(plan.stop_after) < out.size())
    out.resize(static_cast<size_t>(plan.stop_after));
  return out;
}

std::string CheckDiagPlan(const DiagPlan& plan, uint8_t port_count) {
  std::array<bool, wire::kMaxPorts> wired{};
  for (const auto& [a, b] : plan.pairs) {
    if (a >= port_count || b >= port_count)
      return "diag.pairs: port " + std::to_string(std::max(a, b) + 1) + " is beyond the " +
             std::to_string(port_count) + " ports";
    if (a == b || wired[a] || wired[b])
      return "diag.pairs: a port is wired to one other port at most";
    wired[a] = wired[b] = true;
  }
  for (const DiagFailure& f : plan.failures)
    if (f.item != wire::kItemPrinter && f.port >= port_count)
      return "diag.failures: port " + std::to_string(f.port + 1) + " is beyond the " +
             std::to_string(port_count) + " ports";
  return {};
}

}  // namespace zelin::emulator
