// Port status polling: requests, replies, server states and the timers, against the
// emulator; the reply rules and hostile replies on hand-built datagrams.

#include <map>
#include <random>

#include "monitor/core/polled_monitoring.hpp"
#include "protocol/address.hpp"
#include "tests/support/scripted_prompter.hpp"
#include "tests/monitor/poll_fixture.hpp"

namespace zelin::testing {
namespace {

using monitor::kStateAddressConflict;
using monitor::kStateAnswered;
using monitor::kStateNotAnswered;
using monitor::kStateSilent;

emulator::ServerSpec LabServer(uint16_t serial, Ipv4 ip, DeviceType type = 771) {
  emulator::ServerSpec s;
  s.type = type;
  s.serial = serial;
  s.ip = ip;
  return s;
}

TEST_F(PollTest, WatchedServersAreLocatedQueriedAndTheirRowsFilled) {
  auto a = LabServer(1, block_.Address(10));
  auto b = LabServer(2, block_.Address(11), 9476);  // 4 ports, short blocks
  b.port_status.block_size = 92;
  auto c = LabServer(3, block_.Address(12));
  c.faults.drop_next = 3;  // misses the three locating searches
  StartLab({a, b, c, LabServer(4, block_.Address(13))});
  Watch(1, 10, 16, 0x0265);  // ports 0, 2, 5, 6, 9
  Watch(2, 11, 4, 0x000F);
  Watch(3, 12, 16, 0x0001);
  Watch(9, 13, 16, 0x0001);  // serial 4 answers at this address

  std::vector<monitor::ServerState> located;
  observer_.on_rows_built = [&] {
    for (size_t i = 0; i < 4; ++i) located.push_back(State(i));
  };
  ASSERT_TRUE(Poller().StartMonitoring());
  EXPECT_EQ(located, (std::vector<monitor::ServerState>{kStateAnswered, kStateAnswered,
                                                        kStateNotAnswered, kStateAddressConflict}));
  EXPECT_EQ(Poller().rows().size(), 5u + 4 + 1 + 1);
  EXPECT_EQ(Poller().rows().RowOf(1, 0), 5);
  EXPECT_EQ(config_->servers[1].device_type, 9476);  // taken from the search reply

  // The first queries: ports 0, 2, 5, 6 then 9 padded; the placeholder of the server
  // that missed the searches names model 0 and is answered all the same.
  ASSERT_TRUE(observer_.WaitUpdates(5 + 4 + 1));
  std::vector<std::string> queries;
  for (const auto& e : lab_->Log())
    if (e.code == wire::kQueryPorts && e.server == "1") queries.push_back(e.hex.substr(52, 8));
  EXPECT_EQ(queries, (std::vector<std::string>{"00020506", "09ffffff"}));
  EXPECT_EQ(State(2), kStateAnswered);
  EXPECT_EQ(State(3), kStateAddressConflict);  // values left, no query for serial 9

  std::lock_guard lock(Poller().records_mutex());
  const auto& s0 = config_->servers[0];
  EXPECT_EQ(s0.blocks[9].baud_rate, 9600u);
  EXPECT_EQ(s0.blocks[9].interface_code, 1);
  EXPECT_GT(s0.blocks[9].tx_total, 0u);
  EXPECT_EQ(s0.rates[9].initialised, 1);
  EXPECT_EQ(s0.blocks[1].time_stamp, 0u);  // not watched
  EXPECT_EQ(config_->servers[1].blocks[3].interface_code, monitor::PortStatusBlock::kNoInterface);
}

// Locating several servers side by side gives each the state and record that locating
// it alone gives: three searches for a silent one, a conflict by the sender's address,
// a placeholder where nothing is known; and the searches go out interleaved.
TEST_F(PollTest, LocatingSideBySideKeepsEachServersOutcome) {
  auto late = LabServer(6, block_.Address(15));
  late.faults.drop_next = 1;  // answers the second search
  auto b = LabServer(2, block_.Address(11));
  b.faults.drop_next = 3;
  auto c = LabServer(3, block_.Address(12));
  c.faults.drop_next = 3;
  StartLab({LabServer(1, block_.Address(10)), b, c, LabServer(4, block_.Address(13)), late});
  Watch(5, 14, 16, 0x0001);  // nothing at this address
  Watch(3, 12, 16, 0x0001);
  Watch(9, 13, 16, 0x0001);  // serial 4 answers at this address
  Watch(1, 10, 16, 0x0001);
  Watch(6, 15, 16, 0x0001);
  Watch(2, 11, 16, 0x0001);

  std::vector<monitor::ServerState> located;
  observer_.on_rows_built = [&] {
    for (size_t i = 0; i < 6; ++i) located.push_back(State(i));
  };
  ASSERT_TRUE(Poller().StartMonitoring());
  EXPECT_EQ(located, (std::vector<monitor::ServerState>{kStateNotAnswered, kStateNotAnswered,
                                                        kStateAddressConflict, kStateAnswered,
                                                        kStateAnswered, kStateNotAnswered}));
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(Poller().rows().RowOf(i, 0), static_cast<int>(i));
    ASSERT_GE(Poller().RecordOf(i), 0) << i;
  }
  auto record = [&](size_t i) { return list_.records[static_cast<size_t>(Poller().RecordOf(i))]; };
  EXPECT_EQ(record(0).serial_number(), 5);  // the placeholder
  EXPECT_EQ(record(0).ip_address(), block_.Address(14));
  EXPECT_EQ(record(0).device_type(), 0);
  EXPECT_EQ(record(2).serial_number(), 4);  // the server that answered from the address
  EXPECT_EQ(record(3).serial_number(), 1);
  EXPECT_EQ(list_.count, 6);

