#pragma once
// The TCP command session on server port 4000: challenge-response login and
// firmware download with its verdict.

#include <string>

#include "platform/notices.hpp"  // ProgressSink
#include "platform/status.hpp"
#include "protocol/transport.hpp"
#include "protocol/types.hpp"

namespace zelin {

// The download's codes, as the product numbers them.
enum class DownloadResult : int {
  kSuccess = 0,
  kPasswordTooLong = -1,
  kSocketFailed = -2,
  kConnectFailed = -3,
  kLoginRefused = -4,
  kFileFailed = -5,
  kNoChallengeOrReady = -6,
  kNoVerdict = -7,
};
template <>
struct StatusCode<DownloadResult> {
  static constexpr StatusDomain kDomain = StatusDomain::kDownload;
  static std::string_view Describe(DownloadResult code);
};

// Downloads the file at `path` to the record's server (its IP address, port 4000),
// driving `progress` (show, set text, step, close). Each reply wait lasts up to
// timeout_seconds of the transport's clock. Uses the transport's options (loopback
// only) and notice sink (socket error texts, refusals, busy waits); opens no UDP
// socket. Success, or a Status of the DownloadResult family.
Status DownloadFirmware(Transport& t, const ServerRecord& record, const std::string& path,
                        int timeout_seconds, ProgressSink& progress);

}  // namespace zelin
