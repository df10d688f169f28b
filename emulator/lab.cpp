#include "emulator/lab.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "emulator/network_check.hpp"
#include "platform/host_interfaces.hpp"
#include "protocol/address.hpp"
#include "protocol/socket_address.hpp"

namespace zelin::emulator {
namespace {

constexpr size_t kReceiveBuffer = 256 * 1024;  // large enough to see oversized datagrams whole
constexpr int kReadsPerWake = 64;              // datagrams taken from one socket per poll round
constexpr int64_t kRebindRetryMs = 100;

bool SetNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL, 0);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// A non-blocking socket bound to ip:port (loopback only unless `isolated`), or -1 with
// the reason.
int OpenBound(int type, Ipv4 ip, uint16_t port, std::string* error, bool isolated) {
  const std::string where = AddressToText(ip) + ":" + std::to_string(port);
  if (!isolated && !IsLoopback(ip)) {
    if (error) *error = where + " is not a loopback address";
    return -1;
  }
  const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = "cannot create a socket: " + std::string(std::strerror(errno));
    return -1;
  }
  const int one = 1;
  if (type == SOCK_STREAM) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  const sockaddr_in sa = SocketAddress(ip, port);
  if (::bind(fd, AsSockaddr(sa), sizeof sa) != 0 || !SetNonBlocking(fd) ||
      (type == SOCK_STREAM && ::listen(fd, 16) != 0)) {
    if (error) *error = "cannot bind " + where + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

// The worker may be inside poll() on `fd`, which keeps the socket alive after close();
// shutdown() first, so that a listener refuses connections from this moment on.
void CloseFd(int& fd) {
  if (fd >= 0) {
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
  }
  fd = -1;
}

std::string Text(Ipv4 ip, uint16_t port) {
  return AddressToText(ip) + ":" + std::to_string(port);
}

}  // namespace

class Lab::Owners final : public AddressOwners {
 public:
  explicit Owners(const Lab& lab) : lab_(lab) {}
  std::optional<std::array<uint8_t, 6>> Owner(Ipv4 address,
                                              const DeviceState& asking) const override {
    for (const Server& s : lab_.servers_) {
      const DeviceState& st = s.device->state();
      if (&st != &asking && st.applied.ip == address) return st.hardware;
    }
    for (const OccupiedAddress& o : lab_.spec_.occupied)
      if (o.address == address) return o.hardware;
    return std::nullopt;
  }