  std::vector<std::string> searches;
  std::map<std::string, std::vector<int64_t>> arrived;  // lab time of each search
  for (const auto& e : lab_->Log())
    if (e.code == wire::kSearch) {
      searches.push_back(e.server);
      arrived[e.server].push_back(e.time_ms);
    }
  auto count = [&](const char* serial) { return std::count(searches.begin(), searches.end(), serial); };
  EXPECT_EQ(count("3"), 3);
  EXPECT_EQ(count("2"), 3);
  EXPECT_EQ(count("6"), 2);
  EXPECT_EQ(count("1"), 1);
  // The first attempt reaches the last watched server before the first one's retry.
  ASSERT_EQ(arrived["3"].size(), 3u);
  ASSERT_EQ(arrived["2"].size(), 3u);
  EXPECT_LE(arrived["2"][0], arrived["3"][1]);
  EXPECT_LE(arrived["2"][1], arrived["3"][2]);

  // The servers that missed the searches are picked up by the first queries.
  ASSERT_TRUE(observer_.WaitUpdates(4));
  EXPECT_EQ(State(1), kStateAnswered);
  EXPECT_EQ(State(5), kStateAnswered);
  EXPECT_EQ(State(0), kStateNotAnswered);
}

TEST_F(PollTest, SilenceTurnsAServerSilentWithinTwoChecksAndAReplyBringsItBack) {
  StartLab({LabServer(1, block_.Address(10)), LabServer(2, block_.Address(11))});
  Watch(1, 10, 16, 0x0003);
  Watch(2, 11, 16, 0x0001);
  ASSERT_TRUE(Poller().StartMonitoring());
  ASSERT_TRUE(observer_.WaitUpdates(3));
  EXPECT_FALSE(Poller().throughput_gate());
  lab_->Modify(2, [](emulator::DeviceState& s) { s.port_status.silent = true; });

  // One sampling tick every 3 s; server 1 answers each (its stamps advance with real
  // time), server 2 stays silent. It is silent by the second silence check at the latest.
  for (int t = 3; t <= 60; t += 3) {
    const size_t seen = observer_.updates();
    clock_.Advance(3000);
    EXPECT_EQ(Poller().RunDueTimers(), 3000);
    ASSERT_TRUE(observer_.WaitUpdates(seen + 2)) << "tick at " << t << " s";
    EXPECT_EQ(State(0), kStateAnswered) << t;
    if (t < 30) {
      EXPECT_EQ(State(1), kStateAnswered) << t;
    }
  }
  EXPECT_TRUE(Poller().throughput_gate());
  EXPECT_EQ(State(1), kStateSilent);

  lab_->Modify(2, [](emulator::DeviceState& s) { s.port_status.silent = false; });
  const size_t seen = observer_.updates();
  clock_.Advance(3000);
  Poller().RunDueTimers();
  ASSERT_TRUE(observer_.WaitUpdates(seen + 3));
  Poller().StopMonitoring();  // the worker has reported every change when it ends
  EXPECT_EQ(State(1), kStateAnswered);
  const auto states = observer_.states();
  EXPECT_NE(std::find(states.begin(), states.end(), std::pair<size_t, monitor::ServerState>{
                                                        1, kStateSilent}),
            states.end());
  EXPECT_EQ(states.back(), (std::pair<size_t, monitor::ServerState>{1, kStateAnswered}));
}

// --- the reply rules on hand-built datagrams ------------------------------------------

std::vector<uint8_t> Reply(uint16_t serial, std::array<uint8_t, 4> places, size_t block,
                           uint8_t status = 0) {
  size_t used = 0;
  for (size_t k = 0; k < 4; ++k)
    if (places[k] < 16) used = k + 1;
  // Built in a fixed buffer (a vector's storage reads as possibly null to GCC at -O2).
  std::array<uint8_t, 22 + 4 * 94> d{};
  const size_t size = 22 + used * block;
  d[0] = 0xF0;
  d[1] = status;
  PutBe16(d, 2, static_cast<uint16_t>(size));
  d[6] = 0xA1, d[7] = 0xA2, d[8] = 0xA3, d[9] = 0xA4;
  PutLe16(d, 12, serial);
  std::copy(places.begin(), places.end(), d.begin() + 18);
  for (size_t k = 0; k < used; ++k) {
    PutLe32(d, 22 + block * k + 72, 1000u * (k + 1));  // Tx total
    PutLe32(d, 22 + block * k + 88, 5000u + k);        // time stamp
    if (block == 94) PutLe16(d, 22 + block * k + 92, 2);
  }
  return std::vector<uint8_t>(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(size));
}

TEST(StatusReplyTest, ConflictOtherServerRefusalAndHostileInput) {
  auto config = monitor::MonitorConfig::New();
  config->server_count = 2;
  for (uint16_t i = 0; i < 2; ++i) {
    auto& s = config->servers[i];
    s.serial_number = static_cast<uint16_t>(10 + i);
    s.ip_address = Ipv4FromOctets(127, 0, 0, static_cast<uint8_t>(10 + i));
    s.port_count = 16;
    s.watched_mask = 0x0005;
  }
  ServerRecord record;  // the socket's record (server 10's)
  record.sequence = 4;
  const Ipv4 first = config->servers[0].ip_address;
  auto accept = [&](const std::vector<uint8_t>& d, Ipv4 from) {
    return monitor::AcceptStatusReply(d, d.size(), from, record, *config);
  };

  // Server 11's reply on server 10's socket fills server 11's rows; a place without a
  // watched port is left out of the packed bytes; the record's nonce and sequence move.
  auto out = accept(Reply(11, {2, 1, 0, 0xFF}, 94), config->servers[1].ip_address);
  ASSERT_EQ(out.verdict, monitor::ReplyVerdict::kAccepted);
  EXPECT_EQ(out.server_index, 1);
  EXPECT_EQ(out.ports, 0xFF00FF02u);
  EXPECT_EQ(config->servers[1].blocks[0].tx_total, 3000u);
  EXPECT_EQ(config->servers[1].blocks[2].interface_code, 2);
  EXPECT_EQ(config->servers[1].rates[2].first_time_stamp, 5000u);
  EXPECT_EQ(record.sequence, 5u);
  EXPECT_EQ(record.nonce, (std::array<uint8_t, 4>{0xA1, 0xA2, 0xA3, 0xA4}));

  // Another serial number from server 10's address: magenta, values left.
  monitor::StoreState(config->servers[0], monitor::kStateAnswered);
  out = accept(Reply(77, {0, 2, 0xFF, 0xFF}, 92), first);
  EXPECT_EQ(out.verdict, monitor::ReplyVerdict::kNothing);
  EXPECT_EQ(monitor::LoadState(config->servers[0]), kStateAddressConflict);
  EXPECT_EQ(config->servers[0].blocks[0].tx_total, 0u);
  EXPECT_EQ(config->servers[0].rates[2].silence_time_stamp, 5001u);
  EXPECT_EQ(record.sequence, 5u);

  // Short blocks carry no interface; a refusal counts as nothing but moves the sequence.
  out = accept(Reply(10, {0, 0xFF, 0xFF, 0xFF}, 92), first);
  EXPECT_EQ(out.verdict, monitor::ReplyVerdict::kAccepted);
  EXPECT_EQ(config->servers[0].blocks[0].interface_code, -1);
  EXPECT_EQ(monitor::LoadState(config->servers[0]), kStateAnswered);
  out = accept(Reply(10, {0, 0xFF, 0xFF, 0xFF}, 94, 6), first);
  EXPECT_EQ(out.verdict, monitor::ReplyVerdict::kNothing);
  EXPECT_EQ(record.sequence, 7u);
  EXPECT_EQ(accept(Reply(10, {0, 0xFF, 0xFF, 0xFF}, 94, 3), first).verdict,
            monitor::ReplyVerdict::kSkipped);

  // A port named in two places (an input the fuzzer found): stored from its first place
  // and reported once, so its row is not redrawn after its samples moved on.
  out = accept(Reply(10, {0, 0, 0xFF, 0xFF}, 94), first);
  ASSERT_EQ(out.verdict, monitor::ReplyVerdict::kAccepted);
  EXPECT_EQ(out.ports, 0xFFFFFF00u);
  EXPECT_EQ(config->servers[0].blocks[0].tx_total, 1000u);

  // Random, truncated and oversized datagrams (a fixed seed): never out of bounds, and
  // never a port value from a block that did not arrive whole.
  std::mt19937 rng(20261207);
  const auto good = Reply(10, {0, 2, 0xFF, 0xFF}, 94);
  for (int i = 0; i < 5000; ++i) {
    std::vector<uint8_t> d;
    switch (i % 4) {
      case 0:  // truncated
        d.assign(good.begin(), good.begin() + static_cast<long>(rng() % good.size()));
        break;
      case 1:  // oversized
        d = good;
        d.resize(good.size() + 1 + rng() % 600, 0x5A);
        break;
      case 2:  // flipped bytes
        d = good;
        for (int f = 0; f < 4; ++f) d[rng() % d.size()] = static_cast<uint8_t>(rng());
        break;
      default:  // random
        d.resize(rng() % 420);
        for (auto& b : d) b = static_cast<uint8_t>(rng());
        if (!d.empty()) d[0] = 0xF0;
    }
    const auto o = monitor::AcceptStatusReply(d, d.size() + (i % 7 == 0 ? 3 : 0), first, record,
                                              *config);
    if (o.verdict == monitor::ReplyVerdict::kAccepted) {
      for (size_t k = 0; k < 4; ++k) {
        const uint8_t p = static_cast<uint8_t>(o.ports >> (8 * k));
        if (p != 0xFF) {
          EXPECT_LE(22 + (k + 1) * 92, d.size());
        }
      }
    }
  }
}

}  // namespace
}  // namespace zelin::testing

