#include "exporter/core/target_list.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <sstream>

#include "exporter/core/probe_request.hpp"
#include "monitor/core/monitor_file.hpp"
#include "protocol/address.hpp"

namespace zelin {
std::string_view StatusCode<exporter::ListError>::Describe(exporter::ListError code) {
  static constexpr CodeText<exporter::ListError> kTexts[] = {
      {exporter::ListError::kCannotRead, "cannot read the file"},
      {exporter::ListError::kBadLine, "bad line"},
      {exporter::ListError::kUnsafeMode, "the file may be read by others (chmod 600)"},
  };
  return TextOf(kTexts, code);
}
}  // namespace zelin

namespace zelin::exporter {
namespace {

constexpr size_t kMaxFileSize = 4 << 20;

Status LineError(size_t line, const std::string& what) {
  return Status(ListError::kBadLine, "line " + std::to_string(line) + ": " + what);
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    const size_t end = line.find_first_of(" \t", at);
    if (at < line.size()) words.push_back(line.substr(at, end - at));
    at = end == std::string_view::npos ? line.size() : end;
  }
  return words;
}

std::optional<std::string> ReadSmallFile(int fd) {
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) != 0;) {
    if (n < 0) return std::nullopt;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > kMaxFileSize) return std::nullopt;
  }
  return text;
}

}  // namespace

Result<std::vector<Target>> ParseTargetList(std::string_view text) {
  std::vector<Target> targets;
  size_t number = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    if (const size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const auto words = Words(line);
    if (words.empty()) continue;
    Target t;
    const auto address = ParseHostAddress(words[0]);
    if (!address) return LineError(number, "not an IPv4 address");
    t.address = *address;
    for (size_t i = 1; i < words.size(); ++i) {
      const std::string_view w = words[i];
      if (w.substr(0, 6) == "ports=") {
        t.ports = ParsePortList(w.substr(6));
        if (!t.ports) return LineError(number, "ports is not a list of ports 1..16");
      } else {
        unsigned v = 0;
        const auto [p, ec] = std::from_chars(w.data(), w.data() + w.size(), v);
        if (ec != std::errc() || p != w.data() + w.size() || v > 0xFFFF || t.serial)
          return LineError(number, "expected a serial number or ports=LIST");
        t.serial = static_cast<uint16_t>(v);
      }
    }
    targets.push_back(t);
  }
  return targets;
}

Result<std::vector<Target>> ReadTargetList(const std::filesystem::path& path) {
  if (path.extension() == ".mnt") {
    auto config = monitor::MonitorConfig::New();
    const Result<int> read = monitor::ReadMonitorFile(path, *config);
    if (!read) return read.status();
    std::vector<Target> targets;
    for (const monitor::MonitoredServer& s : config->watched())
      targets.push_back({s.ip_address, s.serial_number, s.watched_mask & 0xFFFFu});
    return targets;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Status(ListError::kCannotRead, path.string() + ": cannot open");
  const auto text = ReadSmallFile(fd);
  ::close(fd);
  if (!text) return Status(ListError::kCannotRead, path.string() + ": cannot read");
  return ParseTargetList(*text);
}

Result<std::map<Ipv4, std::string>> ReadPasswordFile(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Status(ListError::kCannotRead, path.string() + ": cannot open");
  struct stat st {};
  if (::fstat(fd, &st) != 0 || (st.st_mode & 077) != 0) {
    ::close(fd);
    return Status(ListError::kUnsafeMode,
                  path.string() + ": may be read by others; make it readable by its owner only "
                                  "(chmod 600)");
  }
  const auto text = ReadSmallFile(fd);
  ::close(fd);
  if (!text) return Status(ListError::kCannotRead, path.string() + ": cannot read");
  std::map<Ipv4, std::string> passwords;
  std::istringstream in(*text);
  size_t number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string_view trimmed = TrimBlanks(line);
    if (trimmed.empty() || trimmed.front() == '#') continue;
    const size_t blank = trimmed.find_first_of(" \t");
    const auto address = ParseHostAddress(trimmed.substr(0, blank));
    if (!address || blank == std::string_view::npos)
      return Status(ListError::kBadLine, "line " + std::to_string(number) +
                                             ": expected ADDRESS PASSWORD");
    passwords[*address] = std::string(trimmed.substr(blank + 1));
  }
  return passwords;
}

}  // namespace zelin::exporter
