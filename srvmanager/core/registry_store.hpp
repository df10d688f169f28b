#pragma once
// ManagerStore over the hive file: every call is one transaction of the file.
// Not thread safe; the hive file itself is locked against other processes.

#include <filesystem>

#include "srvmanager/core/manager_store.hpp"
#include "store/hive_file.hpp"

namespace zelin::manager {

class HiveManagerStore final : public ManagerStore {
 public:
  explicit HiveManagerStore(std::filesystem::path path) : hive_(std::move(path)) {}
  Result<int> Load(ServerConfig* table, int capacity) override;
  Status Save(const ServerConfig* table, int count, const ServerConfig* old_table,
              int old_count) override;
  Result<int> ReadInstallationType() override;
  Status RemoveAllServers() override;

 private:
  HiveFile hive_;
};

}  // namespace zelin::manager
