// The device side of the commands on a logged-in TCP session.

#include "emulator/device.hpp"

namespace zelin::emulator {
namespace {

// 0x0D + image length (LE): answer "ready", then the session streams the image and
// answers with the verdict of the server's firmware rule. A length the server cannot
// take (0, or above the rule's max_size) gets "not ready" and no image is expected.
TcpAction Download(TcpContext& ctx) {
  const uint32_t length = GetLe32(ctx.request, wire::kTcpDownloadLength);
  const FirmwareRule& rule = ctx.device.state().firmware_rule;
  if (length == 0 || length > rule.max_size) {
    ctx.out.push_back(wire::kTcpDownload);
    ctx.out.push_back(kDownloadNotReady);
    ctx.verdict = "not ready: " + (length == 0 ? std::string("an empty image")
                                               : std::to_string(length) + " bytes is above " +
                                                     std::to_string(rule.max_size));
    return TcpAction::kContinue;
  }
  ctx.out.push_back(wire::kTcpDownload);
  ctx.out.push_back(wire::kTcpDownloadReady);
  ctx.session.BeginImage(length);
  ctx.verdict = "ready for " + std::to_string(length) + " bytes";
  return TcpAction::kContinue;
}

}  // namespace

void RegisterStandardTcpHandlers(TcpDispatch& t) {
  t.Register({wire::kTcpDownload, wire::kTcpDownloadRequestSize, Download});
  RegisterDiagTcpHandlers(t);
}

}  // namespace zelin::emulator
