#include "tests/bridge/bridge_util.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>

#include "protocol/socket_address.hpp"
#include "store/hive_file.hpp"
#include "store/server_store.hpp"

namespace zelin::testing {

EchoServer::EchoServer(Ipv4 address, uint16_t port, bool telnet, uint32_t max_baud)
    : address_(address), port_(port), telnet_(telnet), max_baud_(max_baud), thread_([this] { Loop(); }) {
  SetListening(true);
}

EchoServer::~EchoServer() {
  quit_ = true;
  thread_.join();
}

void EchoServer::SetListening(bool on) {
  std::unique_lock lock(mu_);
  want_listening_ = on;
  cv_.wait(lock, [&] { return listening_ == on; });
}

std::vector<uint8_t> EchoServer::Received() {
  std::lock_guard lock(mu_);
  return received_;
}

std::vector<rfc2217::ComEvent> EchoServer::Commands() {
  std::lock_guard lock(mu_);
  return commands_;
}

std::vector<size_t> EchoServer::CommandsAt() {
  std::lock_guard lock(mu_);
  return commands_at_;
}

std::vector<size_t> EchoServer::AcceptsAt() {
  std::lock_guard lock(mu_);
  return accepts_at_;
}

void EchoServer::Inject(std::vector<uint8_t> bytes) {
  std::lock_guard lock(mu_);
  inject_.insert(inject_.end(), bytes.begin(), bytes.end());
}

namespace {
void SendAll(int fd, const std::vector<uint8_t>& bytes) {
  for (size_t off = 0; off < bytes.size();) {
    const ssize_t w = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (w <= 0) break;
    off += static_cast<size_t>(w);
  }
}
}  // namespace

void EchoServer::Loop() {
  int listener = -1;
  struct Client {
    explicit Client(int f) : fd(f) {}
    int fd;
    rfc2217::TelnetCodec codec{rfc2217::Role::Server};
    rfc2217::SerialSettings settings;
  };
  std::vector<std::unique_ptr<Client>> clients;
  while (!quit_) {
    std::vector<uint8_t> inject;
    {
      std::lock_guard lock(mu_);
      if (want_listening_ && listener < 0) {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        const sockaddr_in sa = SocketAddress(address_, port_);
        if (::bind(listener, AsSockaddr(sa), sizeof sa) != 0 || ::listen(listener, 8) != 0)
          ADD_FAILURE() << "echo server cannot listen on port " << port_;
      } else if (!want_listening_ && listener >= 0) {
        ::close(listener);
        listener = -1;
        for (const auto& c : clients) ::close(c->fd);
        clients.clear();
      }
      listening_ = listener >= 0;
      inject.swap(inject_);
    }
    cv_.notify_all();
    for (const auto& c : clients) SendAll(c->fd, inject);
    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    for (const auto& c : clients) fds.push_back({c->fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), 10) <= 0) continue;
    if (fds[0].revents != 0) {
      const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        clients.push_back(std::make_unique<Client>(fd));
        if (telnet_) SendAll(fd, clients.back()->codec.Greeting());
        std::lock_guard lock(mu_);
        accepts_at_.push_back(received_.size());
        ++accepted_;
      }
    }
    for (size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      Client& c = *clients[i - 1];
      std::array<uint8_t, 8192> buf;
      const ssize_t n = ::recv(c.fd, buf.data(), buf.size(), 0);
      if (n <= 0) {
        ::close(c.fd);
        c.fd = -1;
        continue;
      }
      std::vector<uint8_t> data, out;
      std::vector<rfc2217::ComEvent> events;
      std::vector<size_t> at;  // each command's place in the data received
      if (telnet_) {
        // Byte by byte, so that every command's place among the data is exact.
        for (ssize_t k = 0; k < n; ++k) {
          const size_t before = events.size();
          c.codec.Receive(std::span<const uint8_t>(&buf[static_cast<size_t>(k)], 1), data, events);
          if (events.size() > before) at.push_back(data.size());
        }
        out = c.codec.TakeOutput();
        for (auto e : events) {
          if (e.command == rfc2217::ComCommand::SetBaudRate && max_baud_ != 0 &&
              rfc2217::DecodeBaud(e.value).value_or(0) > max_baud_) {
            const auto most = rfc2217::EncodeBaud(max_baud_);
            e.value.assign(most.begin(), most.end());
          }
          if (auto answer = rfc2217::ApplyEvent(c.settings, e)) {
            const auto bytes = c.codec.EncodeCommand(answer->command, answer->value);
            out.insert(out.end(), bytes.begin(), bytes.end());
          }
        }
        rfc2217::TelnetCodec::AppendData(data, out);
      } else {
        data.assign(buf.begin(), buf.begin() + n);
        out = data;
      }
      {
        std::lock_guard lock(mu_);
        for (const size_t a : at) commands_at_.push_back(received_.size() + a);
        received_.insert(received_.end(), data.begin(), data.end());
        commands_.insert(commands_.end(), events.begin(), events.end());
      }
      SendAll(c.fd, out);
    }
    std::erase_if(clients, [](const auto& c) { return c->fd < 0; });
  }
  if (listener >= 0) ::close(listener);
  for (const auto& c : clients) ::close(c->fd);
}

