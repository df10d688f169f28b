#include "bridge/core/bridge.hpp"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "bridge/core/bridge_error.hpp"
#include "protocol/address.hpp"
#include "store/hive_file.hpp"

namespace zelin {

std::string_view StatusCode<bridge::BridgeError>::Describe(bridge::BridgeError code) {
  static constexpr CodeText<bridge::BridgeError> kTexts[] = {
      {bridge::BridgeError::kPty, "the pseudo-terminal could not be opened"},
      {bridge::BridgeError::kLink, "the device link could not be created"},
      {bridge::BridgeError::kConfig, "the bridge settings file does not parse"},
      {bridge::BridgeError::kStore, "the server store could not be read"},
      {bridge::BridgeError::kRefused, "the server address is not on loopback"},
      {bridge::BridgeError::kConnect, "the connection to the server failed"},
      {bridge::BridgeError::kSystem, "a system call of the bridge failed"},
  };
  return TextOf(kTexts, code, "unknown bridge error");
}

namespace bridge {
namespace {

std::filesystem::path StampOf(const std::filesystem::path& store) {
  std::filesystem::path stamp = store;
  stamp += ".changed";
  return stamp;
}

// Modification time (ns) and size of a file, 0 when it does not exist.
int64_t StatStamp(const std::filesystem::path& p) {
  struct stat st {};
  if (::stat(p.c_str(), &st) != 0) return 0;
  return st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec + st.st_size + st.st_ino;
}

std::string IsoTime(int64_t unix_ms) {
  if (unix_ms <= 0) return {};
  const time_t t = static_cast<time_t>(unix_ms / 1000);
  tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// Writes `text` to `path` through a new temporary file beside it and a rename: never
// through a link someone planted at either name.
bool WriteFileSafely(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::path tmp = path;
  tmp += ".tmp";
  ::unlink(tmp.c_str());  // a planted link is removed, not followed
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t off = 0; ok && off < text.size();) {
    const ssize_t n = ::write(fd, text.data() + off, text.size() - off);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) off += static_cast<size_t>(n);
  }
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

}  // namespace

Status PrepareRuntimeDir(const std::filesystem::path& dir) {
  std::error_code ec;
  if (dir.has_parent_path()) std::filesystem::create_directories(dir.parent_path(), ec);
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
    return Status(BridgeError::kLink, dir.string() + ": " + std::strerror(errno));
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0)
    return Status(BridgeError::kLink, dir.string() + ": " + std::strerror(errno));
  if (!S_ISDIR(st.st_mode))
    return Status(BridgeError::kLink, dir.string() + ": not a folder (a link or file is in the way)");
  if (st.st_uid != ::geteuid())
    return Status(BridgeError::kLink, dir.string() + ": belongs to another user");
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return Status(BridgeError::kLink, dir.string() + ": others may write in it");
  return Status();
}

BridgeOptions DefaultOptions(std::string_view store_option) {
  BridgeOptions o;
  o.store = ResolveRegistryPath(store_option);
  o.config = o.store.parent_path() / "bridge.conf";
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run != nullptr && *run != '\0') {
    o.dir = std::filesystem::path(run) / "zelin";
  } else {
    o.dir = std::filesystem::path("/tmp") / ("zelin-" + std::to_string(::getuid()));
  }
  o.state = o.dir / "bridge-state.json";
  o.control = o.dir / "bridge.ctl";
  const char* loopback = std::getenv("ZELIN_LOOPBACK_ONLY");
  o.loopback_only = loopback != nullptr && std::string_view(loopback) == "1";
  return o;
}

Bridge::Bridge(BridgeOptions options, Clock& clock, NoticeSink& notices)
    : options_(std::move(options)), clock_(clock), notices_(notices) {}

Bridge::~Bridge() {
  links_.clear();  // removes the links
  if (!options_.state.empty()) {
    std::error_code ec;
    std::filesystem::remove(options_.state, ec);
  }
  if (inotify_ >= 0) ::close(inotify_);
  if (wake_ >= 0) ::close(wake_);
  if (control_ >= 0) {
    ::close(control_);
    ::unlink(options_.control.c_str());
  }
}

