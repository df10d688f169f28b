#pragma once
// Telnet (RFC 854/855) with the Com Port Control option (RFC 2217): the byte stream
// between a host and one serial port of a device server. Pure byte work: no socket,
// no clock. The port bridge speaks the client role, devsim's serial ports the server
// role.
//
//   TelnetCodec   one connection's parser and option state. Receive() splits what the
//                 peer sent into payload and COM-PORT commands and queues the answers to
//                 the peer's option requests (TakeOutput). Send Greeting() once, first.
//   AppendData    payload for the wire (0xFF doubled).
//   EncodeCommand one COM-PORT subnegotiation in this role's numbering (server codes are
//                 the client's + 100); the value's 0xFF bytes are doubled.
//   SerialSettings, EncodeSettings, ApplyEvent: the line settings carried by the
//                 SET-* commands, and how a server applies a client's command and what it
//                 answers.
//
// Thread safety: a TelnetCodec belongs to one connection and one thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zelin::rfc2217 {

inline constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251,
                              kSb = 250, kSe = 240, kOptBinary = 0, kOptSga = 3,
                              kOptComPort = 44, kServerOffset = 100;

// The longest subnegotiation body (option byte excluded, after undoubling) that is
// kept; a longer one is read to its end and dropped.
inline constexpr std::size_t kMaxSubnegotiation = 256;

// Client numbering; a server sends command + kServerOffset.
enum class ComCommand : std::uint8_t {
  Signature = 0,
  SetBaudRate = 1,
  SetDataSize = 2,
  SetParity = 3,
  SetStopSize = 4,
  SetControl = 5,
  NotifyLineState = 6,
  NotifyModemState = 7,
  FlowControlSuspend = 8,
  FlowControlResume = 9,
  SetLineStateMask = 10,
  SetModemStateMask = 11,
  PurgeData = 12
};

enum class Role { Client, Server };

// One COM-PORT subnegotiation: its command, which side sent it, its value (undoubled).
struct ComEvent {
  ComCommand command;
  bool from_server;
  std::vector<std::uint8_t> value;
  bool operator==(const ComEvent&) const = default;
};

class TelnetCodec {
 public:
  explicit TelnetCodec(Role role);

  // Bytes from the peer, in any pieces: payload goes to `data` (IAC IAC -> 0xFF), each
  // whole COM-PORT subnegotiation sent in the peer's direction to `events`; option
  // requests are answered into the pending output. Other telnet commands, other
  // options' subnegotiations, commands in the wrong direction or with unknown codes and
  // subnegotiations longer than kMaxSubnegotiation are dropped. Never writes more data
  // than it reads. Payload and commands of one call are returned apart: a caller that
  // needs their relative order (data sent after a SET-BAUDRATE) feeds smaller pieces.
  void Receive(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& data,
               std::vector<ComEvent>& events);
  // The negotiation answers Receive produced since the last call.
  std::vector<std::uint8_t> TakeOutput();
  // This role's opening requests. The codec counts them as sent from construction on,
  // so the peer's agreement is not answered again.
  //   client: WILL COM-PORT, WILL BINARY, DO BINARY, DO SGA
  //   server: DO COM-PORT, WILL BINARY, DO BINARY, WILL SGA
  std::vector<std::uint8_t> Greeting() const;
  // Client: the peer sent DO COM-PORT. Server: the peer sent WILL COM-PORT.
  bool ComPortAgreed() const;
  // Client: the peer answered DONT COM-PORT. Server: the peer answered WONT COM-PORT.
  bool ComPortRefused() const;
  // Binary transmission agreed in both directions (no CR/NUL rules on the payload).
  bool BinaryAgreed() const;

  static void AppendData(std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& out);
  std::vector<std::uint8_t> EncodeCommand(ComCommand c, std::span<const std::uint8_t> value) const;

  Role role() const { return role_; }

