// rfc2217 mode: Telnet with the Com Port Control option, client role
// (protocol/rfc2217.hpp).
//
// The connection opens with the client's greeting. The line settings go out once the
// server has agreed to the option (DO COM-PORT), as the whole set, and after that as
// the single commands of what the program changed; changes made before the agreement
// only update the set that will be sent. Payload flows from the start. What the server
// reports back (its settings, line and modem state) is read and not acted on: the pty
// has no lines to show it on.
#include <utility>

#include "bridge/core/link_codec.hpp"
#include "protocol/rfc2217.hpp"

namespace zelin::bridge {
namespace {

namespace r = zelin::rfc2217;

r::SerialSettings ToWire(const LineSettings& s) {
  r::SerialSettings w;
  w.baud = s.baud;
  w.data_bits = s.data_bits;
  switch (s.parity) {
    case Parity::kNone: w.parity = r::Parity::None; break;
    case Parity::kOdd: w.parity = r::Parity::Odd; break;
    case Parity::kEven: w.parity = r::Parity::Even; break;
    case Parity::kMark: w.parity = r::Parity::Mark; break;
    case Parity::kSpace: w.parity = r::Parity::Space; break;
  }
  w.stop = s.stop_bits == 2 ? r::StopBits::Two : r::StopBits::One;
  switch (s.flow) {
    case FlowControl::kNone: w.flow = r::FlowControl::None; break;
    case FlowControl::kXonXoff: w.flow = r::FlowControl::XonXoff; break;
    case FlowControl::kRtsCts: w.flow = r::FlowControl::RtsCts; break;
  }
  w.dtr = s.dtr;
  w.rts = s.rts;
  return w;
}

class Rfc2217Codec final : public LinkCodec {
 public:
  void Start(const LineSettings& settings, std::vector<uint8_t>& out) override {
    wanted_ = ToWire(settings);
    const auto greeting = codec_.Greeting();
    out.insert(out.end(), greeting.begin(), greeting.end());
  }

  void EncodeData(std::span<const uint8_t> payload, std::vector<uint8_t>& out) override {
    r::TelnetCodec::AppendData(payload, out);
  }

  void EncodeSettings(const LineSettings&, const LineSettings& now,
                      std::vector<uint8_t>& out) override {
    const r::SerialSettings w = ToWire(now);
    if (settings_sent_) {
      const r::SerialSettings& was = wanted_;
      if (w.baud != was.baud) Put(r::ComCommand::SetBaudRate, r::EncodeBaud(w.baud), out);
      if (w.data_bits != was.data_bits) Put(r::ComCommand::SetDataSize, {w.data_bits}, out);
      if (w.parity != was.parity) Put(r::ComCommand::SetParity, {Byte(w.parity)}, out);
      if (w.stop != was.stop) Put(r::ComCommand::SetStopSize, {Byte(w.stop)}, out);
      if (w.flow != was.flow) Put(r::ComCommand::SetControl, {Byte(w.flow)}, out);
      if (w.dtr != was.dtr)
        Put(r::ComCommand::SetControl, {w.dtr ? r::control::kDtrOn : r::control::kDtrOff}, out);
    }
    wanted_ = w;
  }

  void Decode(std::span<const uint8_t> in, std::vector<uint8_t>& data,
              std::vector<uint8_t>& reply) override {
    events_.clear();
    codec_.Receive(in, data, events_);
    const auto answers = codec_.TakeOutput();
    reply.insert(reply.end(), answers.begin(), answers.end());
    if (!settings_sent_ && codec_.ComPortAgreed()) {
      const auto all = r::EncodeSettings(r::Role::Client, wanted_);
      reply.insert(reply.end(), all.begin(), all.end());
      settings_sent_ = true;
    }
  }

 private:
  template <class E>
  static uint8_t Byte(E e) {
    return static_cast<uint8_t>(e);
  }
  template <size_t N>
  void Put(r::ComCommand c, const std::array<uint8_t, N>& value, std::vector<uint8_t>& out) {
    const auto bytes = codec_.EncodeCommand(c, value);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  void Put(r::ComCommand c, std::initializer_list<uint8_t> value, std::vector<uint8_t>& out) {
    const auto bytes = codec_.EncodeCommand(c, std::span<const uint8_t>(value.begin(), value.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
  }

  r::TelnetCodec codec_{r::Role::Client};
  r::SerialSettings wanted_;
  bool settings_sent_ = false;
  std::vector<r::ComEvent> events_;
};

}  // namespace

std::unique_ptr<LinkCodec> MakeRfc2217Codec() { return std::make_unique<Rfc2217Codec>(); }

}  // namespace zelin::bridge
