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

int HiveManagerStore::Load(ServerConfig* table, int capacity) {
  HiveStatus status;
  const int n = LoadServerStore(hive_, std::span<ServerConfig>(table, Clamp(capacity)), &status);
  last_error_ = status.ok ? std::string() : status.message;
  return n;
}

bool HiveManagerStore::Save(const ServerConfig* table, int count, const ServerConfig* old_table,
                            int old_count) {
  HiveStatus status;
  const bool ok =
      SaveServerStore(hive_, std::span<const ServerConfig>(table, Clamp(count)),
                      std::span<const ServerConfig>(old_table, Clamp(old_count)), &status);
  last_error_ = status.ok ? std::string() : status.message;
  return ok;
}

int HiveManagerStore::ReadInstallationType() {
  HiveStatus status;
  const int type = zelin::ReadInstallationType(hive_, &status);
  last_error_ = status.ok ? std::string() : status.message;
  return type;
}

void HiveManagerStore::RemoveAllServers() {
  HiveStatus status;
  zelin::RemoveAllServers(hive_, &status);
  last_error_ = status.ok ? std::string() : status.message;
}

}  // namespace zelin::manager
