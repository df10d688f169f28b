#pragma once
// What the monitor's document and sheet tests share: a temporary folder, a polling
// engine that records what it was asked, scripted file dialogs and finder, and found
// servers.

#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "monitor/core/configuration_sheet.hpp"
#include "monitor/core/monitor_document.hpp"
#include "tests/support/scripted_prompter.hpp"
#include "tests/support/temp_dir.hpp"

namespace zelin::monitor::testing {

// A temporary folder of the monitor's files.
struct TempFolder : zelin::testing::TempDir {
  TempFolder() : TempDir("zelin-monitor") {}
};

// Records "start", "stop", "suspend", "resume", "columns".
class RecordingMonitoring final : public Monitoring {
 public:
  void StartMonitoring() override { calls.push_back("start"); }
  void StopMonitoring() override { calls.push_back("stop"); }
  void Suspend() override { calls.push_back("suspend"); }
  void Resume() override { calls.push_back("resume"); }
  void ShowColumnsOnly() override { calls.push_back("columns"); }
  std::vector<std::string> calls;
};

class ScriptedFiles final : public FileChooser {
 public:
  std::optional<std::filesystem::path> ChooseSavePath() override { return Next(); }
  std::optional<std::filesystem::path> ChooseOpenPath() override { return Next(); }
  std::deque<std::optional<std::filesystem::path>> answers;

 private:
  std::optional<std::filesystem::path> Next() {
    if (answers.empty()) return std::nullopt;
    auto a = answers.front();
    answers.pop_front();
    return a;
  }
};

inline ServerRecord FoundServer(uint16_t serial, DeviceType type, Ipv4 address,
                                std::string_view name) {
  ServerRecord r;
  PutLe16(r.search_reply, wire::kSrDeviceType, type);
  PutLe16(r.search_reply, wire::kSrSerial, serial);
  r.set_ip_address(address);
  r.set_name(name);
  return r;
}

// The servers "on the network" of a test: Search lists them all, Probe finds one.
class ScriptedFinder final : public ServerFinder {
 public:
  void Search(ServerList& list) override {
    ++searches;
    list = ServerList{};
    for (const ServerRecord& r : network) list.records[static_cast<size_t>(list.count++)] = r;
  }
  Result<int> Probe(ServerList& list, Ipv4 address) override {
    probed.push_back(address);
    for (const ServerRecord& r : network) {
      if (r.ip_address() != address) continue;
      const int known = list.FindSerial(r.serial_number());
      if (known >= 0) {
        list.records[static_cast<size_t>(known)] = r;
        return known;
      }
      list.records[static_cast<size_t>(list.count)] = r;
      return list.count++;
    }
    return LastCommandError::kTimeout;
  }
  std::vector<ServerRecord> network;
  std::vector<Ipv4> probed;
  int searches = 0;
};

inline Ipv4 Lab(uint8_t host) { return Ipv4FromOctets(127, 0, 77, host); }

}  // namespace zelin::monitor::testing