 private:
  const Lab& lab_;
};

Lab::Lab(LabSpec desc, Clock& clock) : spec_(std::move(desc)), clock_(clock) {
  const std::string problem = CompleteAndCheck(spec_);
  if (!problem.empty()) throw std::invalid_argument(problem);
  RegisterStandardUdpHandlers(udp_);
  RegisterStandardTcpHandlers(tcp_);
  RegisterMonitorHandlers(udp_, tcp_);
  owners_ = std::make_unique<Owners>(*this);
  servers_.resize(spec_.servers.size());
  for (size_t i = 0; i < spec_.servers.size(); ++i) {
    const uint64_t seed = spec_.seed * 0x100000001B3ull + i;
    servers_[i].device = std::make_unique<Device>(spec_.servers[i], seed, spec_.strict_nonce);
    servers_[i].fault_rng.seed(seed ^ 0x5DEECE66Dull);
    const auto& server = this->desc().servers[i];
    servers_[i].serial = std::make_unique<SerialPorts>(
        server.serial_ports, server.port_count, "devsim server " + std::to_string(server.serial),
        [this, i](LogEntry e) {
          e.time_ms = Now();
          e.server = std::to_string(servers_[i].device->state().serial);
          AddLog(std::move(e));
        });
  }
}

Lab::~Lab() {
  Stop();
}

bool Lab::BindServer(Server& s, std::string* error) {
  DeviceState& st = s.device->mutable_state();
  const bool isolated = spec_.network_namespace;
  s.udp = OpenBound(SOCK_DGRAM, st.applied.ip, wire::kServerUdpPort, error, isolated);
  if (s.udp < 0) return false;
  // A server with the tcp_closed fault answers searches but refuses every connect.
  if (!st.faults.tcp_closed)
    s.listener = OpenBound(SOCK_STREAM, st.applied.ip, wire::kServerTcpPort, error, isolated);
  if ((s.listener < 0 && !st.faults.tcp_closed) || !s.serial->Bind(st.applied.ip, error, isolated)) {
    CloseFd(s.udp);
    CloseFd(s.listener);
    return false;
  }
  st.bound = true;
  return true;
}

void Lab::UnbindServer(Server& s) {
  CloseFd(s.udp);
  CloseFd(s.listener);
  s.serial->Close();
  s.device->mutable_state().bound = false;
}

bool Lab::Start(std::string* error) {
  if (running()) return true;
  std::lock_guard lock(mu_);
  start_ms_ = clock_.NowMs();
  stop_ = false;
  std::string why;
  bool ok = ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) == 0;
  if (!ok) why = "cannot create the wake-up pipe";
  if (ok && spec_.network_namespace) {
    const std::string problem = IsolatedNetworkProblem();
    if (!problem.empty()) {
      ok = false;
      why = "this lab uses addresses outside 127.0.0.0/8, which the emulator serves only "
            "inside an isolated network namespace (nothing but loopback and veth interfaces, "
            "no default route); here " + problem;
    }
  }
  if (ok) {
    broadcast_fd_ = OpenBound(SOCK_DGRAM, spec_.broadcast, wire::kServerUdpPort, &why,
                              spec_.network_namespace);
    ok = broadcast_fd_ >= 0;
    // The interface each broadcast came in through decides which servers hear it.
    const int on = 1;
    if (ok && spec_.network_namespace &&
        ::setsockopt(broadcast_fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
      why = "cannot ask for the arrival interface: " + std::string(std::strerror(errno));
      ok = false;
    }
  }
  for (size_t i = 0; ok && i < servers_.size(); ++i) ok = BindServer(servers_[i], &why);
  if (!ok) {
    CloseAll();
    if (error) *error = why;
    return false;
  }
  // ZELIN_LAB_LOG names a file that receives the request log of every in-process lab
  // that has no sink of its own: the record of what a program sent during a test run,
  // to compare two builds by.
  if (!sink_) {
    if (const char* path = std::getenv("ZELIN_LAB_LOG"); path != nullptr && *path != '\0') {
      auto file = std::make_shared<std::ofstream>(path, std::ios::app);
      sink_ = [file](const std::string& line) { *file << line << '\n' << std::flush; };
    }
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void Lab::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  const uint8_t b = 1;
  [[maybe_unused]] const auto n = ::write(wake_[1], &b, 1);
  thread_.join();
  std::lock_guard lock(mu_);
  CloseAll();
}

void Lab::CloseAll() {
  for (auto& c : connections_) CloseFd(c->fd);
  connections_.clear();
  for (Server& s : servers_) UnbindServer(s);
  CloseFd(broadcast_fd_);
  CloseFd(wake_[0]);
  CloseFd(wake_[1]);
  outbox_.clear();
}

// --- the worker ---------------------------------------------------------------------

void Lab::Run() {
  enum class Kind { kWake, kBroadcast, kUdp, kListener, kConnection, kSerial };
  struct Tag {
    Kind kind;
    size_t index;
  };
  std::vector<pollfd> fds;
  std::vector<Tag> tags;
  std::vector<uint8_t> buffer(kReceiveBuffer);
  while (!stop_) {
    int timeout_ms = -1;
    {
      std::lock_guard lock(mu_);
      fds.clear();
      tags.clear();
      fds.push_back({wake_[0], POLLIN, 0});
      tags.push_back({Kind::kWake, 0});
      fds.push_back({broadcast_fd_, POLLIN, 0});
      tags.push_back({Kind::kBroadcast, 0});
      int64_t next = INT64_MAX;
      for (size_t i = 0; i < servers_.size(); ++i) {
        const Server& s = servers_[i];
        if (s.udp >= 0) {
          fds.push_back({s.udp, POLLIN, 0});
          tags.push_back({Kind::kUdp, i});
        }
        if (s.listener >= 0) {
          fds.push_back({s.listener, POLLIN, 0});
          tags.push_back({Kind::kListener, i});
        }
        s.serial->AddPollFds(fds);
        tags.resize(fds.size(), Tag{Kind::kSerial, i});
        if (s.device->state().restarting || !s.device->state().bound)
          next = std::min(next, s.restart_end_ms);
      }
      for (size_t i = 0; i < connections_.size(); ++i) {
        const Connection& c = *connections_[i];
        const short events = static_cast<short>(POLLIN | (c.out_pos < c.out.size() ? POLLOUT : 0));
        fds.push_back({c.fd, events, 0});
        tags.push_back({Kind::kConnection, i});
        if (!c.later.empty()) next = std::min(next, c.later.front().first);
      }
      if (!outbox_.empty()) next = std::min(next, outbox_.begin()->first);
      if (next != INT64_MAX) {
        const int64_t wait = std::max<int64_t>(0, next - Now());
        timeout_ms = static_cast<int>(std::min<int64_t>(clock_.RealWaitMs(wait), 1000));
      }
    }
    const int ready = ::poll(fds.data(), fds.size(), timeout_ms);
    if (ready < 0 && errno != EINTR) break;
    std::lock_guard lock(mu_);
    if (stop_) break;
    // Connections may close while events are handled; collect them first.
    std::vector<Connection*> conns;
    for (auto& c : connections_) conns.push_back(c.get());
    for (size_t k = 0; ready > 0 && k < fds.size(); ++k) {
      if (fds[k].revents == 0) continue;
      const Tag t = tags[k];
      switch (t.kind) {
        case Kind::kWake: {
          uint8_t drain[64];
          while (::read(wake_[0], drain, sizeof drain) > 0) {
          }
          break;
        }
        case Kind::kBroadcast:
          OnUdp(broadcast_fd_, std::nullopt, buffer);
          break;
        case Kind::kUdp:
          if (servers_[t.index].udp == fds[k].fd) OnUdp(fds[k].fd, t.index, buffer);
          break;
        case Kind::kListener:
          if (servers_[t.index].listener == fds[k].fd) OnAccept(t.index);
          break;
        case Kind::kSerial:
          servers_[t.index].serial->OnReady(fds[k].fd, fds[k].revents, buffer);
          break;
        case Kind::kConnection: {
          Connection& c = *conns[t.index];
          if (c.fd < 0) break;
          if (fds[k].revents & POLLOUT) Flush(c);
          if (c.fd >= 0 && (fds[k].revents & (POLLIN | POLLHUP | POLLERR))) OnConnection(c, buffer);
          break;
        }
      }
    }
    RunTimers();
    std::erase_if(connections_, [](const std::unique_ptr<Connection>& c) { return c->fd < 0; });
  }
}

void Lab::OnUdp(int fd, std::optional<size_t> server, std::vector<uint8_t>& buffer) {
  for (int n = 0; n < kReadsPerWake; ++n) {
    sockaddr_in sa{};
    iovec iov{buffer.data(), buffer.size()};
    alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = &sa;
    msg.msg_namelen = sizeof sa;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t got = ::recvmsg(fd, &msg, MSG_DONTWAIT);
    if (got < 0) return;
    ++stats_.datagrams;
    int arrived_on = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
      in_pktinfo info{};
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      arrived_on = info.ipi_ifindex;
    }
    const Endpoint from{sa.sin_addr.s_addr, ntohs(sa.sin_port)};
    const Ipv4 to = server ? servers_[*server].device->state().applied.ip : spec_.broadcast;
    HandleDatagram(server, Bytes(buffer.data(), static_cast<size_t>(got)), from, to, arrived_on);
    if (server && servers_[*server].udp != fd) return;  // restarted meanwhile
  }
}

void Lab::HandleDatagram(std::optional<size_t> server, Bytes d, Endpoint from, Ipv4 to,
                         int arrived_on) {
  LogEntry base;
  base.time_ms = Now();
  base.to = Text(to, wire::kServerUdpPort);
  base.from = EndpointText(from);
  base.code = d.empty() ? -1 : d[0];
  base.length = d.size();
  base.hex = HexOf(d);
  for (Server& s : servers_) s.device->mutable_state().traffic.now_ms = base.time_ms;
  if (server) {
    UdpOutcome o = servers_[*server].device->HandleDatagram(d, from, udp_, *owners_);
    Deliver(*server, from, o);
    LogEntry e = base;
    e.server = std::to_string(servers_[*server].device->state().serial);
    e.sequence = o.sequence;
    e.verdict = o.verdict;
    e.status = o.status;
    if (o.reply.empty()) ++stats_.ignored;
    AddLog(std::move(e));
    return;
  }
  // The broadcast stand-in: every server hears the datagram. A real broadcast in a
  // network-namespace lab reaches only the servers on the interface it came in through.
  bool answered = false;
  std::string reason;
  int sequence = -1;
  for (size_t i = 0; i < servers_.size(); ++i) {
    if (!servers_[i].device->state().bound) continue;
    if (spec_.network_namespace &&
        ResolveHostInterfaces({servers_[i].device->state().applied.ip})[0].index != arrived_on)
      continue;
    UdpOutcome o = servers_[i].device->HandleDatagram(d, from, udp_, *owners_);
    sequence = o.sequence;
    if (o.reply.empty()) {
      if (reason.empty()) {
        reason = o.verdict;
      } else if (reason != o.verdict) {
        reason = "ignored:not taken by any server";
      }
      continue;
    }
    answered = true;
    Deliver(i, from, o);
    LogEntry e = base;
    e.server = std::to_string(servers_[i].device->state().serial);
    e.sequence = o.sequence;
    e.verdict = o.verdict;
    e.status = o.status;
    AddLog(std::move(e));
  }
  if (!answered) {
    ++stats_.ignored;
    LogEntry e = base;
    e.server = "broadcast";
    e.sequence = sequence;
    e.verdict = reason.empty() ? "ignored:no server running" : reason;
    AddLog(std::move(e));
  }
}

void Lab::Deliver(size_t server, Endpoint to, UdpOutcome& o) {
  if (o.reply.empty()) return;
  Server& s = servers_[server];
  FaultSettings& f = s.device->mutable_state().faults;
  const int64_t due = Now() + f.delay_ms;
  if (f.stale && !o.previous.empty()) outbox_.emplace(due, Outgoing{server, to, o.previous, false});
  bool drop = false;
  if (f.drop_next > 0) {
    --f.drop_next;
    drop = true;
  } else {
    drop = f.drop_share > 0 &&
           std::uniform_real_distribution<double>(0.0, 1.0)(s.fault_rng) < f.drop_share;
  }
  if (drop) {
    ++stats_.replies_dropped;
    o.verdict += " [reply dropped]";
  } else {
    outbox_.emplace(due, Outgoing{server, to, o.reply, false});
    if (f.duplicate) outbox_.emplace(due, Outgoing{server, to, o.reply, false});
  }
  if (o.restart_after_reply) outbox_.emplace(due, Outgoing{server, {}, {}, true});  // applies
}

void Lab::RunTimers() {
  const int64_t now = Now();
  while (!outbox_.empty() && outbox_.begin()->first <= now) {
    Outgoing item = std::move(outbox_.begin()->second);
    outbox_.erase(outbox_.begin());
    Server& s = servers_[item.server];
    if (item.restart) {
      BeginRestart(item.server, /*apply_staged=*/true);
      continue;
    }
    // Replies go back to where requests came from, which on these sockets is loopback
    // (or, in a network-namespace lab, an address of its own isolated network).
    if (s.udp < 0 || (!spec_.network_namespace && !IsLoopback(item.to.address))) continue;
    const sockaddr_in sa = SocketAddress(item.to.address, item.to.port);
    if (::sendto(s.udp, item.bytes.data(), item.bytes.size(), 0, AsSockaddr(sa), sizeof sa) >= 0)
      ++stats_.replies_sent;
  }
  // TCP bytes that handlers scheduled for later (progress reports).
  for (auto& c : connections_) {
    bool due = false;
    while (c->fd >= 0 && !c->later.empty() && c->later.front().first <= now) {
      if (c->later.front().second.empty()) c->close_after_flush = true;  // a scheduled close
      if (!c->draining) c->out.insert(c->out.end(), c->later.front().second.begin(),
                                      c->later.front().second.end());
      c->later.pop_front();
      due = true;
    }
    if (due) Flush(*c);
  }
  for (size_t i = 0; i < servers_.size(); ++i) {
    Server& s = servers_[i];
    DeviceState& st = s.device->mutable_state();
    if (!(st.restarting || !st.bound) || s.restart_end_ms > now) continue;
    for (auto& c : connections_)
      if (c->server == i) CloseFd(c->fd);
    std::string why;
    if (BindServer(s, &why)) {
      st.restarting = false;
    } else {
      s.restart_end_ms = now + kRebindRetryMs;
      LogEntry e;
      e.time_ms = now;
      e.server = std::to_string(st.serial);
      e.proto = "udp";
      e.verdict = "restart: " + why;
      AddLog(std::move(e));
    }
  }
}

void Lab::BeginRestart(size_t server, bool apply_staged) {
  Server& s = servers_[server];
  if (s.device->state().restarting) return;
  s.device->BeginRestart(apply_staged);
  UnbindServer(s);
  s.restart_end_ms = Now() + spec_.restart_ms;
  s.device->mutable_state().traffic.booted_ms = s.restart_end_ms;  // counters start again
  for (auto& c : connections_)
    if (c->server == server) c->draining = true;
}

// --- TCP ------------------------------------------------------------------------------

void Lab::OnAccept(size_t server) {
  for (;;) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    const int fd = ::accept4(servers_[server].listener, reinterpret_cast<sockaddr*>(&sa), &len,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    ++stats_.tcp_connections;
    size_t open = 0;
    for (const auto& c : connections_) open += c->server == server && c->fd >= 0 ? 1 : 0;
    if (open >= kMaxConnectionsPerServer) {
      ::close(fd);
      continue;
    }
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    c->server = server;
    c->peer = {sa.sin_addr.s_addr, ntohs(sa.sin_port)};
    c->session = std::make_unique<TcpSession>(*servers_[server].device, tcp_);
    connections_.push_back(std::move(c));
  }
}

void Lab::OnConnection(Connection& c, std::vector<uint8_t>& buffer) {
  const ssize_t got = ::recv(c.fd, buffer.data(), buffer.size(), 0);
  if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    CloseFd(c.fd);  // the client went away, possibly in the middle of an image
    return;
  }
  if (got < 0 || c.draining || c.close_after_flush) return;
  Server& s = servers_[c.server];
  s.device->mutable_state().traffic.now_ms = Now();
  std::vector<TcpSession::Event> events;
  const TcpAction action =
      c.session->Feed(Bytes(buffer.data(), static_cast<size_t>(got)), c.out, events);
  for (TcpSession::Event& ev : events) {
    LogEntry e;
    e.time_ms = Now();
    e.server = std::to_string(s.device->state().serial);
    e.proto = "tcp";
    e.to = Text(s.device->state().applied.ip, wire::kServerTcpPort);
    e.from = EndpointText(c.peer);
    e.code = ev.code;
    e.length = ev.length;
    e.verdict = std::move(ev.verdict);
    e.hex = HexOf(ev.head);
    AddLog(std::move(e));
  }
  if (action == TcpAction::kClose) c.close_after_flush = true;
  int64_t due = c.later.empty() ? Now() : std::max(Now(), c.later.back().first);
  for (TcpSession::Scheduled& later : c.session->TakeScheduled()) {
    due += later.delay_ms;
    c.later.emplace_back(due, std::move(later.bytes));
  }
  Flush(c);
  if (c.session->restart_requested()) {
    c.session->clear_restart_request();
    // Only SaveAndRestart applies staged settings; the new firmware starts without them.
    BeginRestart(c.server, /*apply_staged=*/false);
  }
}

