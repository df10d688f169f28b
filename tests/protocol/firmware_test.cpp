// Firmware download against a tiny TCP server on a loopback address.
#include "protocol/firmware.hpp"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "protocol/address.hpp"
#include "protocol/md5.hpp"
#include "protocol/socket_address.hpp"
#include "protocol/tcp_session.hpp"
#include "tests/protocol/fixtures.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/scripted_prompter.hpp"

namespace zelin {
namespace {

using testing::Hex;
using V = std::vector<uint8_t>;

// Listens on address:4000 and plays the server's side of one session. Each reply
// is configurable; what the client sent is recorded.
class FirmwareServer {
 public:
  V challenge = Hex("14 04 0a 0b 0c 0d");
  V login_result = Hex("00 01");
  V ready = Hex("0d 00");
  V verdict = Hex("0d 01");

  V login_request, login_answer, download_request, image;
  // After "ready" the server reads nothing more until `release` is set.
  bool stall_image = false;
  std::atomic<bool> release{false};
  bool released = false;  // the client gave up before the server ended the stall

  explicit FirmwareServer(Ipv4 address) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in sa = SocketAddress(address, wire::kServerTcpPort);
    if (::bind(listen_fd_, AsSockaddr(sa), sizeof sa) != 0 ||
        ::listen(listen_fd_, 1) != 0)
      throw std::runtime_error("FirmwareServer: cannot listen");
  }
  ~FirmwareServer() {
    if (thread_.joinable()) thread_.join();
    ::close(listen_fd_);
  }

  void Start() {
    thread_ = std::thread([this] { Run(); });
  }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  // Reads exactly n bytes (or until the client closes / 5 s pass).
  static V Read(int fd, size_t n) {
    V out;
    uint8_t buf[65536];
    while (out.size() < n) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) break;
      const ssize_t got = ::recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
      if (got <= 0) break;
      out.insert(out.end(), buf, buf + got);
    }
    return out;
  }
  static bool Send(int fd, const V& v) {
    return ::send(fd, v.data(), v.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(v.size());
  }

  void Run() {
    pollfd p{listen_fd_, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return;
    const int fd = ::accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) return;
    login_request = Read(fd, 1);
    if (Send(fd, challenge)) {
      login_answer = Read(fd, 17);
      if (login_answer.size() == 17 && Send(fd, login_result)) {
        download_request = Read(fd, 5);
        const uint32_t length = download_request.size() == 5 ? GetLe32(download_request, 1) : 0;
        if (download_request.size() == 5 && length == 0) {
          // Nothing to wait for: "ready" and the verdict leave in one segment.
          V both = ready;
          both.insert(both.end(), verdict.begin(), verdict.end());
          Send(fd, both);
        } else if (download_request.size() == 5 && Send(fd, ready)) {
          for (int i = 0; stall_image && !release && i < 3000; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          if (stall_image) {
            released = release.load();
            ::close(fd);
            return;
          }
          image = Read(fd, length);
          Send(fd, verdict);
        }
      }
    }
    // Wait for the client to close.
    Read(fd, 1);
    ::close(fd);
  }

  int listen_fd_ = -1;
  std::thread thread_;
};

class FirmwareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t = std::make_unique<Transport>(clock, notices, Deliverable::Manager,
                                    block.ClientOptions());
    record = testing::Record({.serial = 4660, .name = "Lab", .ip = block.Address(10)});
    record.password = "pw";
    dir = std::filesystem::temp_directory_path() /
          ("zelin_fw_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::string WriteFile(size_t size) {
    V bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    const auto path = (dir / ("image_" + std::to_string(size) + ".rom")).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
    return path;
  }
  std::string Text(const char* tail) const {
    return "Server Name : Lab \n\nSerial No.: 4660\n\nServer IP address : " +
           AddressToText(block.Address(10)) + " \n\n" + tail;
  }

  testing::LoopbackBlock block;
  ScaledClock clock{20};
  testing::ScriptedPrompter prompter;
  PrompterNotices notices{prompter};
  testing::RecordingProgress progress;
  std::unique_ptr<Transport> t;
  ServerRecord record;
  std::filesystem::path dir;
};

