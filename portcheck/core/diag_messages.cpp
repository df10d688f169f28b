#include "portcheck/core/diag_messages.hpp"

namespace zelin::portcheck {

std::array<uint8_t, wire::kDiagnoseSize> DiagnoseCommand::Encode() const {
  std::array<uint8_t, wire::kDiagnoseSize> b{};
  b[0] = wire::kTcpDiagnose;
  PutLe16(b, wire::kDiagTestWord, test_word);
  PutLe16(b, wire::kDiagPortMask, port_mask);
  PutLe32(b, wire::kDiagBaudRate, baud_rate);
  b[wire::kDiagSerialMode] = serial_mode;
  return b;
}

std::optional<DiagnoseCommand> DiagnoseCommand::Decode(Bytes m) {
  if (m.size() != wire::kDiagnoseSize || m[0] != wire::kTcpDiagnose) return std::nullopt;
  return DiagnoseCommand{GetLe16(m, wire::kDiagTestWord), GetLe16(m, wire::kDiagPortMask),
                         GetLe32(m, wire::kDiagBaudRate), m[wire::kDiagSerialMode]};
}

ProgressReport ProgressReport::Make(uint8_t item, uint8_t subitem, bool has_result,
                                    uint8_t result, uint8_t port_a, uint8_t port_b) {
  ProgressReport r;
  r.bytes = {wire::kTcpDiagnose, item,   subitem, has_result ? wire::kReportResultFlag : uint8_t{0},
             result,             port_a, port_b};
  return r;
}

std::optional<ProgressReport> ProgressReport::Decode(Bytes m) {
  if (m.size() != wire::kProgressReportSize || m[0] != wire::kTcpDiagnose) return std::nullopt;
  ProgressReport r;
  std::copy(m.begin(), m.end(), r.bytes.begin());
  return r;
}

}  // namespace zelin::portcheck
