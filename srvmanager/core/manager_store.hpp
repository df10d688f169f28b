#pragma once
// The part of the server store the manager uses, behind an interface so that the
// document can be driven over any store (the registry hive in the program, the
// same hive in a temporary file in tests).

#include <string>
#include <string_view>

#include "platform/status.hpp"
#include "store/hive_file.hpp"  // StoreError
#include "store/server_config.hpp"

namespace zelin::manager {

class ManagerStore {
 public:
  virtual ~ManagerStore() = default;
  // Reads at most `capacity` servers into `table`; the number read, or the store's
  // error: StoreError::kNoStore when there is no store, or the file's own account
  // (for example the file and line of a hive that does not parse).
  virtual Result<int> Load(ServerConfig* table, int capacity) = 0;
  // Writes the difference between the old and the new table (and the COM device
  // entries); an error when the store could not be written (it is then unchanged).
  virtual Status Save(const ServerConfig* table, int count, const ServerConfig* old_table,
                      int old_count) = 0;
  // The installation type: 1, 2, 3, 0 when not set; StoreError::kNoStore when the
  // store is missing.
  virtual Result<int> ReadInstallationType() = 0;
  // Removes every server, its device entries and the store keys.
  virtual Status RemoveAllServers() = 0;
};

// `message` followed by the store's own account of `failure` (the file and line of a
// hive that does not parse, ...); a missing store has nothing to add.
inline std::string WithStoreDetail(std::string_view message, const Status& failure) {
  std::string text(message);
  const std::string detail = failure.Is(StoreError::kNoStore) ? "" : failure.message();
  if (!detail.empty()) text += (text.ends_with('\n') ? "" : "\n") + detail;
  return text;
}

}  // namespace zelin::manager
