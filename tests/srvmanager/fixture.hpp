#pragma once
// Shared pieces of the manager tests: an in-memory store, hand-made found-server
// records, and a document over a loopback transport with a compressed clock.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/clock.hpp"
#include "protocol/transport.hpp"
#include "srvmanager/core/manager_document.hpp"
#include "srvmanager/core/manager_store.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/scripted_prompter.hpp"

namespace zelin::manager::testing {

// A store in memory that records its saves.
class MemoryStore final : public ManagerStore {
 public:
  std::vector<ServerConfig> servers;
  int type = 2;
  bool fail_load = false;
  bool fail_save = false;
  int saves = 0;
  int removals = 0;

  Result<int> Load(ServerConfig* table, int capacity) override {
    if (fail_load) return StoreError::kNoStore;
    int n = 0;
    for (const auto& s : servers) {
      if (n >= capacity) break;
      table[n++] = s;
    }
    return n;
  }
  Status Save(const ServerConfig* table, int count, const ServerConfig*, int) override {
    ++saves;
    if (fail_save) return StoreError::kDiscarded;
    servers.assign(table, table + count);
    return {};
  }
  Result<int> ReadInstallationType() override { return type; }
  Status RemoveAllServers() override {
    ++removals;
    servers.clear();
    return {};
  }
};

inline ServerConfig MakeEntry(uint16_t serial, const char* name, Ipv4 ip, DeviceType type = 9476) {
  ServerConfig c;
  c.device_type = type;
  c.serial_number = serial;
  c.set_name(name);
  c.ip_address = ip;
  c.netmask = Ipv4FromOctets(255, 255, 255, 0);
  c.port_count = 4;
  return c;
}

// A found-server record as a search reply would fill it.
inline ServerRecord MakeRecord(uint16_t serial, const char* name, Ipv4 ip, DeviceType type = 9476,
                               std::vector<uint8_t> kinds = {2, 2, 2, 2}) {
  ServerRecord r;
  PutLe16(r.search_reply, wire::kSrDeviceType, type);
  PutLe16(r.search_reply, wire::kSrSerial, serial);
  r.set_name(name);
  r.set_ip_address(ip);
  r.set_netmask(Ipv4FromOctets(255, 255, 255, 0));
  r.search_reply[wire::kSrPortCount] = static_cast<uint8_t>(kinds.size());
  for (size_t i = 0; i < kinds.size(); ++i) r.set_port_kind(i, kinds[i]);
  return r;
}

// A document over an opened loopback transport with nobody listening, a compressed
// clock and a scripted prompter.
class OfflineDocTest : public ::testing::Test {
 protected:
  // How much faster than real time the test's clock runs. Tests with emulated
  // servers use less, so that a busy machine still delivers replies within the
  // compressed reply waits.
  virtual double Speedup() const { return 200.0; }

  void SetUp() override {
    clock_ = std::make_unique<ScaledClock>(Speedup());
    transport_ = std::make_unique<Transport>(*clock_, notices_, Deliverable::Manager,
                                             block_.ClientOptions());
    ASSERT_TRUE(transport_->OpenTransport());
  }
  void TearDown() override { transport_->CloseTransport(); }

  // Loads `entries` (all offline), then puts `records` in the found table and
  // rebuilds the tree, so that the entries with a record show as online.
  ManagerDocument& MakeDoc(int type, std::vector<ServerConfig> entries,
                       std::vector<ServerRecord> records) {
    store_.servers = std::move(entries);
    doc_ = std::make_unique<ManagerDocument>(*transport_, prompter_, store_, type,
                                             [this] { ++fresh_ports_; });
    doc_->Load();
    auto& found = doc_->tables().found();
    found.count = 0;
    for (auto& r : records) found.records[static_cast<size_t>(found.count++)] = r;
    doc_->server_tree().BuildTree();
    prompter_.Clear();
    return *doc_;
  }

  Ipv4 Addr(uint8_t host) const { return block_.Address(host); }

  zelin::testing::LoopbackBlock block_;
  std::unique_ptr<ScaledClock> clock_;
  zelin::testing::ScriptedPrompter prompter_;
  PrompterNotices notices_{prompter_};
  std::unique_ptr<Transport> transport_;
  MemoryStore store_;
  std::unique_ptr<ManagerDocument> doc_;
  int fresh_ports_ = 0;
};

}  // namespace zelin::manager::testing
