// rfc2217 mode: Telnet with the Com Port Control option, client role
// (protocol/rfc2217.hpp).
//
// The connection opens with the client's greeting; the port sends the whole set of
// settings once agreement() says the server took the option, and single commands for
// later changes. Every SET-* request is remembered until the server answers it: an
// answer with another value than asked is a refused setting (kept in the report until
// an answer for the same setting agrees). The server's NOTIFY-MODEMSTATE and
// NOTIFY-LINESTATE are kept, and FLOWCONTROL-SUSPEND/RESUME set `suspended`, which the
// port honours by sending no data meanwhile.
#include <deque>
#include <map>
#include <utility>

#include "bridge/core/link_codec.hpp"
#include "protocol/rfc2217.hpp"

namespace zelin::bridge {
namespace {

namespace r = zelin::rfc2217;

// Notifications wanted: every modem line's state and change, and the line errors
// (overrun, parity, framing, break); not "data ready", which comes with every byte.
constexpr uint8_t kModemMask = 0xFF;
constexpr uint8_t kLineMask = 0x1E;
constexpr size_t kMaxAsked = 16;  // remembered requests per setting

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

// Which setting a command's value is about (SET-CONTROL carries several).
int SettingKey(r::ComCommand c, const std::vector<uint8_t>& value) {
  const int base = static_cast<int>(c) * 8;
  if (c != r::ComCommand::SetControl || value.size() != 1) return base;
  const uint8_t v = value[0];
  if (v <= 3) return base + 1;
  if (v <= r::control::kBreakOff) return base + 2;
  if (v <= r::control::kDtrOff) return base + 3;
  if (v <= r::control::kRtsOff) return base + 4;
  return base + 5;
}

std::string SettingName(r::ComCommand c, const std::vector<uint8_t>& value) {
  switch (c) {
    case r::ComCommand::SetBaudRate: return "baud rate";
    case r::ComCommand::SetDataSize: return "data bits";
    case r::ComCommand::SetParity: return "parity";
    case r::ComCommand::SetStopSize: return "stop bits";
    case r::ComCommand::SetLineStateMask: return "line state mask";
    case r::ComCommand::SetModemStateMask: return "modem state mask";
    default: break;
  }
  switch (SettingKey(c, value) % 8) {
    case 1: return "flow control";
    case 3: return "DTR";
    case 4: return "RTS";
    default: return "control";
  }
}

std::string ValueText(r::ComCommand c, const std::vector<uint8_t>& value) {
  if (c == r::ComCommand::SetBaudRate) {
    const auto baud = r::DecodeBaud(value);
    return baud ? std::to_string(*baud) : "?";
  }
  return value.size() == 1 ? std::to_string(value[0]) : "?";
}

class Rfc2217Codec final : public LinkCodec {
 public:
  void Start(std::vector<uint8_t>& out) override {
    const auto greeting = codec_.Greeting();
    out.insert(out.end(), greeting.begin(), greeting.end());
  }

  Agreement agreement() const override {
    if (codec_.ComPortAgreed()) return Agreement::kAgreed;
    return codec_.ComPortRefused() ? Agreement::kRefused : Agreement::kPending;
  }

  void EncodeAll(const LineSettings& settings, std::vector<uint8_t>& out) override {
    const r::SerialSettings w = ToWire(settings);
    Put(r::ComCommand::SetBaudRate, Bytes(r::EncodeBaud(w.baud)), out);
    Put(r::ComCommand::SetDataSize, {w.data_bits}, out);
    Put(r::ComCommand::SetParity, {Byte(w.parity)}, out);
    Put(r::ComCommand::SetStopSize, {Byte(w.stop)}, out);
    Put(r::ComCommand::SetControl, {Byte(w.flow)}, out);
    Put(r::ComCommand::SetControl, {w.dtr ? r::control::kDtrOn : r::control::kDtrOff}, out);
    if (w.flow != r::FlowControl::RtsCts)
      Put(r::ComCommand::SetControl, {w.rts ? r::control::kRtsOn : r::control::kRtsOff}, out);
    Put(r::ComCommand::SetLineStateMask, {kLineMask}, out);
    Put(r::ComCommand::SetModemStateMask, {kModemMask}, out);
  }

  void EncodeData(std::span<const uint8_t> payload, std::vector<uint8_t>& out) override {
    r::TelnetCodec::AppendData(payload, out);
  }

