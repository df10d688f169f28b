// wizard_host: runs the Add Server Wizard the way the manager does, without the manager.
//
//   wizard_host [--registry PATH] [--type 1|2|3]
//
// Opens its own transport (ZELIN_INTERFACES, ZELIN_BROADCAST and ZELIN_LOOPBACK_ONLY
// apply, so it can run against devsim on loopback), loads the configured servers from
// the hive, searches the network, lends its tables to VCOMMManWizard and, when the
// wizard ends with Finish, saves the new table to the hive. --type sets "ZelinType"
// first when the hive has none.
#include <QApplication>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "mapwizard/mapwizard.h"
#include "platform/clock.hpp"
#include "protocol/discovery.hpp"
#include "protocol/transport.hpp"
#include "store/hive_file.hpp"
#include "store/server_store.hpp"

namespace {

struct Tables {
  zelin::ServerList found, saved_found;
  std::array<zelin::ServerConfig, zelin::kMaxConfiguredServers> configuration{}, saved{};
  int count = 0;
};

int Usage() {
  std::fprintf(stderr, "usage: wizard_host [--registry PATH] [--type 1|2|3]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::string registry;
  int type = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--registry" && i + 1 < argc) {
      registry = argv[++i];
    } else if (a == "--type" && i + 1 < argc) {
      type = std::atoi(argv[++i]);
      if (type < 1 || type > 3) return Usage();
    } else {
      return Usage();
    }
  }
  if (!registry.empty()) ::setenv("ZELIN_REGISTRY", registry.c_str(), 1);
  zelin::HiveFile hive(zelin::ResolveRegistryPath());

  if (type != 0) {
    ZelinTypeArguments t{static_cast<uint32_t>(type)};
    SetZelinType(&t);
  }

  auto tables = std::make_unique<Tables>();
  const zelin::Result<int> loaded = zelin::LoadServerStore(hive, tables->configuration);
  if (!loaded && !loaded.status().Is(zelin::StoreError::kNoStore)) {
    std::fprintf(stderr, "wizard_host: %s\n", loaded.status().message().c_str());
    return 4;
  }
  tables->count = loaded.value_or(0);
  tables->saved = tables->configuration;

  zelin::ConsoleNotices notices;
  const auto [options, problem] = zelin::TransportOptions::FromEnvironment();
  zelin::Transport transport(zelin::SystemClock(), notices, zelin::Deliverable::Manager, options);
  if (!problem.ok()) {
    std::fprintf(stderr, "wizard_host: %s\n", problem.message().c_str());
    return 4;
  }
  if (!transport.OpenTransport()) {
    std::fprintf(stderr, "wizard_host: no network interface to use\n");
    return 4;
  }
  zelin::SearchServers(transport, tables->found, 1);
  tables->saved_found = tables->found;

  std::array<int, zelin::Transport::kSlots> sockets{};
  std::array<uint32_t, zelin::Transport::kSlots> addresses{};
  const int n = transport.interface_count();
  for (int i = 0; i < n; ++i) {
    sockets[static_cast<size_t>(i)] = transport.socket(i);
    addresses[static_cast<size_t>(i)] = transport.local_address(i);
  }
  WizardArguments args{sockets.data(),       n,
                       addresses.data(),     &tables->found,
                       &tables->saved_found, tables->configuration.data(),
                       tables->saved.data(), &tables->count};
  const int result = VCOMMManWizard(&args);
  if (result != 1) {
    std::printf("wizard ended without adding a server\n");
    return 1;
  }
  const int old_count = loaded.value_or(0);
  std::array<zelin::ServerConfig, zelin::kMaxConfiguredServers> old_table{};
  if (!zelin::LoadServerStore(hive, old_table)) old_table = {};
  if (const zelin::Status saved =
          zelin::SaveServerStore(hive, std::span(tables->configuration.data(), tables->count),
                                 std::span(old_table.data(), old_count));
      !saved) {
    std::fprintf(stderr, "wizard_host: saving failed: %s\n", saved.message().c_str());
    return 1;
  }
  const zelin::ServerConfig& added = tables->configuration[static_cast<size_t>(tables->count - 1)];
  std::printf("added %s (serial %u); the store now holds %d servers\n", added.name().c_str(),
              added.serial_number, tables->count);
  return 0;
}
