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

// "PATH: what".
Status FileError(const fs::path& path, const std::string& what) {
  return Status(StoreError::kFile, path.string() + ": " + what);
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
  Status Acquire(const fs::path& path, bool exclusive) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0 && !exclusive) fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
      if (!exclusive) return {};
      return FileError(path, "cannot open the lock file: " + ErrnoText(errno));
    }
    while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0) {
      if (errno == EINTR) continue;
      return FileError(path, "cannot lock: " + ErrnoText(errno));
    }
    return {};
  }

 private:
  int fd_ = -1;
};

// Reads the whole file; nullopt text (and success) when it does not exist.
Status ReadWhole(const fs::path& path, std::optional<std::string>& text) {
  text.reset();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return {};
    return FileError(path, "cannot open: " + ErrnoText(errno));
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > static_cast<off_t>(kMaxHiveFileSize)) {
    ::close(fd);
    return FileError(path, "file too large for a registry hive");
  }
  std::string data;
  char buf[65536];
  while (true) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return FileError(path, "cannot read: " + ErrnoText(err));
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
    if (data.size() > kMaxHiveFileSize) {  // grew while being read
      ::close(fd);
      return FileError(path, "file too large for a registry hive");
    }
  }
  ::close(fd);
  text = std::move(data);
  return {};
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
Status ReplaceFile(const fs::path& path, std::string_view text) {
  const fs::path dir = FolderOf(path);
  std::string tmpl = (dir / TempPrefix(path)).string() + "XXXXXX";
  const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) return FileError(path, "cannot create a temporary file: " + ErrnoText(errno));
  struct stat st {};
  const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  int err = 0;
  if (::fchmod(fd, mode) != 0 || !WriteAll(fd, text) || ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(tmpl.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(tmpl.c_str());
    return FileError(path, "cannot write: " + ErrnoText(err));
  }
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    // The new file is in place; a failed folder sync only weakens durability after a
    // power cut, so it is not reported as a failed write.
    ::fsync(dfd);
    ::close(dfd);
  }
  return {};
}

Status Parse(const fs::path& path, const std::optional<std::string>& text, MemoryRegistry& out) {
  out = MemoryRegistry();
  if (!text) return {};  // no file: an empty registry
  Result<MemoryRegistry> parsed = ParseRegText(*text);
  if (!parsed) return Status(StoreError::kSyntax, path.string() + ":" + parsed.status().message());
  out = std::move(*parsed);
  return {};
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

std::string_view StatusCode<StoreError>::Describe(StoreError code) {
  static constexpr CodeText<StoreError> kTexts[] = {
      {StoreError::kFile, "the registry file cannot be used"},
      {StoreError::kSyntax, "the registry file does not parse"},
      {StoreError::kDiscarded, "changes discarded"},
      {StoreError::kNoStore, "no server store"},
  };
  return TextOf(kTexts, code);
}

Status HiveFile::Load(MemoryRegistry& out) const {
  FileLock lock;
  if (Status st = lock.Acquire(LockPath(), /*exclusive=*/false); !st) return st;
  std::optional<std::string> text;
  if (Status st = ReadWhole(path_, text); !st) return st;
  return Parse(path_, text, out);
}

namespace {

// Runs one transaction: `make_text` sees the tree as loaded and returns the new text,
// or nullopt to discard the transaction.
Status Transact(const HiveFile& hive,
                const std::function<std::optional<std::string>(MemoryRegistry&)>& make_text) {
  const fs::path& path = hive.path();
  std::error_code ec;
  fs::create_directories(FolderOf(path), ec);
  if (ec) return FileError(path, "cannot create the folder: " + ec.message());
  FileLock lock;
  if (Status st = lock.Acquire(hive.LockPath(), /*exclusive=*/true); !st) return st;
  RemoveStaleTemporaries(path);
  std::optional<std::string> old_text;
  if (Status st = ReadWhole(path, old_text); !st) return st;
  MemoryRegistry reg;
  if (Status st = Parse(path, old_text, reg); !st) return st;
  const std::optional<std::string> new_text = make_text(reg);
  if (!new_text) return Status(StoreError::kDiscarded, path.string() + ": changes discarded");
  if (old_text && *old_text == *new_text) return {};
  return ReplaceFile(path, *new_text);
}

}  // namespace

Status HiveFile::Update(const std::function<bool(Registry&)>& edit) {
  return Transact(*this, [&](MemoryRegistry& reg) -> std::optional<std::string> {
    if (!edit(reg)) return std::nullopt;
    return FormatRegText(reg);
  });
}

Status HiveFile::Store(const Registry& reg) {
  return Transact(
      *this, [&](MemoryRegistry&) -> std::optional<std::string> { return FormatRegText(reg); });
}

}  // namespace zelin
