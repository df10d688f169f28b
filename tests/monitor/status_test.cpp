// The status list's texts: code tables, cells with their cache, throughput, port
// mapping through the product lines' stores, the row table and the meters.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "monitor/core/code_tables.hpp"
#include "monitor/core/port_status_model.hpp"
#include "monitor/core/status_cells.hpp"
#include "store/registry.hpp"

namespace zelin::monitor {
namespace {

TEST(MonitorCodes, TablesTurnBytesIntoWords) {
  EXPECT_EQ(OperationModeText(772, 0x93), "Mode-(FFFFFF93)");  // first group, signed byte
  EXPECT_EQ(OperationModeText(772, 0x23), "Mode-(23)");
  EXPECT_EQ(OperationModeText(9491, 0x93), "RAW PRN");  // second group: low 4 bits only
  EXPECT_EQ(OperationModeText(0x0211, 0x08), "Pair Connection(Slave)");
  EXPECT_EQ(OperationModeText(0x4311, 0x08), "Mode-(8)");
  EXPECT_EQ(ConnectionStateText(10), "---");
  EXPECT_EQ(ConnectionStateText(12), "DISCONNECT");
  EXPECT_EQ(ConnectionStateText(20), "DISCONNECT");
  EXPECT_EQ(ConnectionStateText(21), "---");
  EXPECT_EQ(CharacterModeText(0x1B), "E/ 8/ 1");
  EXPECT_EQ(CharacterModeText(0x04), "N/ 5/ 1.5");
  EXPECT_EQ(CharacterModeText(0x17), "/ 8/ 2");  // parity code 0x10 has no letter
  EXPECT_EQ(ParityDialogText(0x38), "SPACE");
  EXPECT_EQ(StopBitsDialogText(0x00), "1.5");
  EXPECT_EQ(FlowControlText(0), "NONE");
  EXPECT_EQ(FlowControlText(0x0D), "CTS, Tx XOn/XOff, Rx XOn/XOff");
  EXPECT_EQ(FlowControlText(0xF0), "");
  EXPECT_EQ(InterfaceText(PortStatusBlock::kNoInterface), "RS232");
  EXPECT_EQ(InterfaceText(4), "RS485_BYRTS");
  EXPECT_EQ(DurationText(25555), " 7: 5:55");
  EXPECT_EQ(DurationText(100 * 3600), "100: 0: 0");
  EXPECT_EQ(MonitorModelName(33553), "VR-21M");
  EXPECT_EQ(MonitorModelName(1234), "unknow");
  EXPECT_EQ(MonitorPortCount(1234), 0);
}

// A watched VR-13 at 127.0.9.20 with port 2 (index 1) reporting.
struct Fixture {
  ServerList found;
  PortMappings mappings;
  MonitoredServer server;
  StatusCells cells;