bool PythonHasModule(const std::string& module) {
  return ::access(kPython, X_OK) == 0 &&
         std::system((std::string(kPython) + " -c 'import " + module + "' 2>/dev/null").c_str()) == 0;
}

int OpenDevice(const std::filesystem::path& link) {
  const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  EXPECT_GE(fd, 0) << link;
  return fd;
}

std::vector<uint8_t> Exchange(bridge::Bridge& b, int fd, const std::vector<uint8_t>& out,
                              size_t expect) {
  size_t off = 0;
  std::vector<uint8_t> got;
  b.RunUntil(
      [&] {
        while (off < out.size()) {
          const ssize_t n = ::write(fd, out.data() + off, out.size() - off);
          if (n <= 0) break;
          off += static_cast<size_t>(n);
        }
        std::array<uint8_t, 4096> buf;
        for (ssize_t r; (r = ::read(fd, buf.data(), buf.size())) > 0;)
          got.insert(got.end(), buf.begin(), buf.begin() + r);
        return off == out.size() && got.size() >= expect;
      },
      120000);
  EXPECT_EQ(off, out.size());
  return got;
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return v;
}

void SetLine(int fd, speed_t speed, tcflag_t set, tcflag_t clear, termios* applied) {
  termios t{};
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  cfsetospeed(&t, speed);
  cfsetispeed(&t, speed);
  t.c_cflag = (t.c_cflag | set) & ~clear;
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
  if (applied != nullptr) *applied = t;
}

BridgeFixture::BridgeFixture() : server_ip_(block_.Address(10)) {
  options_.store = dir_ / "store" / "registry.reg";
  options_.config = dir_ / "store" / "bridge.conf";
  options_.dir = dir_ / "run";
  options_.state = dir_ / "run" / "bridge-state.json";
  options_.loopback_only = true;
}

BridgeFixture::~BridgeFixture() {
  bridge_.reset();
  if (HasFailure())
    for (const auto& line : notices_.lines) std::printf("  notice: %s\n", line.c_str());
}

ServerConfig BridgeFixture::Server(std::vector<std::pair<int, uint8_t>> ports) const {
  ServerConfig c = MakeServer(1201);
  c.ip_address = server_ip_;
  for (const auto& [port, com] : ports) MapPort(c, port, com);
  return c;
}

void BridgeFixture::SaveStore(const std::vector<ServerConfig>& table) {
  HiveFile hive(options_.store);
  const Status st = SaveServerStore(hive, table, saved_);
  ASSERT_TRUE(st) << st;
  saved_ = table;
}

void BridgeFixture::WriteConfig(const std::string& text) {
  std::filesystem::create_directories(options_.config.parent_path());
  WriteFileText(options_.config, text);
}

void BridgeFixture::StartBridge() {
  bridge_ = std::make_unique<bridge::Bridge>(options_, clock_, notices_);
  const Status st = bridge_->Start();
  ASSERT_TRUE(st) << st;
}

const bridge::PortStatus* BridgeFixture::Port(const std::string& com) {
  ports_ = bridge_->Ports();
  for (const auto& p : ports_)
    if (p.target.port.com_name == com) return &p;
  return nullptr;
}

void BridgeFixture::StartConnected(const std::vector<ServerConfig>& table, const std::string& com,
                                   int* fd) {
  SaveStore(table);
  StartBridge();
  ASSERT_TRUE(WaitConnected(com));
  *fd = OpenDevice(options_.dir / com);
}

bool BridgeFixture::WaitConnected(const std::string& com) {
  return bridge_->RunUntil(
      [&] {
        const bridge::PortStatus* p = Port(com);
        return p != nullptr && p->state == bridge::LinkState::kConnected;
      },
      120000);
}

}  // namespace zelin::testing
