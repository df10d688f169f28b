#pragma once
// The manager's document over an emulated lab on this test's loopback block, with a
// store in memory, a compressed clock and a scripted prompter, for driving the
// property commands the way the main window does.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "emulator/lab.hpp"
#include "platform/clock.hpp"
#include "protocol/transport.hpp"
#include "srvmanager/core/manager_document.hpp"
#include "srvmanager/core/manager_store.hpp"
#include "srvmanager/properties/core/document_host.hpp"
#include "tests/srvmanager_properties/fakes.hpp"
#include "tests/support/lab_support.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/scripted_prompter.hpp"

namespace zelin::manager::testing {

using zelin::testing::LoopbackBlock;
using zelin::testing::ScriptedDialogs;
using zelin::testing::ScriptedPrompter;

class MemoryStore final : public ManagerStore {
 public:
  std::vector<ServerConfig> servers;
  Result<int> Load(ServerConfig* table, int capacity) override {
    const int n = std::min(capacity, static_cast<int>(servers.size()));
    std::copy_n(servers.begin(), n, table);
    return n;
  }
  Status Save(const ServerConfig* table, int count, const ServerConfig*, int) override {
    servers.assign(table, table + count);
    return {};
  }
  Result<int> ReadInstallationType() override { return 0; }
  Status RemoveAllServers() override {
    servers.clear();
    return {};
  }
};

class LabTest : public ::testing::Test {
 protected:
  emulator::ServerSpec Server(uint16_t serial, uint8_t host, DeviceType type = 9476,
                              std::string name = {}) {
    emulator::ServerSpec s = zelin::testing::LabServer(
        serial, name.empty() ? "Lab" + std::to_string(serial) : std::move(name),
        block.Address(host), type);
    s.hardware = {
        0x02, 0x00, 0x00, 0x00, static_cast<uint8_t>(serial >> 8), static_cast<uint8_t>(serial)};
    return s;
  }
  // A QX404 with firmware carrying DHCP (on), one route and one access entry.
  emulator::ServerSpec Rich(uint16_t serial, uint8_t host) {
    emulator::ServerSpec s = Server(serial, host);
    s.dhcp = 1;
    s.routes = {{block.Address(1), Ipv4FromOctets(10, 1, 0, 0), Ipv4FromOctets(255, 255, 0, 0), 2}};
    s.access = {{block.Address(0), Ipv4FromOctets(255, 255, 255, 0), 0x3}};
    return s;
  }

  void StartLab(std::vector<emulator::ServerSpec> servers,
                std::vector<emulator::OccupiedAddress> occupied = {}) {
    lab = zelin::testing::StartBlockLab(block, std::move(servers), clock,
                                        {.restart_ms = 500, .occupied = std::move(occupied)});
    transport = zelin::testing::OpenBlockClient(block, clock, notices, Deliverable::Manager);
  }

  // A configured server in the store, as the entry of a lab server (or of none).
  ServerConfig& Configure(uint16_t serial, uint8_t host, DeviceType type = 9476,
                          std::string name = {}) {
    ServerConfig c = zelin::testing::MakeEntry(
        type, serial, (name.empty() ? "Cfg" + std::to_string(serial) : name).c_str(),
        block.Address(host));
    store.servers.push_back(c);
    return store.servers.back();
  }

  // Loads the document (search, store, tree) for an installation type.
  void LoadDoc(int type) {
    doc = std::make_unique<ManagerDocument>(*transport, prompter, store, type, [] {});
    doc->Load();
    doc_host = std::make_unique<DocumentHost>(*doc);
  }

  // Selects the tree item of the entry with this serial number.
  void Select(uint16_t serial) {
    for (size_t i = 0; i < doc->server_tree().items().size(); ++i) {
      if (doc->tables().server(doc->server_tree().items()[i].server_index).serial_number == serial) {
        doc->server_tree().SelectTreeItem(static_cast<int>(i));
        return;
      }
    }
    ADD_FAILURE() << "no tree item for serial " << serial;
  }

  ServerRecord& Found(uint16_t serial) {
    const int i = doc->tables().found().FindSerial(serial);
    EXPECT_GE(i, 0) << "serial " << serial << " not found";
    return doc->tables().found().records[static_cast<size_t>(std::max(i, 0))];
  }

  // Command codes of the UDP requests the server with this serial number took, in
  // order (searches left out).
  std::vector<int> Codes(uint16_t serial) const {
    return zelin::testing::UdpCodes(*lab, serial, /*with_searches=*/false);
  }
  static int Count(const std::vector<int>& codes, int code) {
    return static_cast<int>(std::count(codes.begin(), codes.end(), code));
  }

  bool Shown(std::string_view text) const {
    for (const auto& t : prompter.texts())
      if (t == text) return true;
    return false;
  }

  LoopbackBlock block;
  ScaledClock clock{20};
  ScriptedPrompter prompter;
  PrompterNotices notices{prompter};
  ScriptedDialogs dialogs;
  MemoryStore store;
  std::unique_ptr<emulator::Lab> lab;
  std::unique_ptr<Transport> transport;
  std::unique_ptr<ManagerDocument> doc;
  std::unique_ptr<DocumentHost> doc_host;
};

}  // namespace zelin::manager::testing