  Fixture() {
    server.serial_number = 1201;
    server.device_type = 771;
    server.port_count = 16;
    server.set_name("Dock North");
    server.ip_address = Ipv4FromOctets(127, 0, 9, 20);
    server.watched_mask = 0x0002;
    server.port_kinds.fill(kPortMappable);
    PortStatusBlock& b = server.blocks[1];
    b.connection_state = 13;
    b.baud_rate = 9600;
    b.line_format = 0x03;
    b.tx_total = 1000;
    b.rx_total = 500;
    b.time_stamp = 10'000;
    b.interface_code = 2;
    server.received_mask = 0x0002;  // port 2's block came in a reply
    ServerRecord& r = found.records[0];
    PutLe16(r.search_reply, wire::kSrDeviceType, 771);
    PutLe16(r.search_reply, wire::kSrSerial, 1201);
    r.set_ip_address(server.ip_address);
    for (size_t p = 0; p < 16; ++p) r.set_port_kind(p, kPortMappable);
    found.count = 1;
  }
  CellSources Sources(bool gate) { return {found, mappings, gate}; }
  std::vector<std::string> Row(bool gate) {
    std::vector<std::string> texts(cells.columns().size());
    for (auto& [column, text] : cells.FormatRow(0, server, 1, Sources(gate))) texts[column] = text;
    return texts;
  }
};

TEST(MonitorCells, DefaultColumnsStateAndCache) {
  Fixture f;
  f.cells.BuildColumns(MonitorConfig::kDefaultColumnMask);
  const std::vector<DisplayItem> expected = {
      kItemServerName, kItemServerAddress, kItemPortNumber, kItemPortMapping, kItemConnection,
      kItemBaudRate,   kItemTxTotal,       kItemRxTotal,    kItemTxCount,     kItemRxCount,
      kItemTxThroughput, kItemRxThroughput, kItemIntervalTx, kItemIntervalRx};
  EXPECT_EQ(f.cells.columns(), expected);

  // Not answering: identity columns shown, "---" in every other.
  StoreState(f.server, kStateNotAnswered);
  EXPECT_EQ(f.Row(true), (std::vector<std::string>{"Dock North", "127.0.9.20", "---", "---", "---",
                                                   "---", "---", "---", "---", "---", "---", "---",
                                                   "---", "---"}));
  // Answered: the cells that changed, and only those, come back.
  StoreState(f.server, kStateAnswered);
  f.server.rates[1] = {1, 1000, 500, 10'000, 0, 1000, 500, 10'000, 10'000};
  EXPECT_EQ(f.Row(false), (std::vector<std::string>{"", "", "2", "COM", "CONNECTED", "9600", "1000",
                                                    "500", "0", "0", "0", "0", "0", "0"}));
  EXPECT_EQ(f.Row(false), std::vector<std::string>(14));
  f.server.blocks[1].connection_state = 0;
  EXPECT_EQ(f.Row(false)[4], "CLOSE");

  // A block that never came: its values stay empty, the identity columns are shown.
  f.server.received_mask = 0;
  f.cells.ClearCache();
  EXPECT_EQ(f.Row(false), (std::vector<std::string>{"Dock North", "127.0.9.20", "2", "COM", "", "",
                                                    "", "", "", "", "", "", "", ""}));
  f.server.received_mask = 0x0002;

  // Every item has a text for an answering server.
  f.cells.BuildColumns(kAllItemsMask);
  f.cells.ClearCache();
  const auto all = f.Row(false);
  EXPECT_EQ(all[kItemModel], "VR-13");
  EXPECT_EQ(all[kItemOperationMode], "Host based (ASPP)");
  EXPECT_EQ(all[kItemLoginAddress], "---");
  EXPECT_EQ(all[kItemCharacterMode], "N/ 8/ 1");
  EXPECT_EQ(all[kItemInterface], "RS422");
  EXPECT_EQ(all[kItemDcd], "OFF");
}

TEST(MonitorCells, ThroughputGateIntervalAndRestart) {
  Fixture f;
  PortRateSamples& s = f.server.rates[1];
  PortStatusBlock& b = f.server.blocks[1];
  s = {1, 1000, 500, 10'000, 0, 1000, 500, 10'000, 10'000};
  b.tx_total = 3000;       // 2000 bytes in 2 s
  b.rx_total = 500;        // nothing received
  b.time_stamp = 12'000;
  EXPECT_EQ(AverageThroughputText(s, b, true, false), "0");  // before the first tick
  EXPECT_EQ(AverageThroughputText(s, b, true, true), "1000");
  EXPECT_EQ(IntervalThroughputText(s, b, true, true), "1000");
  EXPECT_EQ(IntervalThroughputText(s, b, false, true), "0");
  // Exact arithmetic: 3 bytes in 3 s are 1 per second.
  EXPECT_EQ(CharactersPerSecond(3, 3000), 1u);
  EXPECT_EQ(CharactersPerSecond(0xFFFFFFFF, 1), 4294967295000u);

  // The server restarted: "0" once, and the next reply becomes the first sample.
  b.time_stamp = 500;
  EXPECT_EQ(AverageThroughputText(s, b, true, true), "0");
  EXPECT_EQ(s.initialised, 0);
  EXPECT_EQ(AverageThroughputText(s, b, false, true), "0");
}

TEST(MonitorCells, PortMappingThroughTheProductLineStores) {
  Fixture f;
  const auto dir = std::filesystem::temp_directory_path() /
                   ("zelin-monitor-map-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  MemoryRegistry reg;
  const auto add = [&](std::string_view params, uint32_t type, uint32_t serial, Ipv4 ip,
                       std::vector<std::pair<uint32_t, uint32_t>> ports) {
    const std::string key = RegJoin(params, "Server1");
    ASSERT_TRUE(reg.CreateKey(params));
    ASSERT_TRUE(reg.WriteDword(params, "Servers", 1));
    ASSERT_TRUE(reg.CreateKey(key));
    reg.WriteDword(key, "DeviceType", type);
    reg.WriteDword(key, "ServerFlag", 0);
    reg.WriteDword(key, "SerialNo", serial);
    reg.WriteBinary(key, "ServerName", AsBytes("x"));
    reg.WriteDword(key, "IPAddress", Ipv4ToHostOrder(ip));
    reg.WriteDword(key, "Netmask", 0x00FFFFFF);
    for (size_t p = 0; p < ports.size(); ++p) {
      const std::string port_key = RegJoin(key, PortKeyName(static_cast<uint32_t>(p)));
      reg.CreateKey(port_key);
      reg.WriteDword(port_key, "PortFlag", ports[p].first);
      reg.WriteDword(port_key, "COM", ports[p].second);
    }
  };
  add(ParametersKeyOf(ProductLine::kZelin), 771, 1201, f.server.ip_address, {{1, 7}, {1, 0}, {0, 9}});
  add(ParametersKeyOf(ProductLine::kZelit), 772, 1201, f.server.ip_address, {{1, 3}});
  HiveFile hive(dir / "registry.reg");
  ASSERT_TRUE(hive.Store(reg).ok());
  f.mappings.Load(hive);
  std::filesystem::remove_all(dir);

  EXPECT_EQ(f.mappings.Text(f.found, f.server, 0), "COM7");
  EXPECT_EQ(f.mappings.Text(f.found, f.server, 1), "COM256");
  EXPECT_EQ(f.mappings.Text(f.found, f.server, 2), "COM");
  f.found.records[0].set_port_kind(3, kPortWan);
  f.found.records[0].set_port_kind(4, 0x10 | kPortWan);
  EXPECT_EQ(f.mappings.Text(f.found, f.server, 3), "WAN");
  EXPECT_EQ(f.mappings.Text(f.found, f.server, 4), "---");
  // The lite line files the 4-port models.
  PutLe16(f.found.records[0].search_reply, wire::kSrDeviceType, 772);
  EXPECT_EQ(f.mappings.Text(f.found, f.server, 0), "COM3");
  // A model no store files: empty, so the cell keeps the text it had.
  PutLe16(f.found.records[0].search_reply, wire::kSrDeviceType, 1234);
  EXPECT_EQ(f.mappings.Text(f.found, f.server, 0), "");
  // Found under another address: not this server.
  f.found.records[0].set_ip_address(Ipv4FromOctets(127, 0, 9, 21));
  EXPECT_EQ(f.mappings.Text(f.found, f.server, 0), "---");
}

TEST(MonitorRows, EveryPortOfThirtyTwoServersHasARow) {
  auto config = MonitorConfig::New();
  config->server_count = 32;
  for (auto& s : config->servers) {
    s.port_count = 16;
    s.watched_mask = 0xFFFF;
  }
  config->servers[1].watched_mask = 0b1000100101;  // ports 0, 2, 5 and 9
  config->servers[1].port_count = 8;               // port 9 is beyond the server's ports
  RowTable rows;
  rows.Build(*config);
  EXPECT_EQ(rows.size(), 16u * 31 + 3);
  EXPECT_EQ(rows.RowsOf(1).first, 16);
  EXPECT_EQ(rows.RowsOf(1).last, 18);
  EXPECT_EQ(rows.RowOf(1, 5), 18);
  EXPECT_EQ(rows.RowOf(1, 9), -1);
  EXPECT_EQ(rows[rows.size() - 1], (Row{31, 15}));
}

TEST(MonitorMeters, ScaleBarAndHistory) {
  MonitoredServer server;
  server.set_name("Dock");
  server.ip_address = Ipv4FromOctets(127, 0, 9, 20);
  PortStatusBlock& b = server.blocks[2];
  b.baud_rate = 9600;
  b.tx_total = 100;
  b.time_stamp = 1000;
  b.login_host = 0xFFFFFFFF;
  ServerList found;
  PortMappings mappings;
  PortStatusModel window(server, 2, found, mappings);
  EXPECT_EQ(window.Title(), "Port 3 of 127.0.9.20(Dock) status");
  window.Open();
  EXPECT_EQ(window.maximum(), 960u);
  EXPECT_EQ(window.fields().host_address, "");
  EXPECT_EQ(window.fields().port_name, "---");
  b.tx_total = 2100;  // 2000 characters in one second
  b.rx_total = 48;    // 48 per second: one lit segment of ten
  b.time_stamp = 2000;
  window.Tick();
  EXPECT_EQ(window.tx().value, 960u);
  EXPECT_EQ(LitSegments(window.tx().value, window.maximum()), 10);
  EXPECT_EQ(LitSegments(window.rx().value, window.maximum()), 1);
  EXPECT_EQ(window.tx().history.samples().size(), 2u);
  EXPECT_EQ(window.tx().history.PixelHeight(1, 50), 50);
  EXPECT_EQ(window.tx().history.PixelHeight(0, 50), 1);  // a zero sample is one pixel
  // A time stamp going back (restart) leaves the meters alone.
  b.time_stamp = 10;
  window.Tick();
  EXPECT_EQ(window.tx().history.samples().size(), 2u);
  // No usable baud rate: the scale is 100, never zero.
  EXPECT_EQ(MeterMaximum(0), 100u);
  EXPECT_EQ(MeterMaximum(5), 100u);
}

// The window copies the block under the lock that the receiving thread writes it under:
// while the lock is held elsewhere, a tick waits for it.
TEST(MonitorMeters, TickReadsTheBlockUnderTheRecordsLock) {
  MonitoredServer server;
  server.blocks[0].baud_rate = 9600;
  ServerList found;
  PortMappings mappings;
  std::mutex records;
  PortStatusModel window(server, 0, found, mappings, &records);
  window.Open();
  std::atomic<bool> ticked{false};
  std::unique_lock held(records);
  std::thread tick([&] {
    window.Tick();
    ticked = true;
  });
  server.blocks[0].baud_rate = 19200;  // the writer's half of the update
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(ticked);
  held.unlock();
  tick.join();
  EXPECT_TRUE(ticked);
  EXPECT_EQ(window.fields().baud_rate, "19200");
}

}  // namespace
}  // namespace zelin::monitor
