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

#include "platform/status.hpp"
#include "store/registry.hpp"

namespace zelin {

// A larger file is refused as not a hive (a full store is about half a megabyte).
inline constexpr size_t kMaxHiveFileSize = 64 * 1024 * 1024;

// The store's codes. The message of a Status the file produces names the file:
// "PATH:LINE: what" for a syntax error, "PATH: what" otherwise.
enum class StoreError : int {
  kNone = 0,
  kFile = 1,       // the file, its folder or its lock could not be read, created or written
  kSyntax = 2,     // the file does not parse (it is left alone)
  kDiscarded = 3,  // the edit of a transaction failed; the file stays as it was
  kNoStore = 4,    // the server store's parameters key does not exist
};
template <>
struct StatusCode<StoreError> {
  static constexpr StatusDomain kDomain = StatusDomain::kStore;
  static std::string_view Describe(StoreError code);
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
  Status Load(MemoryRegistry& out) const;

  // One transaction; see above. Returns kFile or kSyntax when the file could not be
  // read, parsed or written, kDiscarded when `edit` returned false ("PATH: changes
  // discarded"). The folder of the hive is created when a write needs it.
  Status Update(const std::function<bool(Registry&)>& edit);

  // Replaces the whole tree with `reg` in one transaction: for tools and tests that set
  // up a store. Like Update() it refuses to replace a file that does not parse.
  Status Store(const Registry& reg);

  // The path of the lock file.
  std::filesystem::path LockPath() const;

 private:
  std::filesystem::path path_;
};

}  // namespace zelin
