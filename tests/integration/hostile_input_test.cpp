// Hostile bytes end to end, with fixed seeds: random, truncated and oversized
// datagrams and TCP streams thrown at the emulated servers while a client keeps
// working with them, and random replies thrown at the client by a fake server.
// Under the sanitizers any read past what was received fails these tests.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "protocol/firmware.hpp"
#include "protocol/frames.hpp"
#include "protocol/socket_address.hpp"
#include "tests/integration/lab_fixture.hpp"
#include "tests/support/udp_peer.hpp"

namespace zelin::testing {
namespace {

using Rng = std::mt19937;

constexpr uint8_t kCodes[] = {wire::kSearch,       wire::kLocateOn,       wire::kLocateOff,
                              wire::kSetAddress,   wire::kSaveAndRestart, wire::kSetName,
                              wire::kSetPortKinds, wire::kSetPassword,    wire::kAddRoute,
                              wire::kGetRoutes,    wire::kGetAccessList,  wire::kSetAccessList,
                              wire::kCheckAddress, wire::kLogin,          wire::kDhcp};

size_t Pick(Rng& rng, size_t n) {
  return std::uniform_int_distribution<size_t>(0, n - 1)(rng);
}

std::vector<uint8_t> RandomBytes(Rng& rng, size_t n) {
  std::vector<uint8_t> b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// A datagram that a server might take for a request: random, a plausible header
// with a random body, a real request cut short or padded, or a huge one.
std::vector<uint8_t> HostileRequest(Rng& rng, const ServerRecord& like) {
  switch (Pick(rng, 5)) {
    case 0:
      return RandomBytes(rng, Pick(rng, 100));
    case 1: {
      auto b = RandomBytes(rng, Pick(rng, 700));
      if (b.size() >= 6) {
        b[0] = kCodes[Pick(rng, std::size(kCodes))];
        b[1] = 0;
        PutBe16(b, 2, static_cast<uint16_t>(b.size()));
      }
      if (b.size() >= 26 && Pick(rng, 2) == 0) {
        PutLe16(b, 22, like.device_type());
        PutLe16(b, 24, like.serial_number());
      }
      return b;
    }
    case 2: {
      ServerRecord r = like;
      r.sequence = static_cast<uint32_t>(Pick(rng, 4));
      auto b = frames::BuildRequest(r, kCodes[1 + Pick(rng, std::size(kCodes) - 1)], 0)
                   .value_or(std::vector<uint8_t>{});
      if (Pick(rng, 2) == 0) {
        b.resize(Pick(rng, b.size() + 1));
      } else {
        const auto tail = RandomBytes(rng, 1 + Pick(rng, 40));
        b.insert(b.end(), tail.begin(), tail.end());
        if (b.size() >= 4) PutBe16(b, 2, static_cast<uint16_t>(b.size()));
      }
      return b;
    }
    case 3: {
      // An exclusion search with a random list (may name the servers themselves).
      auto b = RandomBytes(rng, 6 + 4 * Pick(rng, 60));
      b[0] = wire::kSearch;
      b[1] = 0;
      PutBe16(b, 2, static_cast<uint16_t>(b.size()));
      return b;
    }
    default:
      return RandomBytes(rng, 2049 + Pick(rng, 60000));
  }
}

using LabHostileInputTest = LabTest;

TEST_F(LabHostileInputTest, ServersKeepServingThroughRandomDatagrams) {
  StartLab({Server(5, 10, "pw"), Server(6, 11)});
  OpenClient();
  SearchServers(*transport_, list_, 1);
  ASSERT_EQ(list_.count, 2);
  ServerRecord& r = list_.records[static_cast<size_t>(list_.FindSerial(5))];
  r.password = "pw";

  // Several senders, so that the servers also keep state for many clients.
  std::vector<std::unique_ptr<UdpPeer>> senders;
  for (uint8_t i = 0; i < 4; ++i)
    senders.push_back(std::make_unique<UdpPeer>(block_.Address(static_cast<uint8_t>(3 + i)), 0));
  const Ipv4 targets[] = {block_.Address(10), block_.Address(11), block_.Broadcast()};
  Rng rng(20241207);
  constexpr int kDatagrams = 4000;
  int commands = 0;
  for (int i = 0; i < kDatagrams; ++i) {
    const auto d = HostileRequest(rng, r);
    senders[Pick(rng, senders.size())]->SendTo(targets[Pick(rng, 3)], wire::kServerUdpPort, d);
    if (i % 200 == 199) {
      ASSERT_TRUE(Command(*transport_, r, wire::kLogin, 1)) << "after " << i << " datagrams";
      ++commands;
    }
  }
  EXPECT_EQ(commands, kDatagrams / 200);
  EXPECT_TRUE(lab_->running());
  EXPECT_GT(lab_->Stats().datagrams, uint64_t{kDatagrams / 2});
  // Nothing a stranger sent changed the settings.
  const auto st = lab_->Snapshot(5);
  EXPECT_EQ(st->applied, st->staged);
  EXPECT_EQ(st->restarts, 0);
  ASSERT_TRUE(Command(*transport_, r, wire::kGetAccessList, 1));
  SearchServers(*transport_, list_, 1);
  EXPECT_EQ(list_.count, 2);
}

// Connects to address:4000 and returns the socket, or -1.
int ConnectTcp(Ipv4 address) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in sa = SocketAddress(address, wire::kServerTcpPort);
  if (::connect(fd, AsSockaddr(sa), sizeof sa) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Hangs up and reads until the server has closed its side too (at most `ms` real
// milliseconds per read), so that the server's connection limit is never reached.
void HangUp(int fd, int ms) {
  ::shutdown(fd, SHUT_WR);
  pollfd p{fd, POLLIN, 0};
  uint8_t buf[4096];
  while (::poll(&p, 1, ms) > 0 && ::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
  ::close(fd);
}

TEST_F(LabHostileInputTest, ServersKeepServingThroughRandomTcpStreams) {
  // Random images are rejected, so the server never restarts in the middle.
  auto desc = Server(5, 10);
  desc.firmware_rule.prefix = {'Z', 'E', 'L', 'I', 'N', 'F', 'W', '1'};
  StartLab({desc});
  OpenClient();
  ServerRecord r = Found(5);
  const std::string path = ::testing::TempDir() + "hostile_tcp.rom";
  std::ofstream(path, std::ios::binary) << "ZELINFW1" << std::string(3000, 'F');

  Rng rng(4000);
  constexpr int kStreams = 2000;
  for (int i = 0; i < kStreams; ++i) {
    const int fd = ConnectTcp(block_.Address(10));
    ASSERT_GE(fd, 0) << "connection " << i;
    std::vector<uint8_t> stream;
    switch (Pick(rng, 4)) {
      case 0:  // noise
        stream = RandomBytes(rng, Pick(rng, 9000));
        break;
      case 1:  // a login request, then noise
        stream = RandomBytes(rng, 1 + Pick(rng, 200));
        stream[0] = wire::kTcpLoginRequest;
        break;
      default: {  // a right login, then a download request of any length and noise
        uint8_t login = wire::kTcpLoginRequest;
        ::send(fd, &login, 1, MSG_NOSIGNAL);
        uint8_t challenge[80];
        pollfd p{fd, POLLIN, 0};
        ASSERT_GT(::poll(&p, 1, 2000), 0);
        const ssize_t n = ::recv(fd, challenge, sizeof challenge, 0);
        ASSERT_EQ(n, 6) << "connection " << i;
        const frames::Nonce nonce{challenge[2], challenge[3], challenge[4], challenge[5]};
        const auto answer = frames::BuildTcpLoginAnswer("", nonce);
        stream.assign(answer.begin(), answer.end());
        const uint32_t length =
            Pick(rng, 2) == 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(Pick(rng, 5000));
        const auto request = frames::BuildDownloadRequest(length);
        if (Pick(rng, 4) != 0) stream.insert(stream.end(), request.begin(), request.end());
        const auto tail = RandomBytes(rng, Pick(rng, 6000));
        stream.insert(stream.end(), tail.begin(), tail.end());
        if (Pick(rng, 3) == 0) stream.resize(Pick(rng, stream.size() + 1));  // cut short
      }
    }
    // Send in random pieces, then hang up.
    size_t at = 0;
    while (at < stream.size()) {
      const size_t piece = std::min(stream.size() - at, 1 + Pick(rng, 1500));
      if (::send(fd, stream.data() + at, piece, MSG_NOSIGNAL) < 0) break;
      at += piece;
    }
    HangUp(fd, 2000);
    if (i % 400 == 399) {
      RecordingProgress progress;
      EXPECT_EQ(DownloadFirmware(*transport_, r, path, 20, progress), DownloadResult::kSuccess)
          << "after " << i << " streams";
      // The server restarts with the new image; go on once it answers again.
      ServerList probed;
      ASSERT_TRUE(ProbeAddressRetry(*transport_, probed, block_.Address(10), 1));
    }
  }
  EXPECT_TRUE(lab_->running());
  EXPECT_GT(lab_->Stats().tcp_connections, uint64_t{kStreams});
  const auto st = lab_->Snapshot(5);
  EXPECT_EQ(st->upgrades, kStreams / 400);
  EXPECT_EQ(st->applied, st->staged);
  std::remove(path.c_str());
}

// A reply that a client might take for an answer to `request`: random, or the
// right code and sequence with a random status, identity and length.
std::vector<uint8_t> HostileReply(Rng& rng, const std::vector<uint8_t>& request) {
  if (request.size() < 6 || Pick(rng, 6) == 0) return RandomBytes(rng, Pick(rng, 700));
  const uint8_t code = request[0];
  if (code == wire::kSearch) {
    auto b = RandomBytes(rng, Pick(rng, 4) == 0 ? 80 + Pick(rng, 12) : wire::kSearchReplySize);
    b[0] = 0x81;
    b[1] = Pick(rng, 4) == 0 ? 1 : 0;
    if (Pick(rng, 6) != 0) PutLe16(b, 4, 0);
    if (Pick(rng, 3) != 0) PutLe16(b, 10, 9476);
    return b;
  }
  const size_t sizes[] = {0,  5,  10, 17, 18,  19,  20,  21,  22,  27,
                          28, 29, 33, 34, 100, 423, 424, 583, 584, 1500};
  auto b = RandomBytes(rng, sizes[Pick(rng, std::size(sizes))]);
  if (b.size() >= 1) b[0] = static_cast<uint8_t>(code | wire::kReplyBit);
  if (b.size() >= 2) b[1] = Pick(rng, 3) == 0 ? static_cast<uint8_t>(rng()) : 0;
  if (b.size() >= 6) {
    b[4] = request[4];
    b[5] = request[5];
  }
  if (b.size() >= 14 && request.size() >= 26 && Pick(rng, 4) != 0) {
    std::copy_n(request.begin() + 22, 4, b.begin() + 10);
  } else if (b.size() >= 14 && request.size() == 10 && Pick(rng, 4) != 0) {
    std::copy_n(request.begin() + 6, 4, b.begin() + 10);
  }
  return b;
}

TEST_F(LabHostileInputTest, ClientSurvivesRandomReplies) {
  // A faster clock: most waits here end on a time-out.
  ScaledClock fast(200);
  TransportOptions o{
      .interfaces = {block_.Interface()}, .broadcast = block_.Broadcast(), .loopback_only = true};
  Transport t(fast, notices_, Deliverable::Manager, o);
  ASSERT_TRUE(t.OpenTransport());
  UdpPeer peer(block_.Broadcast(), wire::kServerUdpPort);
  std::mutex mu;
  Rng peer_rng(77);
  peer.Serve([&](const PeerDatagram& d) {
    std::lock_guard lock(mu);
    std::vector<std::vector<uint8_t>> out;
    const size_t n = Pick(peer_rng, 4);
    for (size_t i = 0; i < n; ++i) out.push_back(HostileReply(peer_rng, d.bytes));
    return out;
  });

  for (int round = 0; round < 5; ++round) {
    ServerList list;
    SearchServers(t, list, 1);
    EXPECT_LE(list.count, 32);
    for (int i = 0; i < list.count; ++i)
      EXPECT_LE(list.records[static_cast<size_t>(i)].name().size(), 29u);
  }

  ServerRecord r;
  r.socket = t.socket(0);
  PutLe16(r.search_reply, wire::kSrDeviceType, 9476);
  PutLe16(r.search_reply, wire::kSrSerial, 77);
  r.sequence = 1;
  Rng rng(5);
  int ok = 0;
  for (int i = 0; i < 1500; ++i) {
    const uint8_t code = kCodes[1 + Pick(rng, std::size(kCodes) - 1)];
    r.access_total = static_cast<uint16_t>(Pick(rng, 40));
    r.access_count = static_cast<uint16_t>(Pick(rng, 40));
    r.access_start = static_cast<uint16_t>(Pick(rng, 40));
    r.dhcp = static_cast<uint8_t>(Pick(rng, 3) == 0 ? 0xFF : Pick(rng, 2));
    if (code == wire::kSaveAndRestart) continue;  // its 6 s wait adds nothing here
    ok += Exchange(t, r, code, 1) ? 1 : 0;
  }
  EXPECT_GT(ok, 0);  // some random replies were well-formed enough to be taken
  EXPECT_TRUE(ReadAccessTable(t, r, 1) || true);
  EXPECT_TRUE(ReadRouteTable(t, r, 1) || true);
  peer.Stop();
}

// A fake server on port 4000 that answers every message with random bytes, or the
// right reply, or hangs up.
TEST_F(LabHostileInputTest, FirmwareDownloadSurvivesARandomServer) {
  ScaledClock fast(200);
  TransportOptions o{
      .interfaces = {block_.Interface()}, .broadcast = block_.Broadcast(), .loopback_only = true};
  Transport t(fast, notices_, Deliverable::Manager, o);
  const Ipv4 address = block_.Address(20);
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const sockaddr_in sa = SocketAddress(address, wire::kServerTcpPort);
  ASSERT_EQ(::bind(listener, AsSockaddr(sa), sizeof sa), 0);
  ASSERT_EQ(::listen(listener, 8), 0);
  std::atomic<bool> stop{false};
  std::thread server([&] {
    Rng rng(99);
    while (!stop) {
      pollfd p{listener, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const int fd = ::accept(listener, nullptr, nullptr);
      if (fd < 0) continue;
      uint8_t buf[4096];
      for (;;) {
        pollfd q{fd, POLLIN, 0};
        if (::poll(&q, 1, 200) <= 0) break;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        if (buf[0] != wire::kTcpLoginRequest && buf[0] != 0x00 && buf[0] != wire::kTcpDownload &&
            Pick(rng, 8) != 0)
          continue;  // image bytes: mostly silent
        std::vector<uint8_t> reply;
        switch (Pick(rng, 5)) {
          case 0:
            reply = RandomBytes(rng, Pick(rng, 120));
            break;
          case 1:
            reply = {wire::kTcpLoginRequest, wire::kTcpChallengeTag, 1, 2, 3, 4};
            break;
          case 2:
            reply = {0x00, 0x01};
            break;
          case 3:
            reply = {wire::kTcpDownload, static_cast<uint8_t>(Pick(rng, 2))};
            break;
          default:
            break;  // hang up
        }
        if (reply.empty()) break;
        ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
      }
      ::close(fd);
    }
  });

  const std::string path = ::testing::TempDir() + "hostile_fake.rom";
  std::ofstream(path, std::ios::binary) << std::string(5000, 'F');
  ServerRecord r;
  r.set_ip_address(address);
  std::map<int, int> results;
  for (int i = 0; i < 300; ++i) {
    RecordingProgress progress;
    const Status result = DownloadFirmware(t, r, path, 1, progress);
    ++results[result.code()];
    EXPECT_EQ(progress.shows, progress.closes);
  }
  stop = true;
  server.join();
  ::close(listener);
  std::remove(path.c_str());
  EXPECT_GE(results.size(), 3u);  // the random server reached several outcomes
  EXPECT_EQ(results.count(static_cast<int>(DownloadResult::kPasswordTooLong)), 0u);
}

}  // namespace
}  // namespace zelin::testing
