// The TCP session's connect retries and abort condition, against a listener on the
// test's own loopback block.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <functional>
#include <thread>

#include "platform/clock.hpp"
#include "protocol/socket_address.hpp"
#include "protocol/tcp_session.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/scripted_prompter.hpp"

namespace zelin {
namespace {

// A scaled clock that counts the session's pauses between connect attempts and runs
// `on_sleep` (with the count) after each.
class PauseCountingClock final : public Clock {
 public:
  int64_t NowMs() override { return inner_.NowMs(); }
  void SleepMs(int64_t ms) override {
    inner_.SleepMs(ms);
    ++sleeps;
    if (on_sleep) on_sleep(sleeps);
  }
  int64_t RealWaitMs(int64_t ms) override { return inner_.RealWaitMs(ms); }
  uint32_t UnixSeconds() override { return inner_.UnixSeconds(); }

  int sleeps = 0;
  std::function<void(int)> on_sleep;

 private:
  ScaledClock inner_{20};
};

class TcpSessionTest : public ::testing::Test {
 protected:
  ~TcpSessionTest() override {
    if (listener_ >= 0) ::close(listener_);
  }
  // Listens on the server address from now on.
  void Listen() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in sa = SocketAddress(server_, wire::kServerTcpPort);
    ASSERT_EQ(::bind(listener_, AsSockaddr(sa), sizeof sa), 0);
    ASSERT_EQ(::listen(listener_, 4), 0);
  }

  testing::LoopbackBlock block_;
  Ipv4 server_ = block_.Address(10);
  testing::ScriptedPrompter prompter_;
  PrompterNotices notices_{prompter_};
  PauseCountingClock clock_;
  TcpSession session_{clock_, notices_, block_.ClientOptions()};
  int listener_ = -1;
};

TEST_F(TcpSessionTest, ConnectRetriesUntilTheServerListens) {
  // Nobody listens: every attempt is refused, and the retries run out.
  const TcpConnectOptions how{.attempt_ms = 100, .retries = 2, .send_timeout_ms = 1000};
  EXPECT_TRUE(session_.Connect(server_, wire::kServerTcpPort, how)
                  .Is(TcpSessionError::kConnectFailed));
  EXPECT_EQ(clock_.sleeps, 2) << "one pause before each further attempt";
  EXPECT_FALSE(session_.is_open());

  // The server starts listening during the third pause: the next attempt, on a fresh
  // socket, connects, and the connection carries bytes.
  clock_.sleeps = 0;
  clock_.on_sleep = [this](int n) {
    if (n == 3) Listen();
  };
  ASSERT_TRUE(session_.Connect(server_, wire::kServerTcpPort,
                               TcpConnectOptions{.attempt_ms = 100, .retries = 300}));
  EXPECT_EQ(clock_.sleeps, 3);
  const int peer = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(peer, 0);
  const std::array<uint8_t, 3> hello{1, 2, 3};
  EXPECT_TRUE(session_.SendAll(hello, 1000));
  std::array<uint8_t, 8> got{};
  EXPECT_EQ(::recv(peer, got.data(), got.size(), 0), 3);
  EXPECT_EQ(got[2], 3);

  // The server closes: the receive returns 0 and says so.
  ::close(peer);
  const Result<size_t> n = session_.ReceiveMessage(got, 5);
  ASSERT_TRUE(n.ok()) << n.status();
  EXPECT_EQ(*n, 0u);
  EXPECT_TRUE(session_.peer_closed());
}

TEST_F(TcpSessionTest, TheAbortConditionEndsConnectsAndWaits) {
  std::atomic<bool> abort{true};
  std::atomic<bool> seen{false};  // the condition was read while it held
  session_.set_abort_condition([&] {
    const bool held = abort.load();
    if (held) seen = true;
    return held;
  });
  // Held before the first attempt: no attempt, no pause.
  const TcpConnectOptions how{.attempt_ms = 100, .retries = 300};
  EXPECT_TRUE(session_.Connect(server_, wire::kServerTcpPort, how)
                  .Is(TcpSessionError::kConnectFailed));
  EXPECT_EQ(clock_.sleeps, 0);

  // Raised during the retries against a server that refuses: they end there.
  abort = false;
  clock_.on_sleep = [&](int n) {
    if (n == 2) abort = true;
  };
  EXPECT_TRUE(session_.Connect(server_, wire::kServerTcpPort, how)
                  .Is(TcpSessionError::kConnectFailed));
  EXPECT_EQ(clock_.sleeps, 2);

  // Raised by another thread during a receive that would wait ten minutes.
  Listen();
  abort = false;
  seen = false;
  clock_.on_sleep = nullptr;
  ASSERT_TRUE(session_.Connect(server_, wire::kServerTcpPort, how));
  std::atomic<bool> waiting{false};
  session_.set_abort_condition([&] {
    waiting = true;
    const bool held = abort.load();
    if (held) seen = true;
    return held;
  });
  std::thread raiser([&] {
    while (!waiting.load()) std::this_thread::yield();
    abort = true;
  });
  std::array<uint8_t, 8> buffer{};
  const Result<size_t> n = session_.ReceiveMessage(buffer, 600);
  raiser.join();
  ASSERT_TRUE(n.ok()) << n.status();
  EXPECT_EQ(*n, 0u);
  EXPECT_TRUE(seen.load()) << "the wait ended by the condition, not by its time-out";
  EXPECT_FALSE(session_.peer_closed());
  EXPECT_TRUE(session_.is_open());
}

}  // namespace
}  // namespace zelin