Status Bridge::Start() {
  wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_ < 0)
    return Status(BridgeError::kSystem, std::string("eventfd: ") + std::strerror(errno));
  if (Status st = PrepareRuntimeDir(options_.dir); !st) return st;
  if (!options_.control.empty()) {
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    const std::string path = options_.control.string();
    if (path.size() >= sizeof sa.sun_path)
      return Status(BridgeError::kSystem, path + ": too long for a socket");
    std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) ::unlink(path.c_str());
    control_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (control_ < 0 || ::bind(control_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::chmod(path.c_str(), 0600) != 0) {
      const std::string why = path + ": " + std::strerror(errno);
      if (control_ >= 0) ::close(control_);
      control_ = -1;
      return Status(BridgeError::kSystem, why);
    }
  }

  inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  bool watched = inotify_ >= 0;
  std::set<std::filesystem::path> folders{options_.store.parent_path(),
                                          options_.config.parent_path()};
  for (const auto& folder : folders) {
    const auto f = folder.empty() ? std::filesystem::path(".") : folder;
    if (watched && ::inotify_add_watch(inotify_, f.c_str(),
                                       IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE |
                                           IN_DELETE) < 0)
      watched = false;
  }
  if (!watched) {  // a folder that does not exist yet, or no inotify: poll the times
    if (inotify_ >= 0) ::close(inotify_);
    inotify_ = -1;
    StoreFilesChanged();
    next_stat_poll_ = clock_.NowMs() + options_.store_poll_ms;
  }
  Reload();
  return Status();
}

bool Bridge::StoreFilesChanged() {
  std::vector<int64_t> now{StatStamp(options_.store), StatStamp(StampOf(options_.store)),
                           StatStamp(options_.config)};
  const bool changed = now != stamps_;
  stamps_ = std::move(now);
  return changed;
}

void Bridge::HandleWatch() {
  alignas(inotify_event) std::array<char, 4096> buf;
  const std::string names[] = {options_.store.filename().string(),
                               StampOf(options_.store).filename().string(),
                               options_.config.filename().string()};
  while (true) {
    const ssize_t n = ::read(inotify_, buf.data(), buf.size());
    if (n <= 0) break;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      inotify_event ev;
      std::memcpy(&ev, buf.data() + at, sizeof ev);
      const char* name_at = buf.data() + at + sizeof(inotify_event);
      const std::string name(name_at, strnlen(name_at, ev.len));
      if (std::find(std::begin(names), std::end(names), name) != std::end(names) ||
          (ev.mask & IN_Q_OVERFLOW) != 0)
        reload_due_ = clock_.NowMs() + options_.reload_delay_ms;  // from the last change
      at += static_cast<ssize_t>(sizeof(inotify_event) + ev.len);
    }
  }
}

Status Bridge::Reload() {
  Status result;
  if (auto config = LoadBridgeConfig(options_.config); config) {
    config_ = std::move(*config);
  } else {
    notices_.Notice(NoticeLevel::kError, config.status().message() + " (settings kept)");
    result = config.status();
  }
  auto ports = ReadMappedPorts(HiveFile(options_.store));
  if (!ports) {
    notices_.Notice(NoticeLevel::kError, ports.status().message() + " (ports kept)");
    return ports.status();
  }
  std::map<int, PortTarget> wanted;
  for (const MappedPort& p : *ports) {
    PortTarget t{.port = p, .options = config_.For(p)};
    if (!wanted.emplace(p.com_number, t).second)
      notices_.Notice(NoticeLevel::kWarning,
                      p.com_name + " is mapped twice; port " + std::to_string(p.port_index + 1) +
                          " of " + AddressToText(p.server) + " is left out");
  }
  for (auto it = links_.begin(); it != links_.end();) {
    if (wanted.count(it->first) == 0) {
      notices_.Notice(NoticeLevel::kWarning, it->second->target().port.com_name + ": removed");
      it = links_.erase(it);
      state_dirty_ = true;
    } else {
      ++it;
    }
  }
  for (auto& [number, target] : wanted) {
    if (auto it = links_.find(number); it != links_.end()) {
      it->second->Retarget(target);
      continue;
    }
    auto pty = PtyEndpoint::Open(options_.dir, target.port.com_name);
    if (!pty) {
      notices_.Notice(NoticeLevel::kError,
                      target.port.com_name + ": " + pty.status().message());
      result = pty.status();
      continue;
    }
    notices_.Notice(NoticeLevel::kWarning, target.port.com_name + ": " + (*pty)->link().string() +
                                               " -> " + (*pty)->device());
    links_.emplace(number, std::make_unique<PortLink>(std::move(*pty), target, clock_, notices_,
                                                      options_.limits, options_.loopback_only));
    state_dirty_ = true;
  }
  return result;
}

