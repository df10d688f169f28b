// The device side of the commands on a logged-in TCP session.

#include "emulator/device.hpp"

namespace zelin::emulator {
namespace {

// 0x0D + image length (LE): answer "ready", then the session streams the image and
// answers with the verdict of the server's firmware rule.
TcpAction Download(TcpContext& ctx) {
  const uint32_t length = GetLe32(ctx.request, wire::kTcpDownloadLength);
  ctx.out.push_back(wire::kTcpDownload);
  ctx.out.push_back(wire::kTcpDownloadReady);
  ctx.session.BeginImage(length);
  ctx.verdict = "ready for " + std::to_string(length) + " bytes";
  return TcpAction::kContinue;
}

}  // namespace

void RegisterStandardTcpHandlers(TcpDispatch& t) {
  t.Register({wire::kTcpDownload, wire::kTcpDownloadRequestSize, Download});
}

}  // namespace zelin::emulator
