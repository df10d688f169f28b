#pragma once
// The part of the server store the manager uses, behind an interface so that the
// document can be driven over any store (the registry hive in the program, the
// same hive in a temporary file in tests).

#include <string>
#include <string_view>

#include "store/server_config.hpp"

namespace zelin::manager {

class ManagerStore {
 public:
  virtual ~ManagerStore() = default;
  // Reads at most `capacity` servers into `table`; the number read, or -1 when the
  // store cannot be opened.
  virtual int Load(ServerConfig* table, int capacity) = 0;
  // Writes the difference between the old and the new table (and the COM device
  // entries); false when the store could not be opened.
  virtual bool Save(const ServerConfig* table, int count, const ServerConfig* old_table,
                    int old_count) = 0;
  // The installation type: 1, 2, 3, 0 when not set, -1 when the store is missing.
  virtual int ReadInstallationType() = 0;
  // Removes every server, its device entries and the store keys.
  virtual void RemoveAllServers() = 0;
  // What went wrong in the last failed call, for example the file and line of a hive
  // that does not parse; "" when the call succeeded or there is nothing to add.
  virtual std::string LastError() const { return {}; }
};

// `message` followed by what the store reported about its last failure, if anything.
inline std::string WithStoreDetail(const ManagerStore& store, std::string_view message) {
  std::string text(message);
  const std::string detail = store.LastError();
  if (!detail.empty()) text += (text.ends_with('\n') ? "" : "\n") + detail;
  return text;
}

}  // namespace zelin::manager
