#include "store/hive_file.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <system_error>

#include "store/reg_text.hpp"

namespace zelin {

namespace fs = std::filesystem;

namespace {

std::string ErrnoText(int err) {
  return std::generic_category().message(err);
}

// An flock on the lock file, released when the object goes.
class FileLock {
 public:
  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the descriptor releases the lock
  }

  // Exclusive locks need the lock file (creating it); a shared lock goes without one
  // when the file cannot be opened (read-only folder, missing folder): readers are
  // safe without it because every write is an atomic replace.
  std::optional<std::string> Acquire(const fs::path& path, bool exclusive) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0 && !exclusive) fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
      if (!exclusive) return std::nullopt;
      return path.string() + ": cannot open the lock file: " + ErrnoText(errno);
    }
    while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0) {
      if (errno == EINTR) continue;
      return path.string() + ": cannot lock: " + ErrnoText(errno);
    }
    return std::nullopt;
  }

 private:
  int fd_ = -1;
};

// Reads the whole file; nullopt text (and no error) when it does not exist.
std::optional<std::string> ReadWhole(const fs::path& path, std::optional<std::string>& text) {
  text.reset();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    return path.string() + ": cannot open: " + ErrnoText(errno);
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > static_cast<off_t>(kMaxHiveFileSize)) {
    ::close(fd);
    return path.string() + ": file too large for a registry hive";
  }
  std::string data;
  char buf[65536];
  while (true) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return path.string() + ": cannot read: " + ErrnoText(err);
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
    if (data.size() > kMaxHiveFileSize) {  // grew while being read
      ::close(fd);
      return path.string() + ": file too large for a registry hive";
    }
  }
  ::close(fd);
  text = std::move(data);
  return std::nullopt;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

fs::path FolderOf(const fs::path& path) {
  const fs::path dir = path.parent_path();
  return dir.empty() ? fs::path(".") : dir;
}

std::string TempPrefix(const fs::path& path) {
  std::string prefix(".");
  prefix.append(path.filename().string());
  prefix.push_back('.');
  return prefix;
}

// Temporary files left by a writer that was killed. Only called under the exclusive
// lock, when no other writer can be using one.
void RemoveStaleTemporaries(const fs::path& path) {
  const std::string prefix = TempPrefix(path);
  std::error_code ec;
  for (fs::directory_iterator it(FolderOf(path), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() == prefix.size() + 6 && name.starts_with(prefix)) {
      std::error_code ignored;
      fs::remove(it->path(), ignored);
    }
  }
}

// Atomic replace: temporary file in the same folder, fsync, rename, fsync of the folder.
std::optional<std::string> ReplaceFile(const fs::path& path, std::string_view text) {
  const fs::path dir = FolderOf(path);
  std::string tmpl = (dir / TempPrefix(path)).string() + "XXXXXX";
  const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) return path.string() + ": cannot create a temporary file: " + ErrnoText(errno);
  struct stat st {};
  const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  int err = 0;
  if (::fchmod(fd, mode) != 0 || !WriteAll(fd, text) || ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(tmpl.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(tmpl.c_str());
    return path.string() + ": cannot write: " + ErrnoText(err);
  }
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    // The new file is in place; a failed folder sync only weakens durability after a
    // power cut, so it is not reported as a failed write.
    ::fsync(dfd);
    ::close(dfd);
  }
  return std::nullopt;
}

std::optional<std::string> Parse(const fs::path& path, const std::optional<std::string>& text,
                                 MemoryRegistry& out) {
  out = MemoryRegistry();
  if (!text) return std::nullopt;  // no file: an empty registry
  RegTextError error;
  if (ParseRegText(*text, out, error)) return std::nullopt;
  out = MemoryRegistry();
  return path.string() + ":" + std::to_string(error.line) + ": " + error.message;
}

}  // namespace

fs::path ResolveRegistryPath(std::string_view option) {
  if (!option.empty()) return fs::path(option);
  if (const char* env = std::getenv("ZELIN_REGISTRY"); env != nullptr && *env != '\0')
    return fs::path(env);
  const fs::path tail = fs::path("zelin") / "registry.reg";
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/')
    return fs::path(xdg) / tail;
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') {
    const passwd* pw = ::getpwuid(::getuid());
    home = pw != nullptr ? pw->pw_dir : ".";
  }
  return fs::path(home) / ".local" / "share" / tail;
}

fs::path HiveFile::LockPath() const {
  fs::path lock = path_;
  lock += ".lock";
  return lock;
}

HiveStatus HiveFile::Load(MemoryRegistry& out) const {
  FileLock lock;
  if (auto err = lock.Acquire(LockPath(), /*exclusive=*/false)) return HiveStatus::Error(*err);
  std::optional<std::string> text;
  if (auto err = ReadWhole(path_, text)) return HiveStatus::Error(*err);
  if (auto err = Parse(path_, text, out)) return HiveStatus::Error(*err);
  return {};
}

namespace {

// Runs one transaction: `make_text` sees the tree as loaded and returns the new text,
// or nullopt to discard the transaction.
HiveStatus Transact(const HiveFile& hive,
                    const std::function<std::optional<std::string>(MemoryRegistry&)>& make_text) {
  const fs::path& path = hive.path();
  std::error_code ec;
  fs::create_directories(FolderOf(path), ec);
  if (ec) return HiveStatus::Error(path.string() + ": cannot create the folder: " + ec.message());
  FileLock lock;
  if (auto err = lock.Acquire(hive.LockPath(), /*exclusive=*/true)) return HiveStatus::Error(*err);
  RemoveStaleTemporaries(path);
  std::optional<std::string> old_text;
  if (auto err = ReadWhole(path, old_text)) return HiveStatus::Error(*err);
  MemoryRegistry reg;
  if (auto err = Parse(path, old_text, reg)) return HiveStatus::Error(*err);
  const std::optional<std::string> new_text = make_text(reg);
  if (!new_text) return HiveStatus::Error(path.string() + ": changes discarded");
  if (old_text && *old_text == *new_text) return {};
  if (auto err = ReplaceFile(path, *new_text)) return HiveStatus::Error(*err);
  return {};
}

}  // namespace

HiveStatus HiveFile::Update(const std::function<bool(Registry&)>& edit) {
  return Transact(*this, [&](MemoryRegistry& reg) -> std::optional<std::string> {
    if (!edit(reg)) return std::nullopt;
    return FormatRegText(reg);
  });
}

HiveStatus HiveFile::Store(const Registry& reg) {
  return Transact(
      *this, [&](MemoryRegistry&) -> std::optional<std::string> { return FormatRegText(reg); });
}

}  // namespace zelin
