// The UDP transport on loopback addresses: one socket per interface, port fallback,
// broadcast substitution, receive lengths and the loopback-only refusal.
#include "protocol/transport.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/host_interfaces.hpp"
#include "protocol/socket_address.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/scripted_prompter.hpp"
#include "tests/support/udp_peer.hpp"

namespace zelin {
namespace {

using testing::LoopbackBlock;
using testing::ScriptedPrompter;
using testing::UdpPeer;

// Holds a UDP port on a loopback address for the life of the object.
class PortHolder {
 public:
  PortHolder(Ipv4 address, uint16_t port) : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
    const sockaddr_in sa = SocketAddress(address, port);
    bound_ = ::bind(fd_, AsSockaddr(sa), sizeof sa) == 0;
  }
  ~PortHolder() { ::close(fd_); }
  bool bound() const { return bound_; }

 private:
  int fd_;
  bool bound_ = false;
};

class TransportTest : public ::testing::Test {
 protected:
  std::unique_ptr<Transport> Make(std::vector<Ipv4> interfaces, bool with_broadcast = true) {
    TransportOptions o{
        .interfaces = std::move(interfaces), .broadcast = std::nullopt, .loopback_only = true};
    if (with_broadcast) o.broadcast = block.Broadcast();
    return std::make_unique<Transport>(clock, notices, Deliverable::Manager, o);
  }

  LoopbackBlock block;
  ScaledClock clock{20};
  ScriptedPrompter prompter;
  PrompterNotices notices{prompter};
};

TEST_F(TransportTest, BroadcastLeavesOnceThroughEachInterface) {
  UdpPeer lab(block.Broadcast(), wire::kServerUdpPort);
  auto t = Make({block.Interface(0), block.Interface(1)});
  ASSERT_TRUE(t->OpenTransport());
  ASSERT_EQ(t->interface_count(), 2);
  EXPECT_EQ(t->local_port(0), 1028);
  EXPECT_EQ(t->local_port(1), 1028);
  EXPECT_EQ(t->primary_socket(), t->socket(0));

  const std::vector<uint8_t> search{1, 0, 0, 6, 0, 0};
  ASSERT_TRUE(t->SendAll(search));
  auto a = lab.Receive(2000);
  auto b = lab.Receive(2000);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->bytes, search);
  EXPECT_EQ(a->from_address, block.Interface(0));
  EXPECT_EQ(b->from_address, block.Interface(1));
  EXPECT_EQ(a->from_port, 1028);
  EXPECT_FALSE(lab.Receive(50)) << "one datagram per interface";

  t->CloseTransport();
  EXPECT_EQ(t->socket(0), kNoSocket);
  EXPECT_EQ(t->socket(1), kNoSocket);
}

TEST_F(TransportTest, BusyPortsFallBackAndAFullyBusyInterfaceStaysUnused) {
  PortHolder taken(block.Interface(0), 1028);
  ASSERT_TRUE(taken.bound());
  std::vector<std::unique_ptr<PortHolder>> all;
  for (uint32_t port = 1028; port <= 65535; port += 4096)
    all.push_back(std::make_unique<PortHolder>(block.Interface(1), static_cast<uint16_t>(port)));
  ASSERT_EQ(all.size(), 16u);

  UdpPeer lab(block.Broadcast(), wire::kServerUdpPort);
  auto t = Make({block.Interface(0), block.Interface(1), block.Interface(2)});
  ASSERT_TRUE(t->OpenTransport());
  EXPECT_EQ(t->local_port(0), 5124);
  EXPECT_EQ(t->socket(1), kNoSocket);
  EXPECT_EQ(t->local_port(2), 1028);
  EXPECT_TRUE(prompter.shown().empty()) << "a failed bind shows nothing";

  ASSERT_TRUE(t->SendAll(std::vector<uint8_t>{1, 0, 0, 6, 0, 0}));
  auto a = lab.Receive(2000);
  auto b = lab.Receive(2000);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->from_address, block.Interface(0));
  EXPECT_EQ(a->from_port, 5124);
  EXPECT_EQ(b->from_address, block.Interface(2));
  EXPECT_FALSE(lab.Receive(50));
}

TEST_F(TransportTest, MonitorStartsAt5124BesideTheManager) {
  auto manager = Make({block.Interface(0)});
  auto monitor = Make({block.Interface(0)});
  ASSERT_TRUE(manager->OpenTransport(wire::kManagerFirstLocalPort));
  ASSERT_TRUE(monitor->OpenTransport(wire::kMonitorFirstLocalPort));
  EXPECT_EQ(manager->local_port(0), 1028);
  EXPECT_EQ(monitor->local_port(0), 5124);
}

