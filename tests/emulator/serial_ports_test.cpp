// The servers' serial ports over TCP: RFC 2217 settings and answers, the line's wiring,
// raw mode, and what a restart does to the data connections.

#include <gtest/gtest.h>

#include <atomic>

#include "emulator/lab.hpp"
#include "protocol/rfc2217.hpp"
#include "tests/emulator/raw_peer.hpp"

namespace zelin::testing {
namespace {

namespace rfc = rfc2217;
using emulator::Lab;
using emulator::SerialMode;
using LabServer = decltype(ServerAt(Ipv4{}, 0));  // a lab file's server entry

// Virtual time that moves only when the test says so, so that a restart lasts exactly
// as long as the test wants.
class HeldClock final : public Clock {
 public:
  int64_t NowMs() override { return now_; }
  void SleepMs(int64_t) override {}
  int64_t RealWaitMs(int64_t ms) override { return std::min<int64_t>(ms, 10); }
  uint32_t UnixSeconds() override { return 1'700'000'000; }
  void Advance(int64_t ms) { now_ += ms; }

 private:
  std::atomic<int64_t> now_{1000};
};

// A host's end of a port: the client codec over a TCP connection.
struct PortClient {
  PortClient(const LoopbackBlock& block, Ipv4 server, uint16_t port)
      : tcp(block.Interface(), server, port), codec(rfc::Role::Client) {
    if (tcp.connected()) tcp.Send(codec.Greeting());
  }
  // Reads until `data` holds `bytes` payload bytes and `events` `count` commands.
  void ReadUntil(size_t bytes, size_t count = 0) {
    while (data.size() < bytes || events.size() < count) {
      const auto got = tcp.Read(1);
      if (got.empty()) return;
      codec.Receive(got, data, events);
    }
  }
  void Command(rfc::ComCommand c, std::vector<uint8_t> value) {
    tcp.Send(codec.EncodeCommand(c, value));
  }
  void Write(std::vector<uint8_t> payload) {
    std::vector<uint8_t> out;
    rfc::TelnetCodec::AppendData(payload, out);
    tcp.Send(out);
  }
  TcpPeer tcp;
  rfc::TelnetCodec codec;
  std::vector<uint8_t> data;
  std::vector<rfc::ComEvent> events;
};

class SerialPortsTest : public ::testing::Test {
 protected:
  void StartLab(LabServer server, int64_t restart_ms = 30) {
    auto desc = LabIn(block_, restart_ms);
    desc.servers.push_back(std::move(server));
    lab_ = std::make_unique<Lab>(std::move(desc), clock_);
    std::string error;
    ASSERT_TRUE(lab_->Start(&error)) << error;
  }
  Ipv4 Server() const { return block_.Address(10); }
  // Waits (bounded) until the lab has taken `n` data connections.
  bool Accepted(size_t n) {
    for (int i = 0; i < 400; ++i) {
      size_t seen = 0;
      for (const auto& e : lab_->Log()) seen += e.proto == "serial" && e.verdict == "connected";
      if (seen >= n) return true;
      SystemClock().SleepMs(10);
    }
    return false;
  }

