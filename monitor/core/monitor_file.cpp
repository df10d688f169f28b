#include "monitor/core/monitor_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <array>
#include <string>

namespace zelin {

std::string_view StatusCode<monitor::MonitorFileError>::Describe(monitor::MonitorFileError code) {
  static constexpr CodeText<monitor::MonitorFileError> kTexts[] = {
      {monitor::MonitorFileError::kCannotOpen, "the monitor file cannot be opened"},
      {monitor::MonitorFileError::kBadFormat, "not a monitor file"},
      {monitor::MonitorFileError::kShort, "the monitor file is cut short"},
      {monitor::MonitorFileError::kChecksum, "the monitor file's checksum does not match"},
  };
  return TextOf(kTexts, code, "monitor file error");
}

}  // namespace zelin

namespace zelin::monitor {

namespace {

constexpr std::array<uint8_t, 5> kMagic = {'Z', 'E', 'L', 'I', 'N'};
constexpr uint16_t kVersion1 = 0x0100, kVersion2 = 0x0C08;
constexpr size_t kLengthAt = 9, kChecksumAt = 13;
constexpr size_t kMaxFileSize = kMonitorFileHeaderSize + MonitorConfig::kSize;

// Closes a descriptor when it goes out of scope.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

bool WriteAll(int fd, Bytes data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

uint32_t MonitorFileChecksum(Bytes header, Bytes payload) {
  uint32_t sum = 0;
  for (size_t i = 0; i < kMagic.size(); ++i)
    sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(header[i])));
  sum += GetLe32(header, 5);
  sum += GetLe32(header, kLengthAt);
  for (size_t at = 0; at + 1 < payload.size(); at += 2) sum += GetLe16(payload, at);
  if (payload.size() % 2) sum += payload.back();  // a last odd byte counts as a word
  return sum;
}

std::vector<uint8_t> EncodeMonitorFile(const MonitorConfig& config) {
  const size_t n = std::min<size_t>(config.server_count, kMaxWatchedServers);
  const size_t length = ImageSize(n);
  std::vector<uint8_t> image = config.Image();
  std::vector<uint8_t> file(kMonitorFileHeaderSize + length);
  std::copy(kMagic.begin(), kMagic.end(), file.begin());
  PutLe16(file, 5, kVersion1);
  PutLe16(file, 7, kVersion2);
  PutLe32(file, kLengthAt, static_cast<uint32_t>(length));
  std::copy_n(image.begin(), length, file.begin() + kMonitorFileHeaderSize);
  if (n != config.server_count) PutLe16(file, kMonitorFileHeaderSize + 2, static_cast<uint16_t>(n));
  const Bytes all(file);
  PutLe32(file, kChecksumAt,
          MonitorFileChecksum(all.first(kChecksumAt), all.subspan(kMonitorFileHeaderSize)));
  return file;
}

Result<int> DecodeMonitorFile(Bytes file, MonitorConfig& out) {
  // The destination is zero whatever the outcome, as a configuration read from nothing.
  out.interval = 0;
  out.server_count = 0;
  out.column_mask = 0;
  out.servers.fill(MonitoredServer{});
  if (file.size() < kMonitorFileHeaderSize) return MonitorFileError::kBadFormat;
  if (!std::equal(kMagic.begin(), kMagic.end(), file.begin()) || GetLe16(file, 5) != kVersion1 ||
      GetLe16(file, 7) != kVersion2)
    return MonitorFileError::kBadFormat;
  const uint32_t length = GetLe32(file, kLengthAt);
  if (length < MonitorConfig::kHeaderSize || length > MonitorConfig::kSize ||
      (length - MonitorConfig::kHeaderSize) % MonitoredServer::kSize != 0)
    return MonitorFileError::kBadFormat;
  const size_t n = (length - MonitorConfig::kHeaderSize) / MonitoredServer::kSize;
  const Bytes payload = file.subspan(kMonitorFileHeaderSize);
  if (payload.size() < length) return MonitorFileError::kShort;
  if (MonitorFileChecksum(file, payload.first(length)) != GetLe32(file, kChecksumAt))
    return MonitorFileError::kChecksum;

  const uint16_t interval = GetLe16(payload, 0);
  if (GetLe16(payload, 2) != n || interval < MonitorConfig::kMinInterval ||
      interval > MonitorConfig::kMaxInterval)
    return MonitorFileError::kBadFormat;
  out.interval = interval;
  out.server_count = static_cast<uint16_t>(n);
  out.column_mask = GetLe32(payload, 4);
  for (size_t i = 0; i < n; ++i)
    out.servers[i] = MonitoredServer::Decode(payload, ImageSize(i));
  return static_cast<int>(n);
}

Result<int> WriteMonitorFile(const std::filesystem::path& path, const MonitorConfig& config) {
  const std::vector<uint8_t> file = EncodeMonitorFile(config);
  // Written beside the target and renamed over it.
  std::string temp = path.string() + ".XXXXXX";
  Fd out{::mkstemp(temp.data())};
  if (out.fd < 0) return MonitorFileError::kCannotOpen;
  // The file keeps the permissions of the one it replaces (a new one: rw-r--r--).
  struct stat existing {};
  ::fchmod(out.fd, ::stat(path.c_str(), &existing) == 0 ? existing.st_mode & 07777 : 0644);
  const bool written = WriteAll(out.fd, file) && ::fsync(out.fd) == 0;
  const int closed = ::close(out.fd);
  out.fd = -1;
  if (!written || closed != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return MonitorFileError::kCannotOpen;
  }
  return static_cast<int>(file.size());
}

Result<int> ReadMonitorFile(const std::filesystem::path& path, MonitorConfig& out) {
  Fd in{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (in.fd < 0) return MonitorFileError::kCannotOpen;
  // One byte more than the largest file would be enough to tell; the rest is ignored.
  std::vector<uint8_t> file(kMaxFileSize);
  size_t got = 0;
  while (got < file.size()) {
    const ssize_t n = ::read(in.fd, file.data() + got, file.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return MonitorFileError::kCannotOpen;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  file.resize(got);
  return DecodeMonitorFile(file, out);
}

}  // namespace zelin::monitor