void Lab::Flush(Connection& c) {
  while (c.fd >= 0 && c.out_pos < c.out.size()) {
    const ssize_t sent =
        ::send(c.fd, c.out.data() + c.out_pos, c.out.size() - c.out_pos, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      CloseFd(c.fd);
      return;
    }
    c.out_pos += static_cast<size_t>(sent);
  }
  c.out.clear();
  c.out_pos = 0;
  if (c.close_after_flush) CloseFd(c.fd);
}

// --- accessors ------------------------------------------------------------------------

void Lab::AddLog(LogEntry entry) {
  if (sink_) sink_(entry.ToJson());
  log_.push_back(std::move(entry));
  while (log_.size() > kLogCapacity) log_.pop_front();
}

std::vector<DeviceState> Lab::Snapshots() const {
  std::lock_guard lock(mu_);
  std::vector<DeviceState> out;
  for (const Server& s : servers_) out.push_back(s.device->state());
  return out;
}

std::optional<DeviceState> Lab::Snapshot(uint16_t serial) const {
  std::lock_guard lock(mu_);
  for (const Server& s : servers_)
    if (s.device->state().serial == serial) return s.device->state();
  return std::nullopt;
}

std::vector<LogEntry> Lab::Log() const {
  std::lock_guard lock(mu_);
  return {log_.begin(), log_.end()};
}

