#include "srvmanager/core/registry_store.hpp"

#include <algorithm>
#include <span>

#include "store/server_store.hpp"

namespace zelin::manager {
namespace {
size_t Clamp(int n) {
  return static_cast<size_t>(std::clamp(n, 0, static_cast<int>(kMaxConfiguredServers)));
}
}  // namespace

Result<int> HiveManagerStore::Load(ServerConfig* table, int capacity) {
  return LoadServerStore(hive_, std::span<ServerConfig>(table, Clamp(capacity)));
}

Status HiveManagerStore::Save(const ServerConfig* table, int count, const ServerConfig* old_table,
                              int old_count) {
  return SaveServerStore(hive_, std::span<const ServerConfig>(table, Clamp(count)),
                         std::span<const ServerConfig>(old_table, Clamp(old_count)));
}

Result<int> HiveManagerStore::ReadInstallationType() {
  return zelin::ReadInstallationType(hive_);
}

Status HiveManagerStore::RemoveAllServers() {
  return zelin::RemoveAllServers(hive_);
}

}  // namespace zelin::manager
