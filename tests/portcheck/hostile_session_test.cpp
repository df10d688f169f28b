// The session against a peer that answers every request with random, truncated or
// oversized messages (fixed seed): every command refuses them and nothing reads past
// what arrived (the test build runs under the address and undefined-behaviour checks).

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <random>
#include <thread>

#include "platform/notices.hpp"
#include "portcheck/core/session.hpp"
#include "protocol/socket_address.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/scripted_prompter.hpp"

namespace zelin::portcheck {
namespace {

// Listens on address:4000; answers each chunk it receives with 0 to 3 random messages
// whose lengths sit around the ones the client expects (2, 6, 7, 67) or far beyond.
class HostilePeer {
 public:
  explicit HostilePeer(Ipv4 address, uint64_t seed) : rng_(seed) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in sa = SocketAddress(address, wire::kServerTcpPort);
    ok_ = ::bind(listener_, AsSockaddr(sa), sizeof sa) == 0 && ::listen(listener_, 4) == 0;
    thread_ = std::thread([this] { Serve(); });
  }
  ~HostilePeer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  bool ok() const { return ok_; }

 private:
  std::vector<uint8_t> Message() {
    static constexpr size_t kLengths[] = {1, 2, 3, 5, 6, 7, 8, 66, 67, 68, 80, 300, 5000};
    const size_t n = kLengths[rng_() % std::size(kLengths)];
    // Often the right first bytes, so that the length and content checks are reached.
    static constexpr uint8_t kFirst[] = {0x14, 0x00, 0x0F, 0x0E, 0x0D};
    std::vector<uint8_t> m;
    m.reserve(n);
    m.push_back(rng_() % 2 == 0 ? kFirst[rng_() % std::size(kFirst)] : static_cast<uint8_t>(rng_()));
    if (n > 1)
      m.push_back(rng_() % 2 == 0 ? static_cast<uint8_t>(rng_() % 3 == 0 ? 0x04 : 0x00)
                                  : static_cast<uint8_t>(rng_()));
    while (m.size() < n) m.push_back(static_cast<uint8_t>(rng_()));
    return m;
  }
  void Serve() {
    std::vector<int> clients;
    while (!stop_) {
      std::vector<pollfd> fds{{listener_, POLLIN, 0}};
      for (int c : clients) fds.push_back({c, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
      if (fds[0].revents & POLLIN) clients.push_back(::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC));
      for (size_t i = 1; i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        uint8_t buf[4096];
        if (::recv(fds[i].fd, buf, sizeof buf, 0) <= 0) {
          ::close(fds[i].fd);
          std::erase(clients, fds[i].fd);
          continue;
        }
        for (uint64_t k = rng_() % 4; k > 0; --k) {
          const auto m = Message();
          (void)::send(fds[i].fd, m.data(), m.size(), MSG_NOSIGNAL);
        }
      }
    }
    for (int c : clients) ::close(c);
  }
  std::mt19937_64 rng_;
  int listener_ = -1;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(HostileSessionTest, RandomTruncatedAndOversizedRepliesAreRefused) {
  testing::LoopbackBlock block;
  HostilePeer peer(block.Address(20), 20261207);
  ASSERT_TRUE(peer.ok());
  ScaledClock clock(1000);
  testing::ScriptedPrompter prompter;
  PrompterNotices notices(prompter);
  DiagSession session(clock, notices, block.ClientOptions());
  const std::string image = ::testing::TempDir() + "/portcheck_hostile.rom";
  std::ofstream(image, std::ios::binary) << std::string(3000, 'z');
  int logins = 0, statuses = 0, downloads = 0;
  for (int round = 0; round < 60; ++round) {
    ASSERT_TRUE(session.Open(block.Address(20)));
    logins += session.SessionLogin("pw").ok();
    if (auto words = session.GetPortStatus(); words.ok()) ++statuses;
    (void)session.SendDiagnose({wire::kTestInternal, 1, 9600, 3});
    for (int k = 0; k < 3; ++k) {
      if (auto r = session.ReceiveProgressReport(); r.ok()) {
        EXPECT_EQ(r->bytes[0], wire::kTcpDiagnose);
      }
    }
    downloads += session.FirmwareDownload(image, 1).ok();
  }
  // Random bytes almost never form a valid answer; what matters is that none crashed.
  EXPECT_LT(logins + statuses + downloads, 60);
}

}  // namespace
}  // namespace zelin::portcheck