void Lab::ClearLog() {
  std::lock_guard lock(mu_);
  log_.clear();
}

LabStats Lab::Stats() const {
  std::lock_guard lock(mu_);
  return stats_;
}

bool Lab::SetFaults(uint16_t serial, const FaultSettings& faults) {
  std::lock_guard lock(mu_);
  for (Server& s : servers_) {
    if (s.device->state().serial == serial) {
      s.device->mutable_state().faults = faults;
      return true;
    }
  }
  return false;
}

bool Lab::Restart(uint16_t serial) {
  std::lock_guard lock(mu_);
  for (size_t i = 0; i < servers_.size(); ++i) {
    if (servers_[i].device->state().serial != serial) continue;
    BeginRestart(i, /*apply_staged=*/false);
    const uint8_t b = 1;  // the worker recomputes its wait
    [[maybe_unused]] const auto n = ::write(wake_[1], &b, 1);
    return true;
  }
  return false;
}

std::optional<rfc2217::SerialSettings> Lab::PortSettings(uint16_t serial, int port) const {
  std::lock_guard lock(mu_);
  for (const Server& s : servers_)
    if (s.device->state().serial == serial) return s.serial->Settings(port);
  return std::nullopt;
}

bool Lab::Modify(uint16_t serial, const std::function<void(DeviceState&)>& change) {
  std::lock_guard lock(mu_);
  for (Server& s : servers_) {
    DeviceState& st = s.device->mutable_state();
    if (st.serial == serial) {
      const Ipv4 ip = st.applied.ip;
      change(st);
      st.applied.ip = ip;
      return true;
    }
  }
  return false;
}

}  // namespace zelin::emulator