bool Bridge::Step(int64_t max_wait_ms) {
  if (stopped_) return false;
  int64_t now = clock_.NowMs();
  int64_t deadline = now + std::max<int64_t>(0, max_wait_ms);
  deadline = std::min({deadline, reload_due_, next_stat_poll_});
  for (const auto& [n, link] : links_) deadline = std::min(deadline, link->NextDeadline());
  if (!state_dirty_ && !options_.state.empty()) {
    uint64_t total = 0;
    for (const auto& [n, link] : links_) total += link->ByteTotal();
    if (total != written_bytes_) deadline = std::min(deadline, next_state_write_);
  }

  fds_.assign(3 + 2 * links_.size(), pollfd{-1, 0, 0});
  fds_[0] = {wake_, POLLIN, 0};
  fds_[1] = {inotify_, POLLIN, 0};
  fds_[2] = {control_, POLLIN, 0};
  size_t i = 3;
  for (const auto& [n, link] : links_) {
    link->FillPoll(fds_[i], fds_[i + 1]);
    i += 2;
  }
  const int64_t wait = deadline > now ? clock_.RealWaitMs(deadline - now) : 0;
  const int ready = ::poll(fds_.data(), fds_.size(),
                           static_cast<int>(std::min<int64_t>(wait, INT_MAX)));
  if (ready < 0 && errno != EINTR) {
    notices_.Notice(NoticeLevel::kError, std::string("poll: ") + std::strerror(errno));
    stopped_ = true;
    return false;
  }
  if (ready > 0) {
    if (fds_[0].revents != 0) {
      stopped_ = true;
      return false;
    }
    if (fds_[1].revents != 0) HandleWatch();
    if (fds_[2].revents != 0) HandleControl();
    i = 3;
    for (const auto& [n, link] : links_) {
      if (fds_[i].revents != 0 || fds_[i + 1].revents != 0) link->Handle(fds_[i], fds_[i + 1]);
      i += 2;
    }
  }
  now = clock_.NowMs();
  for (const auto& [n, link] : links_)
    if (link->NextDeadline() <= now) link->OnTime(now);
  if (now >= next_stat_poll_) {
    next_stat_poll_ = now + options_.store_poll_ms;
    if (StoreFilesChanged()) reload_due_ = std::min(reload_due_, now);
  }
  if (now >= reload_due_) {
    reload_due_ = INT64_MAX;
    Reload();
  }
  WriteState(now);
  return true;
}

void Bridge::WriteState(int64_t now) {
  if (options_.state.empty()) return;
  bool dirty = state_dirty_;
  for (const auto& [n, link] : links_) dirty = link->TakeChanged() || dirty;
  uint64_t total = 0;
  for (const auto& [n, link] : links_) total += link->ByteTotal();
  if (!dirty && (total == written_bytes_ || now < next_state_write_)) return;
  const std::vector<PortStatus> ports = Ports();

  nlohmann::json list = nlohmann::json::array();
  for (const auto& s : ports) {
    const MappedPort& p = s.target.port;
    list.push_back({{"com", p.com_name},
                    {"device", s.device},
                    {"link", s.link},
                    {"server", AddressToText(p.server)},
                    {"serial", p.serial_number},
                    {"server_name", p.server_name},
                    {"port", p.port_index + 1},
                    {"tcp_port", s.target.tcp_port()},
                    {"mode", ModeName(s.target.options.mode)},
                    {"transmission", p.classical ? "classical" : "hi-performance"},
                    {"state", StateName(s.state)},
                    {"since", IsoTime(s.since_unix_ms)},
                    {"settings", s.settings},
                    {"note", s.note},
                    {"server_modem", DescribeModem(s.server)},
                    {"server_line_state", s.server.line_state},
                    {"suspended", s.server.suspended},
                    {"refused", s.server.refused},
                    {"bytes_in", s.bytes_in},
                    {"bytes_out", s.bytes_out},
                    {"pending", s.pending},
                    {"last_error", s.last_error}});
  }
  const nlohmann::json doc = {{"pid", ::getpid()},
                              {"control", options_.control.string()},
                              {"store", options_.store.string()},
                              {"dir", options_.dir.string()},
                              {"ports", list}};
  // Names come from the store as stored: invalid UTF-8 is written as U+FFFD.
  if (!WriteFileSafely(options_.state,
                       doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + '\n')) {
    notices_.Notice(NoticeLevel::kError, options_.state.string() + ": cannot be written");
    next_state_write_ = now + options_.state_write_ms;
    return;
  }
  state_dirty_ = false;
  written_bytes_ = total;
  next_state_write_ = now + options_.state_write_ms;
}

