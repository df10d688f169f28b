#include "protocol/firmware.hpp"

#include <cstdio>
#include <memory>

#include "protocol/address.hpp"
#include "protocol/frames.hpp"
#include "protocol/tcp_session.hpp"

namespace zelin {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string ProgressText(const ServerRecord& r, const char* tail) {
  const std::string name = r.name();
  const std::string ip = AddressToText(r.ip_address());
  char text[256];
  std::snprintf(text, sizeof text,
                "Server Name : %s \n\nSerial No.: %d\n\nServer IP address : %s \n\n%s",
                name.c_str(), static_cast<int>(r.serial_number()), ip.c_str(), tail);
  return text;
}

// The file's length, or -1 when it cannot be taken or does not fit in 32 bits.
long long FileLength(std::FILE* f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long len = std::ftell(f);
  if (len < 0 || std::fseek(f, 0, SEEK_SET) != 0) return -1;
  if (static_cast<unsigned long long>(len) > 0xFFFFFFFFull) return -1;
  return len;
}

}  // namespace

std::string_view StatusCode<DownloadResult>::Describe(DownloadResult code) {
  static constexpr CodeText<DownloadResult> kTexts[] = {
      {DownloadResult::kPasswordTooLong, "password longer than 16 characters"},
      {DownloadResult::kSocketFailed, "no TCP socket"},
      {DownloadResult::kConnectFailed, "no connection to the server"},
      {DownloadResult::kLoginRefused, "login refused"},
      {DownloadResult::kFileFailed, "the file cannot be read"},
      {DownloadResult::kNoChallengeOrReady, "the server did not take the download"},
      {DownloadResult::kNoVerdict, "the server did not accept the image"},
  };
  return TextOf(kTexts, code);
}

Status DownloadFirmware(Transport& t, const ServerRecord& record, const std::string& path,
                        int timeout_seconds, ProgressSink& progress) {
  using R = DownloadResult;
  if (record.password.size() > wire::kMaxPasswordLength) return R::kPasswordTooLong;

  TcpSession session(t.clock(), t.notices(), t.options());
  if (Status connected =
          session.Connect(record.ip_address(), wire::kServerTcpPort, timeout_seconds);
      !connected)
    return connected.Is(TcpSessionError::kSocketFailed) ? R::kSocketFailed : R::kConnectFailed;
  if (Status login = session.Login(record.password, timeout_seconds); !login)
    return login.Is(TcpSessionError::kNoChallenge) ? R::kNoChallengeOrReady : R::kLoginRefused;

  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return R::kFileFailed;
  const long long length = FileLength(file.get());
  if (length < 0) return R::kFileFailed;
  std::setvbuf(file.get(), nullptr, _IOFBF, 1 << 16);

  std::array<uint8_t, wire::kTcpReceiveBufferSize> reply{};
  if (!session.SendAll(frames::BuildDownloadRequest(static_cast<uint32_t>(length))))
    return R::kNoChallengeOrReady;
  // An empty image has nothing between "ready" and the verdict, so the server may send
  // both back to back and they can arrive in one receive; take only "ready" then and
  // leave the verdict for its own receive.
  const size_t ready_window = length == 0 ? wire::kTcpReplySize : reply.size();
  if (!frames::IsTcpPair(
          session.ReceiveBytes(MutableBytes(reply.data(), ready_window), timeout_seconds),
          wire::kTcpDownload, wire::kTcpDownloadReady))
    return R::kNoChallengeOrReady;

  progress.Show(ProgressText(record, "\tDownloading..."));
  const long long tenth = length / 10;
  long long k = 1;
  long long sent = 0;
  std::array<uint8_t, wire::kFirmwarePieceSize> piece;
  while (true) {
    const size_t got = std::fread(piece.data(), 1, piece.size(), file.get());
    if (got == 0) break;
    if (Status written = session.SendAll(Bytes(piece.data(), got)); !written) {
      t.NoticeSocketError(written);
      progress.Close();
      return R::kConnectFailed;  // the connection broke during the transfer
    }
    sent += static_cast<long long>(got);
    if (sent > tenth * k) {
      progress.Step();
      ++k;
    }
  }
  if (std::ferror(file.get())) {
    progress.Close();
    return R::kFileFailed;
  }

  progress.SetText(ProgressText(record, "Server is upgrading, Please wait..."));
  const Bytes verdict = session.ReceiveBytes(reply, timeout_seconds);
  session.Close();
  progress.Close();
  if (!frames::IsTcpPair(verdict, wire::kTcpDownload, wire::kTcpDownloadAccepted))
    return R::kNoVerdict;
  return {};
}

}  // namespace zelin