 private:
  enum class State : std::uint8_t { Data, Iac, Verb, SbOption, SbBody, SbIac };
  struct Option {
    bool enabled = false;
    bool pending = false;  // we asked and wait for the answer
  };
  static int Slot(std::uint8_t option);
  void OnVerb(std::uint8_t verb, std::uint8_t option);
  void Answer(Option* side, bool enable, bool allowed, std::uint8_t yes, std::uint8_t no,
              std::uint8_t option);
  void EndSubnegotiation(std::vector<ComEvent>& events);
  void Queue(std::uint8_t verb, std::uint8_t option);
  bool WeSupport(std::uint8_t option) const;   // we may enable it on our side (WILL)
  bool PeerMay(std::uint8_t option) const;     // we let the peer enable it (DO)

  Role role_;
  State state_ = State::Data;
  std::uint8_t verb_ = 0;
  std::uint8_t sb_option_ = 0;
  bool sb_overflow_ = false;
  std::vector<std::uint8_t> sb_;
  std::array<Option, 3> us_{};    // binary, SGA, COM-PORT on our side
  std::array<Option, 3> peer_{};  // the same on the peer's side
  std::vector<std::uint8_t> out_;
};

// Free form of TelnetCodec::EncodeCommand.
std::vector<std::uint8_t> EncodeComCommand(Role role, ComCommand c,
                                           std::span<const std::uint8_t> value);

// SET-BAUDRATE value: 4 bytes, network order (0 asks for the current rate).
std::array<std::uint8_t, 4> EncodeBaud(std::uint32_t baud);
std::optional<std::uint32_t> DecodeBaud(std::span<const std::uint8_t> value);

// Wire values of SET-PARITY, SET-STOPSIZE and the outbound flow values of SET-CONTROL
// (0 asks for the current value in each).
enum class Parity : std::uint8_t { None = 1, Odd = 2, Even = 3, Mark = 4, Space = 5 };
enum class StopBits : std::uint8_t { One = 1, Two = 2, OnePointFive = 3 };
enum class FlowControl : std::uint8_t { None = 1, XonXoff = 2, RtsCts = 3 };

// SET-CONTROL values.
namespace control {
inline constexpr std::uint8_t kRequestFlow = 0, kBreakRequest = 4, kBreakOn = 5, kBreakOff = 6,
                              kDtrRequest = 7, kDtrOn = 8, kDtrOff = 9, kRtsRequest = 10,
                              kRtsOn = 11, kRtsOff = 12, kInboundRequest = 13,
                              kInboundNone = 14, kInboundXonXoff = 15, kInboundRtsCts = 16;
}
// PURGE-DATA values.
inline constexpr std::uint8_t kPurgeReceive = 1, kPurgeTransmit = 2, kPurgeBoth = 3;

struct SerialSettings {
  std::uint32_t baud = 9600;
  std::uint8_t data_bits = 8;  // 5..8
  Parity parity = Parity::None;
  StopBits stop = StopBits::One;
  FlowControl flow = FlowControl::None;
  bool dtr = true;
  bool rts = true;
  bool break_on = false;
  std::uint8_t line_state_mask = 0;
  std::uint8_t modem_state_mask = 255;
  bool operator==(const SerialSettings&) const = default;
};

// The commands that set every field in `s` (baud, size, parity, stop, flow, DTR and,
// unless the flow is RTS/CTS, RTS), in `role`'s numbering: a client's request of these
// settings, or a server's report of them.
std::vector<std::uint8_t> EncodeSettings(Role role, const SerialSettings& s);

// Applies `e` to `s`.
// - A client's command (server side): a valid SET-* value changes `s`, an invalid or
//   request value (0) leaves it; the answer is the server's command carrying the value
//   now in effect (PURGE-DATA and the masks echo the value). Signature, notifications
//   and flow suspend/resume get no answer here (nullopt).
// - A server's command (client side): the value the server reports is recorded in `s`;
//   returns nullopt.
std::optional<ComEvent> ApplyEvent(SerialSettings& s, const ComEvent& e);

}  // namespace zelin::rfc2217
