// The codec's client role against ser2net, a server we did not write: negotiation,
// SET-BAUDRATE reaching the device, payload both ways with 0xFF in it.

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "protocol/rfc2217.hpp"
#include "protocol/socket_address.hpp"
#include "tests/support/ser2net_fixture.hpp"

namespace zelin::rfc2217 {
namespace {

using V = std::vector<std::uint8_t>;

// Reads `fd` until `done` holds, in bounded polls (the bound measures nothing).
bool ReadUntil(int fd, const std::function<void(std::span<const std::uint8_t>)>& take,
               const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10) <= 0) continue;
    std::uint8_t buf[512];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    take(std::span(buf, static_cast<std::size_t>(n)));
  }
  return done();
}

TEST(Rfc2217Interop, ClientSetsBaudAndMovesBytesThroughSer2net) {
  if (const auto why = testing::Ser2netFixture::Missing(); !why.empty()) GTEST_SKIP() << why;
  testing::Ser2netFixture s2n;
  std::string error;
  ASSERT_TRUE(s2n.Start(&error)) << error;
  const int net = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in sa = SocketAddress(s2n.address(), s2n.port());
  ASSERT_EQ(::connect(net, AsSockaddr(sa), sizeof sa), 0);
  const int line = ::open(s2n.line_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(line, 0);

  TelnetCodec codec(Role::Client);
  V data, at_line;
  std::vector<ComEvent> events;
  const auto from_net = [&](std::span<const std::uint8_t> in) {
    codec.Receive(in, data, events);
    const V answers = codec.TakeOutput();
    ASSERT_EQ(::write(net, answers.data(), answers.size()), static_cast<ssize_t>(answers.size()));
  };
  const V greeting = codec.Greeting();
  ASSERT_EQ(::write(net, greeting.data(), greeting.size()), static_cast<ssize_t>(greeting.size()));
  ASSERT_TRUE(ReadUntil(net, from_net, [&] { return codec.ComPortAgreed(); }));

  const V baud = codec.EncodeCommand(ComCommand::SetBaudRate, EncodeBaud(19200));
  ASSERT_EQ(::write(net, baud.data(), baud.size()), static_cast<ssize_t>(baud.size()));
  const ComEvent answer{ComCommand::SetBaudRate, true, {0, 0, 0x4B, 0}};
  ASSERT_TRUE(ReadUntil(net, from_net, [&] {
    return std::find(events.begin(), events.end(), answer) != events.end();
  }));
  EXPECT_NE(s2n.DeviceStty().find("speed 19200 baud"), std::string::npos) << s2n.DeviceStty();

  V out;
  TelnetCodec::AppendData(V{'h', 0xFF, 'i'}, out);
  ASSERT_EQ(::write(net, out.data(), out.size()), static_cast<ssize_t>(out.size()));
  ASSERT_TRUE(ReadUntil(line, [&](auto in) { at_line.insert(at_line.end(), in.begin(), in.end()); },
                        [&] { return at_line.size() >= 3; }));
  EXPECT_EQ(at_line, (V{'h', 0xFF, 'i'}));
  const V back{0xFF, 'o', 'k'};
  ASSERT_EQ(::write(line, back.data(), back.size()), 3);
  ASSERT_TRUE(ReadUntil(net, from_net, [&] { return data.size() >= 3; }));
  EXPECT_EQ(data, back);
  ::close(line);
  ::close(net);
}

}  // namespace
}  // namespace zelin::rfc2217
