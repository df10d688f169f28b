#include "emulator/serial_ports.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "protocol/address.hpp"

namespace zelin::emulator {

namespace rfc = rfc2217;

namespace {

// Modem-state bits of NOTIFY-MODEMSTATE.
constexpr uint8_t kModemCd = 0x80, kModemDsr = 0x20, kModemCts = 0x10, kDeltaCd = 0x08,
                  kDeltaDsr = 0x02, kDeltaCts = 0x01;

int Listen(Ipv4 ip, uint16_t port, std::string* error, bool isolated) {
  const std::string where = AddressToText(ip) + ":" + std::to_string(port);
  if (!isolated && !IsLoopback(ip)) {
    if (error) *error = where + " is not a loopback address";
    return -1;
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    if (error) *error = "cannot create a socket: " + std::string(std::strerror(errno));
    return -1;
  }
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = ip;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 4) != 0) {
    if (error) *error = "cannot bind " + where + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

const char* CommandName(rfc::ComCommand c) {
  static constexpr std::array<const char*, 13> kNames{
      "signature",         "set-baudrate",        "set-datasize",         "set-parity",
      "set-stopsize",      "set-control",         "notify-linestate",     "notify-modemstate",
      "flowcontrol-suspend", "flowcontrol-resume", "set-linestate-mask", "set-modemstate-mask",
      "purge-data"};
  const auto i = static_cast<size_t>(c);
  return i < kNames.size() ? kNames[i] : "unknown";
}

}  // namespace

struct SerialPorts::Link {
  int fd = -1;
  Endpoint peer;
  std::optional<rfc::TelnetCodec> codec;  // none in raw mode
  std::vector<uint8_t> out;               // bytes for the client, from out_pos on
  size_t out_pos = 0;
  bool suspended = false;      // the client asked us to hold the data
  std::vector<uint8_t> held;   // payload held meanwhile
};

struct SerialPorts::Port {
  int listener = -1;
  std::unique_ptr<Link> link;
  rfc::SerialSettings settings;
  uint8_t modem = 0;  // lines last seen by the port's client
};

SerialPorts::SerialPorts(const SerialPortsConfig& config, uint8_t port_count,
                         std::string signature, std::function<void(LogEntry)> log)
    : config_(config), signature_(std::move(signature)), log_(std::move(log)) {
  if (config_.mode != SerialMode::kOff) ports_.resize(port_count);
  for (size_t i = 0; i < ports_.size(); ++i) ports_[i].modem = ModemLines(i);
}

SerialPorts::~SerialPorts() {
  Close();
}

bool SerialPorts::Bind(Ipv4 ip, std::string* error, bool isolated) {
  ip_ = ip;
  for (size_t i = 0; i < ports_.size(); ++i) {
    ports_[i].listener = Listen(ip, TcpPort(static_cast<int>(i + 1)), error, isolated);
    if (ports_[i].listener < 0) {
      Close();
      return false;
    }
  }
  return true;
}

void SerialPorts::Close() {
  for (Port& p : ports_) {
    // shutdown() before close(): the lab's worker may be polling these sockets, which
    // would keep the listener accepting until its poll returns.
    if (p.link && p.link->fd >= 0) {
      ::shutdown(p.link->fd, SHUT_RDWR);
      ::close(p.link->fd);
    }
    p.link.reset();
    if (p.listener >= 0) {
      ::shutdown(p.listener, SHUT_RDWR);
      ::close(p.listener);
    }
    p.listener = -1;
    p.settings = {};
  }
  for (size_t i = 0; i < ports_.size(); ++i) ports_[i].modem = ModemLines(i);
}

void SerialPorts::AddPollFds(std::vector<pollfd>& fds) const {
  for (const Port& p : ports_) {
    if (p.listener >= 0) fds.push_back({p.listener, POLLIN, 0});
    if (p.link) {
      const bool pending = p.link->out_pos < p.link->out.size();
      fds.push_back({p.link->fd, static_cast<short>(POLLIN | (pending ? POLLOUT : 0)), 0});
    }
  }
}

void SerialPorts::OnReady(int fd, short revents, std::vector<uint8_t>& buffer) {
  for (size_t i = 0; i < ports_.size(); ++i) {
    if (ports_[i].listener == fd) return OnAccept(i);
    if (ports_[i].link && ports_[i].link->fd == fd) {
      if (revents & POLLOUT) Flush(i);
      if (ports_[i].link && (revents & (POLLIN | POLLHUP | POLLERR))) OnData(i, buffer);
      return;
    }
  }
}

std::optional<rfc::SerialSettings> SerialPorts::Settings(int port) const {
  if (port < 1 || static_cast<size_t>(port) > ports_.size()) return std::nullopt;
  return ports_[static_cast<size_t>(port - 1)].settings;
}

bool SerialPorts::Connected(int port) const {
  return port >= 1 && static_cast<size_t>(port) <= ports_.size() &&
         ports_[static_cast<size_t>(port - 1)].link != nullptr;
}

size_t SerialPorts::WiredTo(size_t index) const {
  const auto port = static_cast<uint8_t>(index + 1);
  for (const auto& [a, b] : config_.pairs) {
    if (a == port) return b - 1u;
    if (b == port) return a - 1u;
  }
  return index;
}

LogEntry SerialPorts::Entry(size_t index, const Endpoint& peer) const {
  LogEntry e;
  e.proto = "serial";
  e.to = AddressToText(ip_) + ":" + std::to_string(TcpPort(static_cast<int>(index + 1)));
  e.from = EndpointText(peer);
  return e;
}

void SerialPorts::OnAccept(size_t index) {
  Port& p = ports_[index];
  for (;;) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    const int fd = ::accept4(p.listener, reinterpret_cast<sockaddr*>(&sa), &len,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    const Endpoint peer{sa.sin_addr.s_addr, ntohs(sa.sin_port)};
    LogEntry e = Entry(index, peer);
    if (p.link) {
      ::close(fd);  // one client per port
      e.verdict = "refused:port busy";
      log_(std::move(e));
      continue;
    }
    p.link = std::make_unique<Link>();
    p.link->fd = fd;
    p.link->peer = peer;
    e.verdict = "connected";
    log_(std::move(e));
    if (config_.mode == SerialMode::kRfc2217) {
      p.link->codec.emplace(rfc::Role::Server);
      Send(index, p.link->codec->Greeting());
    }
  }
}

void SerialPorts::Drop(size_t index, const std::string& why) {
  Port& p = ports_[index];
  if (!p.link) return;
  LogEntry e = Entry(index, p.link->peer);
  e.verdict = why;
  ::close(p.link->fd);
  p.link.reset();
  log_(std::move(e));
}

void SerialPorts::OnData(size_t index, std::vector<uint8_t>& buffer) {
  Link& link = *ports_[index].link;
  const ssize_t got = ::recv(link.fd, buffer.data(), buffer.size(), 0);
  if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    Drop(index, "closed");
    return;
  }
  if (got < 0) return;
  const std::span<const uint8_t> in(buffer.data(), static_cast<size_t>(got));
  if (!link.codec) {
    Deliver(WiredTo(index), in);
    return;
  }
  std::vector<uint8_t> data;
  std::vector<rfc::ComEvent> events;
  link.codec->Receive(in, data, events);
  Send(index, link.codec->TakeOutput());  // may drop the link
  if (!ports_[index].link) return;
  Deliver(WiredTo(index), data);
  for (const rfc::ComEvent& ev : events) {
    if (!ports_[index].link) return;
    OnCommand(index, ev);
  }
}