// The length a receive took; a socket error fails the test.
size_t LengthOf(const Result<Received>& got) {
  EXPECT_TRUE(got) << got.status();
  return got ? got->length : SIZE_MAX;
}

TEST_F(TransportTest, ReceiveCopiesAtMostTheExpectedLengthAndReturnsTheFullOne) {
  auto t = Make({block.Interface(0)});
  ASSERT_TRUE(t->OpenTransport());
  UdpPeer server(block.Address(10), wire::kServerUdpPort);

  std::vector<uint8_t> buf(90, 0xEE);
  EXPECT_EQ(LengthOf(t->Receive(t->socket(0), MutableBytes(buf).first(86), 1)), 0u) << "time-out";

  server.SendTo(block.Interface(0), 1028, std::vector<uint8_t>(100, 0x11));
  const Result<Received> got = t->Receive(t->socket(0), MutableBytes(buf).first(86), 1);
  EXPECT_EQ(LengthOf(got), 100u);
  EXPECT_EQ(got->socket, t->socket(0));
  EXPECT_EQ(got->from, block.Address(10));
  EXPECT_EQ(got->from_port, wire::kServerUdpPort);
  EXPECT_EQ(buf[85], 0x11);
  EXPECT_EQ(buf[86], 0xEE) << "nothing copied past the expected length";

  std::fill(buf.begin(), buf.end(), 0xEE);
  server.SendTo(block.Interface(0), 1028, std::vector<uint8_t>(10, 0x22));
  EXPECT_EQ(LengthOf(t->Receive(t->socket(0), MutableBytes(buf).first(86), 1)), 10u);
  EXPECT_EQ(buf[9], 0x22);
  EXPECT_EQ(buf[10], 0xEE);

  // An empty datagram is not "nothing arrived": the wait goes on to the next one.
  std::fill(buf.begin(), buf.end(), 0xEE);
  server.SendTo(block.Interface(0), 1028, {});
  server.SendTo(block.Interface(0), 1028, std::vector<uint8_t>(12, 0x33));
  EXPECT_EQ(LengthOf(t->Receive(t->socket(0), MutableBytes(buf).first(86), 1)), 12u);
  EXPECT_EQ(buf[11], 0x33);
  server.SendTo(block.Interface(0), 1028, {});
  EXPECT_EQ(LengthOf(t->Receive(t->socket(0), MutableBytes(buf).first(86), 1)), 0u) << "time-out";

  const Result<Received> none = t->Receive(kNoSocket, buf, 1);
  EXPECT_FALSE(none);
  EXPECT_EQ(none.status().domain(), StatusDomain::kSocket);
  EXPECT_EQ(none.status().code(), ENOTSOCK);
  EXPECT_EQ(prompter.wait_depth(), 0);
  EXPECT_GE(prompter.wait_begins(), 3);
}

// A clock that cuts socket waits into 2 ms slices and counts the keep-alives between them.
class SlicingClock final : public Clock {
 public:
  int64_t NowMs() override { return base.NowMs(); }
  void SleepMs(int64_t ms) override { base.SleepMs(ms); }
  int64_t RealWaitMs(int64_t ms) override { return base.RealWaitMs(ms); }
  uint32_t UnixSeconds() override { return base.UnixSeconds(); }
  int64_t WaitSliceMs() const override { return 2; }
  void KeepAlive() override { ++keep_alives; }
  ScaledClock base{20};
  int keep_alives = 0;
};

TEST_F(TransportTest, SlicedReceiveKeepsAliveAndStillWaitsItsWholeTimeOut) {
  SlicingClock sliced;
  Transport t(
      sliced, notices, Deliverable::Manager,
      {.interfaces = {block.Interface(0)}, .broadcast = block.Broadcast(), .loopback_only = true});
  ASSERT_TRUE(t.OpenTransport());
  std::vector<uint8_t> buf(86);
  const int64_t start = sliced.NowMs();
  EXPECT_EQ(LengthOf(t.Receive(t.socket(0), buf, 3)), 0u);  // a search round's 3 s, 150 ms real
  EXPECT_GE(sliced.NowMs() - start, 3000);
  EXPECT_GE(sliced.keep_alives, 10);
}

TEST_F(TransportTest, UnicastGoesToTheServerAddress) {
  auto t = Make({block.Interface(0)});
  ASSERT_TRUE(t->OpenTransport());
  UdpPeer server(block.Address(10), wire::kServerUdpPort);
  t->SetDestination(block.Address(10));
  ASSERT_TRUE(t->SendOne(t->socket(0), std::vector<uint8_t>{7}));
  auto d = server.Receive(2000);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->bytes, std::vector<uint8_t>{7});
}