namespace zelin::testing {
namespace {

// The status list as the program's widget sees it (written from both threads).
class RecordingDisplay final : public monitor::StatusDisplay {
 public:
  void ShowColumns(const std::vector<monitor::DisplayItem>& columns) override {
    std::lock_guard lock(mu_);
    columns_ = columns.size();
    cells_.clear();
  }
  void AddRow() override {
    std::lock_guard lock(mu_);
    cells_.emplace_back(columns_);
  }
  void SetCell(size_t row, size_t column, const std::string& text) override {
    std::lock_guard lock(mu_);
    cells_.at(row).at(column) = text;
    cv_.notify_all();
  }
  void RedrawRows(size_t, size_t) override {}
  // Waits (bounded) until cell (row, column) shows `text`.
  bool WaitCell(size_t row, size_t column, const std::string& text) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] {
      return row < cells_.size() && cells_[row][column] == text;
    });
  }
  size_t rows() {
    std::lock_guard lock(mu_);
    return cells_.size();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  size_t columns_ = 0;
  std::vector<std::vector<std::string>> cells_;
};

TEST_F(PollTest, PolledMonitoringFillsTheStatusListFromTheWorker) {
  auto server = LabServer(1, block_.Address(10));
  server.port_status.connection = 1;  // OPEN
  StartLab({server});
  monitor::MonitorState state;
  auto& s = state.in_use->servers[0];
  state.in_use->server_count = 1;
  s.serial_number = 1;
  s.ip_address = block_.Address(10);
  s.port_count = 16;
  s.watched_mask = 0x0003;
  state.in_use->column_mask = 1u << monitor::kItemConnection;
  RecordingDisplay display;
  ScriptedPrompter prompter;
  monitor::PolledMonitoring monitoring(state, *transport_, display, prompter);

  monitoring.StartMonitoring();
  EXPECT_EQ(display.rows(), 2u);
  EXPECT_TRUE(display.WaitCell(1, 0, "OPEN"));
  monitoring.Suspend();
  EXPECT_EQ(monitoring.RunDueTimers(), -1);  // no ticks while the sheet is open
  monitoring.Resume();
  clock_.Advance(3000);
  EXPECT_EQ(monitoring.RunDueTimers(), 3000);
  EXPECT_TRUE(state.throughput_gate);
  monitoring.ShowColumnsOnly();
  EXPECT_FALSE(monitoring.poller().running());
  EXPECT_EQ(display.rows(), 0u);
  EXPECT_TRUE(prompter.texts().empty());
}

}  // namespace
}  // namespace zelin::testing