void SerialPorts::OnCommand(size_t index, const rfc::ComEvent& event) {
  Port& p = ports_[index];
  const rfc::SerialSettings before = p.settings;
  std::optional<rfc::ComEvent> answer = rfc::ApplyEvent(p.settings, event);
  const uint8_t v = event.value.size() == 1 ? event.value[0] : 0;
  switch (event.command) {
    case rfc::ComCommand::Signature:
      if (event.value.empty())
        answer = rfc::ComEvent{event.command, true, {signature_.begin(), signature_.end()}};
      break;
    case rfc::ComCommand::FlowControlSuspend:
      p.link->suspended = true;
      break;
    case rfc::ComCommand::FlowControlResume: {
      p.link->suspended = false;
      std::vector<uint8_t> held;
      held.swap(p.link->held);
      Deliver(index, held);
      break;
    }
    case rfc::ComCommand::PurgeData:
      if (v == rfc::kPurgeReceive || v == rfc::kPurgeBoth) p.link->held.clear();
      break;
    default:
      break;
  }
  if (!p.link) return;  // lost while the held bytes went out
  LogEntry e = Entry(index, p.link->peer);
  e.code = static_cast<int>(event.command);
  e.length = event.value.size();
  e.hex = HexOf(event.value);
  e.verdict = CommandName(event.command);
  if (answer) {
    const auto baud = rfc::DecodeBaud(answer->value);
    if (event.command == rfc::ComCommand::SetBaudRate && baud) {
      (e.verdict += ' ') += std::to_string(*baud);
    } else if (event.command != rfc::ComCommand::Signature && answer->value.size() == 1) {
      (e.verdict += ' ') += std::to_string(answer->value[0]);
    }
  }
  log_(std::move(e));
  if (answer && p.link) Send(index, p.link->codec->EncodeCommand(answer->command, answer->value));
  if (before.dtr != p.settings.dtr || before.rts != p.settings.rts) NotifyModem(WiredTo(index));
}

