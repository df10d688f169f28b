#include "protocol/rfc2217.hpp"

#include <gtest/gtest.h>

#include <random>

namespace zelin::rfc2217 {
namespace {

using V = std::vector<std::uint8_t>;

struct Parsed {
  V data;
  std::vector<ComEvent> events;
};

Parsed Feed(TelnetCodec& codec, const V& in) {
  Parsed p;
  codec.Receive(in, p.data, p.events);
  return p;
}

TEST(Rfc2217, CommandsAndPayloadAreEscapedExactly) {
  V out;
  TelnetCodec::AppendData(V{0x41, 0xFF, 0x00, 0xFF}, out);
  EXPECT_EQ(out, (V{0x41, 0xFF, 0xFF, 0x00, 0xFF, 0xFF}));

  // 0x0000FF00 baud: the 0xFF inside the value is doubled, the rate is big endian.
  const TelnetCodec client(Role::Client), server(Role::Server);
  EXPECT_EQ(client.EncodeCommand(ComCommand::SetBaudRate, EncodeBaud(0xFF00)),
            (V{255, 250, 44, 1, 0, 0, 255, 255, 0, 255, 240}));
  EXPECT_EQ(server.EncodeCommand(ComCommand::SetBaudRate, EncodeBaud(19200)),
            (V{255, 250, 44, 101, 0, 0, 0x4B, 0x00, 255, 240}));
  const std::uint8_t purge = kPurgeBoth;
  EXPECT_EQ(client.EncodeCommand(ComCommand::PurgeData, std::span(&purge, 1)),
            (V{255, 250, 44, 12, 3, 255, 240}));
  EXPECT_EQ(server.EncodeCommand(ComCommand::FlowControlSuspend, {}), (V{255, 250, 44, 108, 255, 240}));

  SerialSettings s;
  s.baud = 115200;
  s.parity = Parity::Even;
  s.flow = FlowControl::RtsCts;
  s.dtr = false;
  EXPECT_EQ(EncodeSettings(Role::Client, s),
            (V{255, 250, 44, 1, 0, 1, 0xC2, 0, 255, 240, 255, 250, 44, 2, 8, 255, 240,
               255, 250, 44, 3, 3, 255, 240,       255, 250, 44, 4, 1, 255, 240,
               255, 250, 44, 5, 3, 255, 240,       255, 250, 44, 5, 9, 255, 240}));
  EXPECT_EQ(DecodeBaud(V{0, 0, 0x4B, 0}), 19200u);
  EXPECT_FALSE(DecodeBaud(V{0, 0x4B, 0}));
}

TEST(Rfc2217, ParsesTheSameWhereverTheStreamIsSplit) {
  // Payload with a doubled 0xFF, a server's baud report with a doubled byte, a NOP,
  // a subnegotiation of another option, an unsupported option request, a wrong-direction
  // command (client numbering from a server) and a modem-state notification.
  const V stream{'a', 255, 255, 'b', 255, 250, 44, 101, 0, 0, 255, 255, 0, 255, 240,
                 255, 241, 'c', 255, 250, 24, 0, 'x', 255, 240, 255, 251, 1,
                 255, 250, 44, 1, 0, 0, 0x4B, 0, 255, 240, 255, 250, 44, 107, 0x30, 255, 240, 'd'};
  TelnetCodec whole(Role::Client);
  const Parsed want = Feed(whole, stream);
  EXPECT_EQ(want.data, (V{'a', 255, 'b', 'c', 'd'}));
  ASSERT_EQ(want.events.size(), 2u);
  EXPECT_EQ(want.events[0], (ComEvent{ComCommand::SetBaudRate, true, {0, 0, 255, 0}}));
  EXPECT_EQ(want.events[1], (ComEvent{ComCommand::NotifyModemState, true, {0x30}}));
  EXPECT_EQ(whole.TakeOutput(), (V{255, 254, 1}));  // DONT ECHO

  for (std::size_t cut1 = 0; cut1 <= stream.size(); ++cut1) {
    for (std::size_t cut2 = cut1; cut2 <= stream.size(); cut2 += 3) {
      TelnetCodec split(Role::Client);
      Parsed got;
      const std::span<const std::uint8_t> all(stream);
      split.Receive(all.subspan(0, cut1), got.data, got.events);
      split.Receive(all.subspan(cut1, cut2 - cut1), got.data, got.events);
      split.Receive(all.subspan(cut2), got.data, got.events);
      ASSERT_EQ(got.data, want.data) << cut1 << "/" << cut2;
      ASSERT_EQ(got.events, want.events) << cut1 << "/" << cut2;
    }
  }
}

TEST(Rfc2217, NegotiationAgreesOnceWithoutLoops) {
  TelnetCodec client(Role::Client), server(Role::Server);
  Parsed p = Feed(server, client.Greeting());
  EXPECT_TRUE(server.ComPortAgreed());
  EXPECT_TRUE(server.TakeOutput().empty());  // every request was also asked by the server
  p = Feed(client, server.Greeting());
  EXPECT_TRUE(client.ComPortAgreed());
  EXPECT_TRUE(client.BinaryAgreed());
  EXPECT_TRUE(server.BinaryAgreed());
  EXPECT_TRUE(client.TakeOutput().empty());
  EXPECT_TRUE(p.data.empty());

  // Repeats are not answered; refusals are answered once per request; a disable is
  // acknowledged; the COM-PORT option only goes from client to server.
  Feed(client, V{255, 253, 44, 255, 253, 1, 255, 251, 44, 255, 254, 0});
  EXPECT_EQ(client.TakeOutput(), (V{255, 252, 1, 255, 254, 44, 255, 252, 0}));
  EXPECT_TRUE(client.ComPortAgreed());
  EXPECT_FALSE(client.BinaryAgreed());
  Feed(server, V{255, 253, 44, 255, 252, 44});
  EXPECT_EQ(server.TakeOutput(), (V{255, 252, 44, 255, 254, 44}));
  EXPECT_FALSE(server.ComPortAgreed());

  // A peer that asks first, without our greeting, gets the agreement.
  TelnetCodec late(Role::Server);
  Feed(late, V{255, 251, 44, 255, 253, 3});
  EXPECT_TRUE(late.ComPortAgreed());
  EXPECT_TRUE(late.TakeOutput().empty());  // both were in the server's greeting
  TelnetCodec quiet(Role::Client);
  Feed(quiet, V{255, 251, 3, 255, 253, 3});
  EXPECT_EQ(quiet.TakeOutput(), (V{255, 251, 3}));  // the client did not offer WILL SGA
}

TEST(Rfc2217, ServerAppliesClientSettingsAndAnswersWhatIsInEffect) {
  SerialSettings want;
  want.baud = 19200;
  want.data_bits = 7;
  want.parity = Parity::Mark;
  want.stop = StopBits::OnePointFive;
  want.flow = FlowControl::XonXoff;
  want.rts = false;
  TelnetCodec server(Role::Server), client(Role::Client);
  const Parsed p = Feed(server, EncodeSettings(Role::Client, want));
  SerialSettings device, seen_by_client;
  V answers;
  for (const ComEvent& e : p.events) {
    const auto answer = ApplyEvent(device, e);
    ASSERT_TRUE(answer);
    const V bytes = server.EncodeCommand(answer->command, answer->value);
    answers.insert(answers.end(), bytes.begin(), bytes.end());
  }
  EXPECT_EQ(device, want);
  for (const ComEvent& e : Feed(client, answers).events) EXPECT_FALSE(ApplyEvent(seen_by_client, e));
  EXPECT_EQ(seen_by_client, want);

  // Requests (0) and invalid values leave the settings and report them.
  const auto ask = [&](ComCommand c, V value) {
    return ApplyEvent(device, ComEvent{c, false, std::move(value)}).value_or(ComEvent{c, false, {}});
  };
  EXPECT_EQ(ask(ComCommand::SetBaudRate, {0, 0, 0, 0}).value, (V{0, 0, 0x4B, 0}));
  EXPECT_EQ(ask(ComCommand::SetBaudRate, {1, 2}).value, (V{0, 0, 0x4B, 0}));
  EXPECT_EQ(ask(ComCommand::SetDataSize, {9}).value, (V{7}));
  EXPECT_EQ(ask(ComCommand::SetParity, {0}).value, (V{4}));
  EXPECT_EQ(ask(ComCommand::SetControl, {control::kRtsRequest}).value, (V{control::kRtsOff}));
  EXPECT_EQ(ask(ComCommand::SetControl, {control::kBreakOn}).value, (V{control::kBreakOn}));
  EXPECT_EQ(ask(ComCommand::SetControl, {control::kInboundRequest}).value, (V{control::kInboundXonXoff}));
  EXPECT_EQ(ask(ComCommand::PurgeData, {kPurgeTransmit}).command, ComCommand::PurgeData);
  EXPECT_FALSE(ApplyEvent(device, ComEvent{ComCommand::PurgeData, false, {7}}));
  EXPECT_FALSE(ApplyEvent(device, ComEvent{ComCommand::FlowControlSuspend, false, {}}));
  EXPECT_TRUE(device.break_on);
  EXPECT_EQ(device.data_bits, 7);
}

TEST(Rfc2217, HostileStreamsStayBoundedAndRecover) {
  // An overlong subnegotiation is dropped whole; the next one is read normally.
  TelnetCodec server(Role::Server);
  V stream{255, 250, 44, 1};
  stream.insert(stream.end(), kMaxSubnegotiation + 10, 0x11);
  stream.insert(stream.end(), {255, 240, 255, 250, 44, 2, 7, 255, 240, 'z'});
  Parsed p = Feed(server, stream);
  ASSERT_EQ(p.events.size(), 1u);
  EXPECT_EQ(p.events[0], (ComEvent{ComCommand::SetDataSize, false, {7}}));
  EXPECT_EQ(p.data, V{'z'});
  // A subnegotiation cut by another command: the command counts, the fragment does not.
  p = Feed(server, V{255, 250, 44, 2, 8, 255, 251, 99, 'q'});
  EXPECT_TRUE(p.events.empty());
  EXPECT_EQ(p.data, V{'q'});
  EXPECT_EQ(server.TakeOutput(), (V{255, 254, 99}));

  // Seeded streams of telnet pieces and junk, cut anywhere: the payload and commands
  // read, escaped and encoded again, read back the same.
  std::mt19937 rng(2217);
  const std::array<V, 6> pieces{V{'p', 'q'}, V{255, 255}, V{255, 253, 1}, V{255, 251, 44},
                                EncodeComCommand(Role::Server, ComCommand::SetBaudRate, EncodeBaud(0xFFFF)),
                                EncodeComCommand(Role::Client, ComCommand::PurgeData, V{255})};
  for (int round = 0; round < 300; ++round) {
    V cut;
    const std::size_t target = rng() % 400;
    while (cut.size() < target) {
      const V& piece = pieces[rng() % pieces.size()];
      if (rng() % 3 == 0) cut.push_back(static_cast<std::uint8_t>(rng() % 8 == 0 ? 255 : rng()));
      else cut.insert(cut.end(), piece.begin(), piece.end());
    }
    cut.resize(rng() % (cut.size() + 1));
    for (const Role role : {Role::Client, Role::Server}) {
      TelnetCodec codec(role);
      const Parsed q = Feed(codec, cut);
      ASSERT_LE(q.data.size(), cut.size());
      V again;
      TelnetCodec::AppendData(q.data, again);
      for (const ComEvent& e : q.events) {
        const V bytes = EncodeComCommand(role == Role::Client ? Role::Server : Role::Client, e.command, e.value);
        again.insert(again.end(), bytes.begin(), bytes.end());
      }
      TelnetCodec reread(role);
      const Parsed r = Feed(reread, again);
      ASSERT_EQ(r.data, q.data);
      ASSERT_EQ(r.events, q.events);
    }
  }
}

// Payload escaping copies the runs between IAC bytes whole: IAC first, last, doubled in
// a row, one in every few bytes or none, appended after bytes already in `out`, is the
// byte-for-byte doubling every time.
TEST(Rfc2217, PayloadEscapingMatchesByteForByteDoubling) {
  std::mt19937 rng(2217);
  for (int round = 0; round < 400; ++round) {
    V payload(rng() % 3000);
    const unsigned density = 1 + rng() % 300;  // one IAC in about `density` bytes
    for (auto& b : payload) b = rng() % density == 0 ? 0xFF : static_cast<std::uint8_t>(rng() % 255);
    if (!payload.empty() && round % 4 == 1) payload.front() = 0xFF;
    if (!payload.empty() && round % 4 == 2) payload.back() = 0xFF;
    V before(rng() % 3, 0x41), want = before;
    for (const std::uint8_t b : payload) {
      want.push_back(b);
      if (b == 0xFF) want.push_back(0xFF);
    }
    V out = before;
    TelnetCodec::AppendData(payload, out);
    ASSERT_EQ(out, want) << "round " << round;
  }
  V out;
  TelnetCodec::AppendData(V{0xFF, 0xFF, 0xFF}, out);
  EXPECT_EQ(out, V(6, 0xFF));
  TelnetCodec::AppendData(V{}, out);
  EXPECT_EQ(out.size(), 6u);
}

}  // namespace
}  // namespace zelin::rfc2217
