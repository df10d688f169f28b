#pragma once
// ManagerStore over the hive file: every call is one transaction of the file.
// Not thread safe; the hive file itself is locked against other processes.

#include <filesystem>
#include <string>

#include "srvmanager/core/manager_store.hpp"
#include "store/hive_file.hpp"

namespace zelin::manager {

class HiveManagerStore final : public ManagerStore {
 public:
  explicit HiveManagerStore(std::filesystem::path path) : hive_(std::move(path)) {}
  int Load(ServerConfig* table, int capacity) override;
  bool Save(const ServerConfig* table, int count, const ServerConfig* old_table,
            int old_count) override;
  int ReadInstallationType() override;
  void RemoveAllServers() override;
  std::string LastError() const override { return last_error_; }

 private:
  HiveFile hive_;
  std::string last_error_;
};

}  // namespace zelin::manager