void Bridge::HandleControl() {
  std::array<char, 512> buf;
  while (true) {
    sockaddr_un from{};
    socklen_t from_len = sizeof from;
    const ssize_t n = ::recvfrom(control_, buf.data(), buf.size(), 0,
                                 reinterpret_cast<sockaddr*>(&from), &from_len);
    if (n < 0) break;
    const std::string answer = Command(std::string_view(buf.data(), static_cast<size_t>(n)));
    if (from_len > sizeof(sa_family_t))
      ::sendto(control_, answer.data(), answer.size(), MSG_DONTWAIT,
               reinterpret_cast<sockaddr*>(&from), from_len);
  }
}

std::string Bridge::Command(std::string_view request) {
  std::istringstream in{std::string(request)};
  std::string verb, com;
  in >> verb >> com;
  if (verb != "signal") return "error: unknown request '" + verb + "'";
  PortLink* link = nullptr;
  for (auto& [n, l] : links_)
    if (l->target().port.com_name == com) link = l.get();
  if (link == nullptr) return "error: no port " + com;
  std::optional<bool> dtr, rts;
  int break_ms = 0;
  for (std::string word; in >> word;) {
    const size_t eq = word.find('=');
    const std::string key = word.substr(0, eq), value = eq == std::string::npos ? "" : word.substr(eq + 1);
    if ((key == "dtr" || key == "rts") && (value == "on" || value == "off")) {
      (key == "dtr" ? dtr : rts) = value == "on";
    } else if (key == "break" && !value.empty() && value.size() <= 5 &&
               value.find_first_not_of("0123456789") == std::string::npos) {
      break_ms = std::stoi(value);
    } else {
      return "error: cannot read '" + word + "'";
    }
  }
  const std::string why = link->Signal(dtr, rts, break_ms);
  if (!why.empty()) return "error: " + why;
  notices_.Notice(NoticeLevel::kWarning, com + ": " + std::string(request));
  return "ok";
}

void Bridge::RunFor(int64_t ms) {
  const int64_t end = clock_.NowMs() + ms;
  for (int64_t now = clock_.NowMs(); now < end && Step(end - now); now = clock_.NowMs()) {
  }
}

bool Bridge::RunUntil(const std::function<bool()>& done, int64_t ms) {
  const int64_t end = clock_.NowMs() + ms;
  while (!done()) {
    const int64_t now = clock_.NowMs();
    if (now >= end || !Step(std::min<int64_t>(end - now, 20))) return done();
  }
  return true;
}

void Bridge::Run() {
  while (Step(60000)) {
  }
}

void Bridge::Stop() {
  const uint64_t one = 1;
  if (wake_ >= 0) {
    const ssize_t n = ::write(wake_, &one, sizeof one);
    static_cast<void>(n);  // a full counter already wakes the loop
  }
}

std::vector<PortStatus> Bridge::Ports() const {
  std::vector<PortStatus> out;
  out.reserve(links_.size());
  for (const auto& [n, link] : links_) out.push_back(link->Status());
  return out;
}

}  // namespace bridge
}  // namespace zelin
