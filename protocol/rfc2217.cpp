#include "protocol/rfc2217.hpp"

#include <algorithm>
#include <cstring>

#include "protocol/bytes.hpp"

namespace zelin::rfc2217 {

namespace {

constexpr std::uint8_t kMaxCommand = static_cast<std::uint8_t>(ComCommand::PurgeData);

bool ValidFlow(std::uint8_t v) { return v >= 1 && v <= 3; }

}  // namespace

TelnetCodec::TelnetCodec(Role role) : role_(role) {
  sb_.reserve(kMaxSubnegotiation);
  // What Greeting() asks for counts as asked.
  us_[Slot(kOptBinary)].pending = true;
  peer_[Slot(kOptBinary)].pending = true;
  if (role_ == Role::Client) {
    us_[Slot(kOptComPort)].pending = true;
    peer_[Slot(kOptSga)].pending = true;
  } else {
    peer_[Slot(kOptComPort)].pending = true;
    us_[Slot(kOptSga)].pending = true;
  }
}

int TelnetCodec::Slot(std::uint8_t option) {
  switch (option) {
    case kOptBinary: return 0;
    case kOptSga: return 1;
    case kOptComPort: return 2;
    default: return -1;
  }
}

bool TelnetCodec::WeSupport(std::uint8_t option) const {
  if (option == kOptComPort) return role_ == Role::Client;
  return Slot(option) >= 0;
}

bool TelnetCodec::PeerMay(std::uint8_t option) const {
  if (option == kOptComPort) return role_ == Role::Server;
  return Slot(option) >= 0;
}

std::vector<std::uint8_t> TelnetCodec::Greeting() const {
  if (role_ == Role::Client) {
    return {kIac, kWill, kOptComPort, kIac, kWill, kOptBinary,
            kIac, kDo,   kOptBinary,  kIac, kDo,   kOptSga};
  }
  return {kIac, kDo, kOptComPort, kIac, kWill, kOptBinary,
          kIac, kDo, kOptBinary,  kIac, kWill, kOptSga};
}

bool TelnetCodec::ComPortAgreed() const {
  const int s = Slot(kOptComPort);
  return role_ == Role::Client ? us_[s].enabled : peer_[s].enabled;
}

bool TelnetCodec::ComPortRefused() const {
  const Option& o = (role_ == Role::Client ? us_ : peer_)[Slot(kOptComPort)];
  return !o.enabled && !o.pending;
}

bool TelnetCodec::BinaryAgreed() const {
  const int s = Slot(kOptBinary);
  return us_[s].enabled && peer_[s].enabled;
}

std::vector<std::uint8_t> TelnetCodec::TakeOutput() {
  std::vector<std::uint8_t> out;
  out.swap(out_);
  return out;
}

void TelnetCodec::Queue(std::uint8_t verb, std::uint8_t option) {
  out_.insert(out_.end(), {kIac, verb, option});
}

// Option negotiation without loops (RFC 854): a request that would not change the
// option's state is not answered, and the answer to our own request is not answered.
void TelnetCodec::OnVerb(std::uint8_t verb, std::uint8_t option) {
  const int s = Slot(option);
  Option* ours = s < 0 ? nullptr : &us_[static_cast<size_t>(s)];
  Option* theirs = s < 0 ? nullptr : &peer_[static_cast<size_t>(s)];
  switch (verb) {
    case kDo:
    case kDont:
      Answer(ours, verb == kDo, WeSupport(option), kWill, kWont, option);
      break;
    case kWill:
    case kWont:
      Answer(theirs, verb == kWill, PeerMay(option), kDo, kDont, option);
      break;
    default:
      break;
  }
}

// One side's state of the option (ours for DO/DONT, the peer's for WILL/WONT; null for
// an option we do not track) after a request to enable or disable it. `allowed`: the
// option may be enabled on that side; `yes`/`no`: our verbs that agree or refuse.
void TelnetCodec::Answer(Option* side, bool enable, bool allowed, std::uint8_t yes,
                         std::uint8_t no, std::uint8_t option) {
  if (enable) {
    if (!allowed) {
      Queue(no, option);
    } else if (!side->enabled) {
      side->enabled = true;
      if (side->pending) side->pending = false;
      else Queue(yes, option);
    }
    return;
  }
  if (side == nullptr) return;
  if (side->enabled && !side->pending) Queue(no, option);
  *side = {};
}

void TelnetCodec::EndSubnegotiation(std::vector<ComEvent>& events) {
  const bool keep = sb_option_ == kOptComPort && !sb_overflow_ && !sb_.empty();
  if (keep) {
    // The peer sends in its own numbering: a server's codes are offset.
    const bool peer_is_server = role_ == Role::Client;
    const int code = sb_[0] - (peer_is_server ? kServerOffset : 0);
    if (code >= 0 && code <= kMaxCommand) {
      events.push_back(ComEvent{static_cast<ComCommand>(code), peer_is_server,
                                std::vector<std::uint8_t>(sb_.begin() + 1, sb_.end())});
    }
  }
  sb_.clear();
  sb_overflow_ = false;
}

void TelnetCodec::Receive(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& data,
                          std::vector<ComEvent>& events) {
  for (const std::uint8_t b : in) {
    switch (state_) {
      case State::Data:
        if (b == kIac) state_ = State::Iac;
        else data.push_back(b);
        break;
      case State::Iac:
        if (b == kIac) {
          data.push_back(kIac);
          state_ = State::Data;
        } else if (b >= kWill && b <= kDont) {
          verb_ = b;
          state_ = State::Verb;
        } else if (b == kSb) {
          state_ = State::SbOption;
        } else {
          state_ = State::Data;  // NOP, GA, BRK, AYT, ... and a stray SE: nothing to do
        }
        break;
      case State::Verb:
        OnVerb(verb_, b);
        state_ = State::Data;
        break;
      case State::SbOption:
        sb_option_ = b;
        sb_.clear();
        sb_overflow_ = false;
        state_ = State::SbBody;
        break;
      case State::SbBody:
      case State::SbIac:
        if (state_ == State::SbBody && b == kIac) {
          state_ = State::SbIac;
          break;
        }
        if (state_ == State::SbIac && b != kIac) {
          if (b == kSe) {
            EndSubnegotiation(events);
            state_ = State::Data;
          } else {
            // IAC and a command inside a subnegotiation: the subnegotiation was cut
            // short. Drop it and take the command.
            sb_.clear();
            sb_overflow_ = false;
            state_ = State::Iac;
            Receive(std::span<const std::uint8_t>(&b, 1), data, events);
          }
          break;
        }
        state_ = State::SbBody;
        if (sb_.size() < kMaxSubnegotiation) sb_.push_back(b);
        else sb_overflow_ = true;
        break;
    }
  }
}

void TelnetCodec::AppendData(std::span<const std::uint8_t> payload,
                             std::vector<std::uint8_t>& out) {
  // Runs between IAC bytes are copied whole: one pass, at most one growth of `out` for
  // data without IAC (random data has one in 256 bytes).
  const size_t need = out.size() + payload.size() + payload.size() / 128 + 1;
  if (need > out.capacity()) out.reserve(std::max(need, 2 * out.capacity()));
  const std::uint8_t* at = payload.data();
  const std::uint8_t* const end = at + payload.size();
  while (at < end) {
    const void* hit = std::memchr(at, kIac, static_cast<size_t>(end - at));
    const std::uint8_t* const stop = hit ? static_cast<const std::uint8_t*>(hit) + 1 : end;
    out.insert(out.end(), at, stop);
    if (hit) out.push_back(kIac);
    at = stop;
  }
}

std::vector<std::uint8_t> TelnetCodec::EncodeCommand(ComCommand c,
                                                     std::span<const std::uint8_t> value) const {
  return EncodeComCommand(role_, c, value);
}

std::vector<std::uint8_t> EncodeComCommand(Role role, ComCommand c,
                                           std::span<const std::uint8_t> value) {
  std::vector<std::uint8_t> out{kIac, kSb, kOptComPort,
                                static_cast<std::uint8_t>(static_cast<std::uint8_t>(c) +
                                                          (role == Role::Server ? kServerOffset : 0))};
  TelnetCodec::AppendData(value, out);
  out.insert(out.end(), {kIac, kSe});
  return out;
}

std::array<std::uint8_t, 4> EncodeBaud(std::uint32_t baud) {
  std::array<std::uint8_t, 4> v{};
  PutBe32(v, 0, baud);
  return v;
}

std::optional<std::uint32_t> DecodeBaud(std::span<const std::uint8_t> value) {
  if (value.size() != 4) return std::nullopt;
  return GetBe32(value, 0);
}

std::vector<std::uint8_t> EncodeSettings(Role role, const SerialSettings& s) {
  std::vector<std::uint8_t> out;
  const auto add = [&](ComCommand c, std::span<const std::uint8_t> value) {
    const auto cmd = EncodeComCommand(role, c, value);
    out.insert(out.end(), cmd.begin(), cmd.end());
  };
  const auto add1 = [&](ComCommand c, std::uint8_t v) { add(c, std::span(&v, 1)); };
  add(ComCommand::SetBaudRate, EncodeBaud(s.baud));
  add1(ComCommand::SetDataSize, s.data_bits);
  add1(ComCommand::SetParity, static_cast<std::uint8_t>(s.parity));
  add1(ComCommand::SetStopSize, static_cast<std::uint8_t>(s.stop));
  add1(ComCommand::SetControl, static_cast<std::uint8_t>(s.flow));
  add1(ComCommand::SetControl, s.dtr ? control::kDtrOn : control::kDtrOff);
  if (s.flow != FlowControl::RtsCts) {
    add1(ComCommand::SetControl, s.rts ? control::kRtsOn : control::kRtsOff);
  }
  return out;
}

namespace {

// The SET-CONTROL value that reports what `request` asks about.
std::uint8_t ControlState(const SerialSettings& s, std::uint8_t v) {
  using namespace control;
  if (v <= 3 || v >= 17) return static_cast<std::uint8_t>(s.flow);
  if (v <= kBreakOff) return s.break_on ? kBreakOn : kBreakOff;
  if (v <= kDtrOff) return s.dtr ? kDtrOn : kDtrOff;
  if (v <= kRtsOff) return s.rts ? kRtsOn : kRtsOff;
  switch (s.flow) {  // inbound follows outbound here
    case FlowControl::XonXoff: return kInboundXonXoff;
    case FlowControl::RtsCts: return kInboundRtsCts;
    default: return kInboundNone;
  }
}

void ApplyControl(SerialSettings& s, std::uint8_t v) {
  using namespace control;
  if (ValidFlow(v)) s.flow = static_cast<FlowControl>(v);
  else if (v == kBreakOn || v == kBreakOff) s.break_on = v == kBreakOn;
  else if (v == kDtrOn || v == kDtrOff) s.dtr = v == kDtrOn;
  else if (v == kRtsOn || v == kRtsOff) s.rts = v == kRtsOn;
}

// Applies one value of a SET-* command; returns the value to report, or nullopt when
// the command carries no setting.
std::optional<std::vector<std::uint8_t>> ApplyValue(SerialSettings& s, ComCommand c,
                                                    std::span<const std::uint8_t> value) {
  const bool one = value.size() == 1;
  const std::uint8_t v = one ? value[0] : 0;
  switch (c) {
    case ComCommand::SetBaudRate: {
      const auto baud = DecodeBaud(value);
      if (baud && *baud != 0) s.baud = *baud;
      const auto now = EncodeBaud(s.baud);
      return std::vector<std::uint8_t>(now.begin(), now.end());
    }
    case ComCommand::SetDataSize:
      if (one && v >= 5 && v <= 8) s.data_bits = v;
      return std::vector<std::uint8_t>{s.data_bits};
    case ComCommand::SetParity:
      if (one && v >= 1 && v <= 5) s.parity = static_cast<Parity>(v);
      return std::vector<std::uint8_t>{static_cast<std::uint8_t>(s.parity)};
    case ComCommand::SetStopSize:
      if (one && v >= 1 && v <= 3) s.stop = static_cast<StopBits>(v);
      return std::vector<std::uint8_t>{static_cast<std::uint8_t>(s.stop)};
    case ComCommand::SetControl:
      if (!one) return std::nullopt;
      ApplyControl(s, v);
      return std::vector<std::uint8_t>{ControlState(s, v)};
    case ComCommand::SetLineStateMask:
      if (!one) return std::nullopt;
      s.line_state_mask = v;
      return std::vector<std::uint8_t>{v};
    case ComCommand::SetModemStateMask:
      if (!one) return std::nullopt;
      s.modem_state_mask = v;
      return std::vector<std::uint8_t>{v};
    case ComCommand::PurgeData:
      if (!one || v < kPurgeReceive || v > kPurgeBoth) return std::nullopt;
      return std::vector<std::uint8_t>{v};
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<ComEvent> ApplyEvent(SerialSettings& s, const ComEvent& e) {
  auto now = ApplyValue(s, e.command, e.value);
  if (e.from_server || !now) return std::nullopt;
  return ComEvent{e.command, true, std::move(*now)};
}

}  // namespace zelin::rfc2217
