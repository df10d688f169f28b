#include "bridge/core/pty_endpoint.hpp"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "bridge/core/bridge_error.hpp"

namespace zelin::bridge {
namespace {

Status PtyError(const std::string& what) {
  return Status(BridgeError::kPty, what + ": " + std::strerror(errno));
}

}  // namespace

Result<std::unique_ptr<PtyEndpoint>> PtyEndpoint::Open(const std::filesystem::path& dir,
                                                       const std::string& name) {
  std::unique_ptr<PtyEndpoint> p(new PtyEndpoint());
  p->link_ = dir / name;
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(p->link_, ec);
  if (!ec && std::filesystem::exists(status) && !std::filesystem::is_symlink(status))
    return Status(BridgeError::kLink, p->link_.string() + ": a file of that name is in the way");

  p->master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (p->master_ < 0) return PtyError("posix_openpt");
  if (grantpt(p->master_) != 0 || unlockpt(p->master_) != 0) return PtyError("unlockpt");
  std::array<char, 128> path{};
  if (ptsname_r(p->master_, path.data(), path.size()) != 0) return PtyError("ptsname");
  p->device_ = path.data();
  p->slave_ = ::open(p->device_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (p->slave_ < 0) return PtyError(p->device_);
  termios t{};
  if (tcgetattr(p->slave_, &t) != 0) return PtyError("tcgetattr");
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  if (tcsetattr(p->slave_, TCSANOW, &t) != 0) return PtyError("tcsetattr");
  const int flags = fcntl(p->master_, F_GETFL);
  if (flags < 0 || fcntl(p->master_, F_SETFL, flags | O_NONBLOCK) != 0) return PtyError("fcntl");
  // Packet mode: each read of the master starts with a byte that is 0 before data, or
  // says that the program flushed its input or output (tcflush).
  const int packet = 1;
  if (::ioctl(p->master_, TIOCPKT, &packet) != 0) return PtyError("TIOCPKT");

  std::filesystem::create_directories(dir, ec);
  std::filesystem::path tmp = p->link_;
  tmp += ".new";
  std::filesystem::remove(tmp, ec);
  std::filesystem::create_symlink(p->device_, tmp, ec);
  if (!ec) std::filesystem::rename(tmp, p->link_, ec);
  if (ec) {
    std::filesystem::remove(tmp, ec);
    return Status(BridgeError::kLink, p->link_.string() + ": " + ec.message());
  }
  return p;
}

PtyEndpoint::~PtyEndpoint() {
  if (!link_.empty() && !device_.empty()) {
    std::error_code ec;
    if (std::filesystem::read_symlink(link_, ec) == device_ && !ec)
      std::filesystem::remove(link_, ec);
  }
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
}

void PtyEndpoint::ReleaseSlave() {
  if (slave_ >= 0) ::close(slave_);
  slave_ = -1;
}

bool PtyEndpoint::ReadSettings(LineSettings& out) const {
  RawTermios raw{};
  const bool have_raw = ReadRawTermios(master_, raw);
  if (have_raw && known_ && raw == raw_) {
    out = settings_;
    return true;
  }
  // Read after the raw bytes: a change in between shows as a difference next time.
  termios t{};
  if (tcgetattr(master_, &t) != 0) return false;
  out = SettingsOf(t);
  if (out.baud == 0 && cfgetospeed(&t) != B0) {
    // A rate without a B constant: read it exactly, never send the flag's value.
    const uint32_t exact = ExactOutputSpeed(master_);
    if (exact != 0) out.baud = exact;
  }
  known_ = have_raw;
  raw_ = raw;
  settings_ = out;
  return true;
}

}  // namespace zelin::bridge
