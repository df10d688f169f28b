#pragma once
// The hive file: the whole HKEY_LOCAL_MACHINE tree in one registry text file
// (store/reg_text.hpp), shared by every program of the suite on this host.
//
// Consistency: every write replaces the file atomically (a temporary file in the same
// folder, fsync, rename over the hive, fsync of the folder), so a reader sees either
// the old or the new tree, never a mix, even when the writer is killed. Writers and
// readers also take an advisory lock (flock) on "<hive>.lock" beside the file:
// exclusive for a transaction, shared for a read, so that two read-modify-write
// transactions never lose each other's changes.
//
// Transactions: Update() loads the tree under the exclusive lock, hands it to the
// caller's edit function as a MemoryRegistry and writes it once, only when the edit
// returns true (and the text changed). An edit that fails half-way returns false and
// the file stays byte-for-byte as it was.
//
// A missing file is an empty registry. A file that does not parse is reported with its
// path and line and is never overwritten.
//
// Thread safety: a HiveFile holds only its path; any number of HiveFile objects in any
// threads or processes may use the same file at once.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "store/registry.hpp"

namespace zelin {

// A larger file is refused as not a hive (a full store is about half a megabyte).
inline constexpr size_t kMaxHiveFileSize = 64 * 1024 * 1024;

struct HiveStatus {
  bool ok = true;
  std::string message;  // "PATH:LINE: what" for syntax errors, "PATH: what" otherwise
  explicit operator bool() const { return ok; }
  static HiveStatus Error(std::string text) { return {false, std::move(text)}; }
};

// The hive path: `option` when non-empty (a program's --registry), else the
// environment variable ZELIN_REGISTRY when set and non-empty, else
// $XDG_DATA_HOME/zelin/registry.reg, else ~/.local/share/zelin/registry.reg.
std::filesystem::path ResolveRegistryPath(std::string_view option = {});

class HiveFile {
 public:
  explicit HiveFile(std::filesystem::path path) : path_(std::move(path)) {}

  const std::filesystem::path& path() const { return path_; }

  // Reads the whole tree under a shared lock into `out` (replacing its contents).
  HiveStatus Load(MemoryRegistry& out) const;

  // One transaction; see above. Returns an error status when the file could not be
  // read, parsed or written, or when `edit` returned false ("PATH: changes discarded").
  // The folder of the hive is created when a write needs it.
  HiveStatus Update(const std::function<bool(Registry&)>& edit);

  // Replaces the whole tree with `reg` in one transaction: for tools and tests that set
  // up a store. Like Update() it refuses to replace a file that does not parse.
  HiveStatus Store(const Registry& reg);

  // The path of the lock file.
  std::filesystem::path LockPath() const;

 private:
  std::filesystem::path path_;
};

}  // namespace zelin