TEST_F(FirmwareTest, DownloadsWholeFilesAndStepsTheProgressByTenths) {
  struct Case {
    size_t size;
    int steps;
  };
  for (const Case c : {Case{0, 0}, Case{2048, 1}, Case{20000, 9}, Case{5, 1}}) {
    SCOPED_TRACE(c.size);
    const std::string path = WriteFile(c.size);
    FirmwareServer server(block.Address(10));
    server.Start();
    testing::RecordingProgress p;
    EXPECT_EQ(DownloadFirmware(*t, record, path, 20, p), DownloadResult::kSuccess);
    server.Join();
    EXPECT_EQ(server.login_request, Hex("14"));
    const Md5Digest d = Md5({AsBytes("pw"), Hex("0a 0b 0c 0d")});
    V answer = Hex("00");
    answer.insert(answer.end(), d.begin(), d.end());
    EXPECT_EQ(server.login_answer, answer);
    V request = Hex("0d 00 00 00 00");
    PutLe32(request, 1, static_cast<uint32_t>(c.size));
    EXPECT_EQ(server.download_request, request);
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(server.image, V(std::istreambuf_iterator<char>(in), {}));
    EXPECT_EQ(p.steps, c.steps);
    EXPECT_EQ(p.shows, 1);
    EXPECT_EQ(p.closes, 1);
    EXPECT_EQ(p.texts, (std::vector<std::string>{Text("\tDownloading..."),
                                                 Text("Server is upgrading, Please wait...")}));
  }
}

TEST_F(FirmwareTest, AnEmptyPasswordAnswersWithTheDigestOfTheNonceAlone) {
  record.password.clear();
  FirmwareServer server(block.Address(10));
  server.Start();
  EXPECT_EQ(DownloadFirmware(*t, record, WriteFile(10), 20, progress), DownloadResult::kSuccess);
  server.Join();
  const Md5Digest d = Md5({Hex("0a 0b 0c 0d")});
  EXPECT_EQ(V(server.login_answer.begin() + 1, server.login_answer.end()), V(d.begin(), d.end()));
}