  LoopbackBlock block_;
  HeldClock clock_;
  std::unique_ptr<Lab> lab_;
};

TEST_F(SerialPortsTest, ClientSetsThePortAndItsLineLoopsBack) {
  StartLab(ServerAt(Server(), 21, 9480));
  PortClient host(block_, Server(), 4002);  // port 2
  ASSERT_TRUE(host.tcp.connected());
  host.Write({'h', 0xFF, 'i'});
  host.Command(rfc::ComCommand::SetBaudRate, {0, 0, 0x4B, 0});
  host.Command(rfc::ComCommand::SetDataSize, {7});
  host.Command(rfc::ComCommand::SetControl, {rfc::control::kRtsRequest});
  host.ReadUntil(3, 3);
  EXPECT_TRUE(host.codec.ComPortAgreed());
  EXPECT_EQ(host.data, (std::vector<uint8_t>{'h', 0xFF, 'i'}));
  ASSERT_EQ(host.events.size(), 3u);
  EXPECT_EQ(host.events[0], (rfc::ComEvent{rfc::ComCommand::SetBaudRate, true, {0, 0, 0x4B, 0}}));
  EXPECT_EQ(host.events[1], (rfc::ComEvent{rfc::ComCommand::SetDataSize, true, {7}}));
  EXPECT_EQ(host.events[2], (rfc::ComEvent{rfc::ComCommand::SetControl, true, {rfc::control::kRtsOn}}));
  const auto settings = lab_->PortSettings(21, 2);
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->baud, 19200u);
  EXPECT_EQ(settings->data_bits, 7);
  EXPECT_EQ(lab_->PortSettings(21, 1)->baud, 9600u);  // other ports keep theirs

  bool logged = false;
  for (const auto& e : lab_->Log())
    logged = logged || (e.proto == "serial" && e.code == 1 && e.hex == "00004b00" &&
                        e.to.ends_with(":4002") && e.verdict == "set-baudrate 19200");
  EXPECT_TRUE(logged);

  // Dropping RTS on a looped-back port drops the client's CTS, which it is told.
  host.Command(rfc::ComCommand::SetControl, {rfc::control::kRtsOff});
  host.ReadUntil(3, 5);
  ASSERT_EQ(host.events.size(), 5u);
  EXPECT_EQ(host.events[4], (rfc::ComEvent{rfc::ComCommand::NotifyModemState, true, {0xA1}}));

  // One client per port.
  TcpPeer second(block_.Interface(1), Server(), 4002);
  EXPECT_TRUE(second.ClosedByPeer());
}

TEST_F(SerialPortsTest, WiredPortsInRawModeOnAnotherBase) {
  LabServer s = ServerAt(Server(), 22, 9480);
  s.serial_ports = {.mode = SerialMode::kRaw, .base = 5101, .pairs = {{1, 3}}};
  StartLab(s);
  TcpPeer one(block_.Interface(), Server(), 5101), three(block_.Interface(), Server(), 5103);
  ASSERT_TRUE(one.connected());
  ASSERT_TRUE(three.connected());
  ASSERT_TRUE(Accepted(2));  // bytes for a port nobody holds yet would be lost
  const std::vector<uint8_t> bytes{0xFF, 0xFA, 0x2C, 0x01, 'x'};  // not commands in raw mode
  one.Send(bytes);
  EXPECT_EQ(three.Read(bytes.size()), bytes);
  three.Send(std::vector<uint8_t>{'y'});
  EXPECT_EQ(one.Read(1), std::vector<uint8_t>{'y'});
  EXPECT_FALSE(TcpPeer(block_.Interface(), Server(), 4001).connected());
}

TEST_F(SerialPortsTest, RestartDropsConnectionsRefusesThenAcceptsWithDefaults) {
  StartLab(ServerAt(Server(), 23, 9480), /*restart_ms=*/1000);
  PortClient host(block_, Server(), 4001);
  host.Command(rfc::ComCommand::SetBaudRate, {0, 1, 0xC2, 0});
  host.ReadUntil(0, 1);
  ASSERT_EQ(lab_->PortSettings(23, 1)->baud, 115200u);

  ASSERT_TRUE(lab_->Restart(23));
  EXPECT_TRUE(host.tcp.ClosedByPeer());
  EXPECT_FALSE(TcpPeer(block_.Interface(), Server(), 4001).connected());  // time stands still
  clock_.Advance(1000);
  ASSERT_TRUE(WaitRestarted(*lab_, 23, 1));
  PortClient again(block_, Server(), 4001);
  EXPECT_TRUE(again.tcp.connected());
  EXPECT_EQ(lab_->PortSettings(23, 1)->baud, 9600u);
  EXPECT_FALSE(lab_->Restart(99));
}

}  // namespace
}  // namespace zelin::testing