  void EncodeSettings(const LineSettings& before, const LineSettings& now,
                      std::vector<uint8_t>& out) override {
    const r::SerialSettings w = ToWire(now), was = ToWire(before);
    if (w.baud != was.baud) Put(r::ComCommand::SetBaudRate, Bytes(r::EncodeBaud(w.baud)), out);
    if (w.data_bits != was.data_bits) Put(r::ComCommand::SetDataSize, {w.data_bits}, out);
    if (w.parity != was.parity) Put(r::ComCommand::SetParity, {Byte(w.parity)}, out);
    if (w.stop != was.stop) Put(r::ComCommand::SetStopSize, {Byte(w.stop)}, out);
    if (w.flow != was.flow) Put(r::ComCommand::SetControl, {Byte(w.flow)}, out);
    if (w.dtr != was.dtr)
      Put(r::ComCommand::SetControl, {w.dtr ? r::control::kDtrOn : r::control::kDtrOff}, out);
  }

  void EncodePurge(uint8_t what, std::vector<uint8_t>& out) override {
    const auto bytes = codec_.EncodeCommand(r::ComCommand::PurgeData, std::span(&what, 1));
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  void EncodeControl(uint8_t value, std::vector<uint8_t>& out) override {
    Put(r::ComCommand::SetControl, {value}, out);
  }

  void Decode(std::span<const uint8_t> in, std::vector<uint8_t>& data,
              std::vector<uint8_t>& reply) override {
    events_.clear();
    codec_.Receive(in, data, events_);
    const auto answers = codec_.TakeOutput();
    reply.insert(reply.end(), answers.begin(), answers.end());
    for (const r::ComEvent& e : events_) OnServer(e);
  }

  const ServerReport& report() const override { return report_; }

 private:
  template <class E>
  static uint8_t Byte(E e) {
    return static_cast<uint8_t>(e);
  }
  template <size_t N>
  static std::vector<uint8_t> Bytes(const std::array<uint8_t, N>& a) {
    return {a.begin(), a.end()};
  }

  void Put(r::ComCommand c, std::vector<uint8_t> value, std::vector<uint8_t>& out) {
    const auto bytes = codec_.EncodeCommand(c, value);
    out.insert(out.end(), bytes.begin(), bytes.end());
    auto& asked = asked_[SettingKey(c, value)];
    if (asked.size() >= kMaxAsked) asked.pop_front();
    asked.push_back({c, std::move(value)});
  }

  void OnServer(const r::ComEvent& e) {
    switch (e.command) {
      case r::ComCommand::FlowControlSuspend: report_.suspended = true; return;
      case r::ComCommand::FlowControlResume: report_.suspended = false; return;
      case r::ComCommand::NotifyModemState:
        if (e.value.size() == 1) {
          report_.modem_known = true;
          report_.modem_state = e.value[0];
        }
        return;
      case r::ComCommand::NotifyLineState:
        if (e.value.size() == 1) report_.line_state = e.value[0];
        return;
      default: break;
    }
    // An answer to a SET-*: compare with the oldest request of that setting.
    const int key = SettingKey(e.command, e.value);
    auto it = asked_.find(key);
    if (it == asked_.end() || it->second.empty()) return;
    const auto [command, value] = std::move(it->second.front());
    it->second.pop_front();
    const bool request_only = (value.size() == 1 && value[0] == 0) ||
                              (command == r::ComCommand::SetBaudRate &&
                               r::DecodeBaud(value).value_or(0) == 0);
    const std::string name = SettingName(command, value);
    if (request_only || value == e.value) {
      refusals_.erase(name);
    } else {
      refusals_[name] = name + ' ' + ValueText(command, value) + " refused (server has " +
                        ValueText(command, e.value) + ')';
    }
    report_.refused.clear();
    for (const auto& [n, text] : refusals_)
      report_.refused += (report_.refused.empty() ? "" : "; ") + text;
  }

  r::TelnetCodec codec_{r::Role::Client};
  std::vector<r::ComEvent> events_;
  std::map<int, std::deque<std::pair<r::ComCommand, std::vector<uint8_t>>>> asked_;
  std::map<std::string, std::string> refusals_;
  ServerReport report_;
};

}  // namespace

std::unique_ptr<LinkCodec> MakeRfc2217Codec() { return std::make_unique<Rfc2217Codec>(); }

}  // namespace zelin::bridge