// What the port's client sees of the lines: the wired port's RTS as CTS, its DTR as
// DSR and CD.
uint8_t SerialPorts::ModemLines(size_t index) const {
  const rfc::SerialSettings& s = ports_[WiredTo(index)].settings;
  return static_cast<uint8_t>((s.rts ? kModemCts : 0) | (s.dtr ? kModemCd | kModemDsr : 0));
}

void SerialPorts::NotifyModem(size_t index) {
  Port& p = ports_[index];
  const uint8_t lines = ModemLines(index);
  const uint8_t changed = lines ^ p.modem;
  p.modem = lines;
  if (!changed || !p.link || !p.link->codec) return;
  const uint8_t delta = static_cast<uint8_t>(((changed & kModemCts) ? kDeltaCts : 0) |
                                             ((changed & kModemDsr) ? kDeltaDsr : 0) |
                                             ((changed & kModemCd) ? kDeltaCd : 0));
  const uint8_t value = static_cast<uint8_t>((lines | delta) & p.settings.modem_state_mask);
  if (value == 0) return;
  Send(index, p.link->codec->EncodeCommand(rfc::ComCommand::NotifyModemState,
                                           std::span(&value, 1)));
}

void SerialPorts::Deliver(size_t index, std::span<const uint8_t> payload) {
  Link* link = ports_[index].link.get();
  if (!link || payload.empty()) return;  // nobody on that port: the bytes are lost
  if (link->suspended) {
    const size_t room = kSerialBufferLimit - std::min(kSerialBufferLimit, link->held.size());
    link->held.insert(link->held.end(), payload.begin(),
                      payload.begin() + static_cast<ptrdiff_t>(std::min(room, payload.size())));
    return;
  }
  if (link->out.size() - link->out_pos >= kSerialBufferLimit) return;  // overflow
  if (link->codec) {
    std::vector<uint8_t> bytes;
    rfc::TelnetCodec::AppendData(payload, bytes);
    Send(index, bytes);
  } else {
    Send(index, payload);
  }
}

void SerialPorts::Send(size_t index, std::span<const uint8_t> wire_bytes) {
  Link* link = ports_[index].link.get();
  if (!link || wire_bytes.empty()) return;
  link->out.insert(link->out.end(), wire_bytes.begin(), wire_bytes.end());
  Flush(index);
}

void SerialPorts::Flush(size_t index) {
  Link* link = ports_[index].link.get();
  while (link && link->out_pos < link->out.size()) {
    const ssize_t sent = ::send(link->fd, link->out.data() + link->out_pos,
                                link->out.size() - link->out_pos, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      Drop(index, "closed:" + std::string(std::strerror(errno)));
      return;
    }
    link->out_pos += static_cast<size_t>(sent);
  }
  if (link) {
    link->out.clear();
    link->out_pos = 0;
  }
}

}  // namespace zelin::emulator
