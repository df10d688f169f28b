// The device side of the diagnostic commands on a logged-in TCP session: the port
// status and the diagnose command, answered by a stream of progress reports that
// follows the server's test plan.

#include "emulator/device.hpp"

namespace zelin::emulator {
namespace {

// 0x0F: 0x0F, length 64 (big-endian), 16 status words (LE), 0xFFFFFFFF for a closed
// port; the plan's open ports report 0.
TcpAction PortStatus(TcpContext& ctx) {
  const DeviceState& st = ctx.device.state();
  std::vector<uint8_t> reply(wire::kPortStatusReplySize);
  reply[0] = wire::kTcpPortStatus;
  PutBe16(reply, wire::kPortStatusLength, wire::kPortStatusDataSize);
  for (size_t p = 0; p < wire::kMaxPorts; ++p) {
    const bool open = p < st.port_count && (st.diag.open_ports >> p & 1) != 0;
    PutLe32(reply, wire::kPortStatusData + 4 * p, open ? 0u : wire::kPortClosed);
  }
  ctx.out.insert(ctx.out.end(), reply.begin(), reply.end());
  return TcpAction::kContinue;
}

// 0x0E + test word, port mask, baud rate, serial mode: no immediate answer; the
// progress reports follow one step apart.
TcpAction Diagnose(TcpContext& ctx) {
  DeviceState& st = ctx.device.mutable_state();
  const uint16_t test_word = GetLe16(ctx.request, wire::kDiagTestWord);
  const uint16_t port_mask = GetLe16(ctx.request, wire::kDiagPortMask);
  auto reports = DiagReports(st.diag, st.port_count, test_word, port_mask);
  const bool closes = st.diag.close_after >= 0;
  if (closes && reports.size() > static_cast<size_t>(st.diag.close_after))
    reports.resize(static_cast<size_t>(st.diag.close_after));
  for (const ReportBytes& r : reports)
    ctx.session.Schedule(st.diag.step_ms, std::vector<uint8_t>(r.begin(), r.end()));
  if (closes) ctx.session.Schedule(st.diag.step_ms, {});  // nothing: the connection closes
  ++st.diagnoses;
  ctx.verdict = "diagnose: " + std::to_string(reports.size()) + " reports";
  return TcpAction::kContinue;
}

}  // namespace

void RegisterDiagTcpHandlers(TcpDispatch& t) {
  t.Register({wire::kTcpPortStatus, 1, PortStatus});
  t.Register({wire::kTcpDiagnose, wire::kDiagnoseSize, Diagnose});
}

}  // namespace zelin::emulator