TEST_F(TransportTest, LoopbackOnlyRefusesEveryOtherAddress) {
  auto t = Make({block.Interface(0)}, /*with_broadcast=*/false);
  ASSERT_TRUE(t->OpenTransport());
  EXPECT_FALSE(t->MaySendTo(kBroadcastAddress));
  EXPECT_FALSE(t->MaySendTo(Ipv4FromOctets(10, 0, 0, 1)));
  EXPECT_TRUE(t->MaySendTo(block.Address(10)));

  t->SetDestination(kBroadcastAddress);
  EXPECT_FALSE(t->SendAll(std::vector<uint8_t>{1, 0, 0, 6, 0, 0}));
  t->SetDestination(Ipv4FromOctets(192, 168, 1, 10));
  EXPECT_FALSE(t->SendOne(t->socket(0), std::vector<uint8_t>{1}));
  ASSERT_EQ(prompter.shown().size(), 2u);
  EXPECT_NE(prompter.shown()[0].text.find("255.255.255.255"), std::string::npos);
  EXPECT_NE(prompter.shown()[1].text.find("192.168.1.10"), std::string::npos);
  EXPECT_NE(prompter.shown()[1].text.find("127.0.0.0/8"), std::string::npos);
}

TEST_F(TransportTest, BorrowedSocketsAreNeverClosedByTheBorrower) {
  auto owner = Make({block.Interface(0), block.Interface(1)});
  ASSERT_TRUE(owner->OpenTransport());
  const int sockets[2] = {owner->socket(0), owner->socket(1)};
  const Ipv4 locals[2] = {owner->local_address(0), owner->local_address(1)};
  {
    auto borrower = Make({});
    ASSERT_TRUE(borrower->AdoptSockets(sockets, locals, 2));
    EXPECT_EQ(borrower->interface_count(), 2);
    EXPECT_EQ(borrower->socket(1), sockets[1]);
    borrower->CloseTransport();
  }
  UdpPeer lab(block.Broadcast(), wire::kServerUdpPort);
  ASSERT_TRUE(owner->SendAll(std::vector<uint8_t>{1}));
  EXPECT_TRUE(lab.Receive(2000));
  EXPECT_TRUE(lab.Receive(2000));
  EXPECT_FALSE(owner->AdoptSockets(sockets, locals, 256));
}

TEST(TransportOptionsTest, ReadFromTheEnvironment) {
  ::setenv("ZELIN_INTERFACES", "127.0.0.5, 127.0.0.6", 1);
  ::setenv("ZELIN_BROADCAST", "127.0.0.255", 1);
  const auto [o, error] = TransportOptions::FromEnvironment();
  EXPECT_TRUE(error.ok());
  EXPECT_EQ(error.message(), "");
  EXPECT_EQ(o.interfaces,
            (std::vector<Ipv4>{Ipv4FromOctets(127, 0, 0, 5), Ipv4FromOctets(127, 0, 0, 6)}));
  EXPECT_EQ(o.broadcast, Ipv4FromOctets(127, 0, 0, 255));
  EXPECT_TRUE(o.loopback_only);  // the test runner sets it

  ::setenv("ZELIN_INTERFACES", "127.0.0.5,nonsense", 1);
  ::setenv("ZELIN_BROADCAST", "1.2.3", 1);
  const EnvironmentOptions bad = TransportOptions::FromEnvironment();
  EXPECT_EQ(bad.options.interfaces.size(), 1u);
  EXPECT_FALSE(bad.options.broadcast);
  EXPECT_FALSE(bad.problem.ok());
  EXPECT_NE(bad.problem.message().find("nonsense"), std::string::npos);
  EXPECT_NE(bad.problem.message().find("ZELIN_BROADCAST"), std::string::npos);
  ::unsetenv("ZELIN_INTERFACES");
  ::unsetenv("ZELIN_BROADCAST");
}

TEST(HostInterfacesTest, LoopbackOnlyWhenNamedAndThenOnTheLoopbackInterface) {
  for (const HostInterface& h : ListHostInterfaces()) EXPECT_FALSE(IsLoopback(h.address));
  const Ipv4 named = Ipv4FromOctets(127, 42, 7, 1);
  const Ipv4 unknown = Ipv4FromOctets(203, 0, 113, 9);
  const auto resolved = ResolveHostInterfaces({named, unknown});
  ASSERT_EQ(resolved.size(), 2u);
  EXPECT_EQ(resolved[0].address, named);
  EXPECT_GT(resolved[0].index, 0);
  EXPECT_FALSE(resolved[0].name.empty());
  EXPECT_EQ(resolved[1].address, unknown);
  EXPECT_EQ(resolved[1].index, 0) << "no interface holds it";
}

}  // namespace
}  // namespace zelin