TEST_F(FirmwareTest, LoginAndHandshakeFailures) {
  const std::string path = WriteFile(100);
  struct Case {
    const char* what;
    V FirmwareServer::*field;
    V value;
    DownloadResult expected;
    bool shown;
  };
  const std::vector<Case> cases = {
      {"refused login", &FirmwareServer::login_result, Hex("00 00"), DownloadResult::kLoginRefused,
       false},
      {"long login result", &FirmwareServer::login_result, Hex("00 01 00"),
       DownloadResult::kLoginRefused, false},
      {"7-byte challenge", &FirmwareServer::challenge, Hex("14 04 01 02 03 04 05"),
       DownloadResult::kNoChallengeOrReady, false},
      {"wrong challenge tag", &FirmwareServer::challenge, Hex("14 05 01 02 03 04"),
       DownloadResult::kNoChallengeOrReady, false},
      {"not ready", &FirmwareServer::ready, Hex("0d 01"), DownloadResult::kNoChallengeOrReady,
       false},
      {"bad verdict", &FirmwareServer::verdict, Hex("0d 02"), DownloadResult::kNoVerdict, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FirmwareServer server(block.Address(10));
    server.*(c.field) = c.value;
    server.Start();
    testing::RecordingProgress p;
    EXPECT_EQ(DownloadFirmware(*t, record, path, 20, p), c.expected);
    server.Join();
    EXPECT_EQ(p.shows, c.shown ? 1 : 0);
    EXPECT_EQ(p.closes, p.shows) << "a shown window is always closed";
  }
}

TEST_F(FirmwareTest, FailuresBeforeTheTransfer) {
  record.password = std::string(17, 'p');
  EXPECT_EQ(DownloadFirmware(*t, record, WriteFile(1), 20, progress),
            DownloadResult::kPasswordTooLong);
  record.password = "pw";

  // Nobody listens: the connection cannot be made.
  EXPECT_EQ(DownloadFirmware(*t, record, WriteFile(1), 1, progress),
            DownloadResult::kConnectFailed);

  // A server outside the loopback range is refused before connecting.
  ServerRecord remote = record;
  remote.set_ip_address(Ipv4FromOctets(192, 168, 1, 10));
  EXPECT_EQ(DownloadFirmware(*t, remote, WriteFile(1), 1, progress),
            DownloadResult::kConnectFailed);
  ASSERT_EQ(prompter.shown().size(), 1u);
  EXPECT_NE(prompter.shown()[0].text.find("192.168.1.10"), std::string::npos);

  // A missing file is found out after the login.
  FirmwareServer server(block.Address(10));
  server.Start();
  EXPECT_EQ(DownloadFirmware(*t, record, (dir / "missing.rom").string(), 20, progress),
            DownloadResult::kFileFailed);
  server.Join();
  EXPECT_EQ(progress.shows, 0);
}

// A server that stops reading in the middle of the image: the send gives up after the
// time-out instead of blocking for ever, and the progress window is closed.
TEST_F(FirmwareTest, AServerThatStopsReadingEndsTheTransfer) {
  const std::string path = WriteFile(24u << 20);  // more than the socket buffers hold
  FirmwareServer server(block.Address(10));
  server.stall_image = true;
  server.Start();
  EXPECT_EQ(DownloadFirmware(*t, record, path, 20, progress), DownloadResult::kConnectFailed);
  server.release = true;
  server.Join();
  EXPECT_TRUE(server.released) << "the client only stopped when the server closed";
  EXPECT_EQ(progress.shows, 1);
  EXPECT_EQ(progress.closes, 1);
}

// The session's receive on a real connection: what the peer sent, 0 when it closed, and
// the socket error itself (errno as the code) when it reset the connection.
TEST_F(FirmwareTest, SessionReceiveTellsAClosedPeerFromAReset) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in sa = SocketAddress(block.Address(10), wire::kServerTcpPort);
  ASSERT_EQ(::bind(listener, AsSockaddr(sa), sizeof sa), 0);
  ASSERT_EQ(::listen(listener, 2), 0);
  std::array<uint8_t, 8> buf{};
  TcpSession session(clock, notices, block.ClientOptions());
  auto connect_and_accept = [&] {
    EXPECT_TRUE(session.Connect(block.Address(10), wire::kServerTcpPort, 20));
    return ::accept(listener, nullptr, nullptr);
  };

  int peer = connect_and_accept();
  ASSERT_GE(peer, 0);
  ASSERT_EQ(::send(peer, "\x0d\x00", 2, MSG_NOSIGNAL), 2);
  EXPECT_EQ(session.ReceiveMessage(buf, 20), size_t{2});
  ::close(peer);  // an orderly close
  EXPECT_EQ(session.ReceiveMessage(buf, 20), size_t{0});

  peer = connect_and_accept();
  ASSERT_GE(peer, 0);
  const linger reset{1, 0};
  ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(peer);  // the connection is reset
  const Result<size_t> got = session.ReceiveMessage(buf, 20);
  ASSERT_FALSE(got);
  EXPECT_EQ(got.status().domain(), StatusDomain::kSocket);
  EXPECT_EQ(got.status().code(), ECONNRESET);
  EXPECT_TRUE(session.ReceiveBytes(buf, 20).empty()) << "the reset leaves nothing to read";

  session.Close();
  EXPECT_EQ(session.ReceiveMessage(buf, 20).status().code(), ENOTSOCK);
  EXPECT_EQ(session.SendAll(Bytes(buf)).code(), ENOTSOCK);
  ::close(listener);
}

TEST_F(FirmwareTest, LargeImageThroughput) {
  const size_t size = 16u << 20;
  const std::string path = WriteFile(size);
  FirmwareServer server(block.Address(10));
  server.Start();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(DownloadFirmware(*t, record, path, 20, progress), DownloadResult::kSuccess);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  server.Join();
  EXPECT_EQ(server.image.size(), size);
  EXPECT_EQ(progress.steps, 10);
  // Reported, never asserted.
  RecordProperty("MBps", std::to_string(static_cast<int>(size / seconds / 1e6)));
  std::printf("firmware download: %.1f MB/s\n", static_cast<double>(size) / seconds / 1e6);
}

}  // namespace
}  // namespace zelin
