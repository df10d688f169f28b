// The client against servers that misbehave on the network: duplicated, stale and
// late replies, two host interfaces, and tables longer than a record holds.

#include <atomic>
#include <set>
#include <thread>

#include "protocol/address.hpp"
#include "tests/integration/lab_fixture.hpp"

namespace zelin::testing {
namespace {

class LabFaultsTest : public NonceModesLabTest {};
INSTANTIATE_TEST_SUITE_P(NonceModes, LabFaultsTest, ::testing::Bool(), NonceModeName);

TEST_P(LabFaultsTest, DuplicatedStaleAndLateRepliesKeepClientAndServerInStep) {
  ServerRecord& r = StartAndLogIn(5, 10, "pw");

  struct Case {
    const char* what;
    emulator::FaultSettings faults;
  };
  emulator::FaultSettings duplicate, stale, late, everything;
  duplicate.duplicate = true;
  stale.stale = true;
  late.delay_ms = 1500;  // later than the 1 s wait: the retry meets the late reply
  everything.duplicate = everything.stale = true;
  everything.delay_ms = 300;
  for (const Case& c : {Case{"duplicate", duplicate}, Case{"stale", stale}, Case{"late", late},
                        Case{"all", everything}}) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(lab_->SetFaults(5, c.faults));
    for (int i = 0; i < 6; ++i) {
      const uint32_t before = r.sequence;
      ASSERT_TRUE(Command(*transport_, r, i % 2 ? wire::kLogin : wire::kGetAccessList, 1)) << i;
      EXPECT_EQ(r.sequence, before + 1);
    }
  }
  ASSERT_TRUE(lab_->SetFaults(5, {}));
  // Whatever is still on its way is skipped by sequence number.
  clock_.SleepMs(2000);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Exchange(*transport_, r, wire::kLogin, 1)) << i;

  // A search with duplicated replies still lists the server once.
  lab_->SetFaults(5, duplicate);
  SearchServers(*transport_, list_, 1);
  EXPECT_EQ(list_.count, 1);
}

// The reply to SaveAndRestart is lost but the server restarts all the same: the retry
// meets the server back up, is answered from its replay cache, and it restarts once.
TEST_P(LabFaultsTest, LostSaveAndRestartReplyRestartsTheServerOnce) {
  StartLab({Server(5, 10)});
  OpenClient();
  ServerRecord& r = Found(5);
  r.set_name("Renamed");
  ASSERT_TRUE(Command(*transport_, r, wire::kSetName, 1));
  emulator::FaultSettings lossy;
  lossy.drop_share = 1.0;
  ASSERT_TRUE(lab_->SetFaults(5, lossy));
  std::atomic<bool> done{false};
  std::thread healer([&] {
    // Lets the first SaveAndRestart reply be dropped, then stops the loss.
    while (!done) {
      for (const auto& e : lab_->Log())
        if (e.code == wire::kSaveAndRestart && e.server == "5") {
          lab_->SetFaults(5, {});
          return;
        }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  const bool saved = Command(*transport_, r, wire::kSaveAndRestart, 10).ok();
  done = true;
  healer.join();
  EXPECT_TRUE(saved);
  const auto st = lab_->Snapshot(5);
  EXPECT_EQ(st->restarts, 1);
  EXPECT_EQ(st->applied.NameText(), "Renamed");
  const auto saves = Requests(wire::kSaveAndRestart, "5");
  ASSERT_EQ(saves.size(), 2u);
  EXPECT_EQ(saves[1].verdict, "replayed");
  EXPECT_TRUE(Command(*transport_, r, wire::kLogin, 1));
}

TEST_P(LabFaultsTest, TwoHostInterfacesEachReachTheServers) {
  StartLab({Server(5, 10), Server(6, 11)});
  TransportOptions o{.interfaces = {block_.Interface(0), block_.Interface(1)},
                     .broadcast = block_.Broadcast(),
                     .loopback_only = true};
  transport_ = std::make_unique<Transport>(clock_, notices_, Deliverable::Manager, o);
  ASSERT_TRUE(transport_->OpenTransport());
  ASSERT_EQ(transport_->interface_count(), 2);
  SearchServers(*transport_, list_, 1);
  ASSERT_EQ(list_.count, 2);
  // Each broadcast left once through each socket, so every server answered six times.
  std::set<std::string> senders;
  for (const auto& e : Requests(wire::kSearch, "5"))
    senders.insert(e.from.substr(0, e.from.find(':')));
  EXPECT_EQ(senders, (std::set<std::string>{AddressToText(block_.Interface(0)),
                                            AddressToText(block_.Interface(1))}));
  EXPECT_EQ(Requests(wire::kSearch, "5").size(), 6u);
  // Records answer on the first socket, where their requests go.
  for (int i = 0; i < 2; ++i) {
    ServerRecord& r = list_.records[static_cast<size_t>(i)];
    EXPECT_EQ(r.socket, transport_->socket(0));
    EXPECT_TRUE(Command(*transport_, r, wire::kLogin, 1));
  }
}

TEST_P(LabFaultsTest, TablesLongerThanARecordHolds) {
  auto wide = Server(5, 10);
  for (int i = 0; i < 50; ++i)
    wide.access.push_back({Ipv4FromOctets(127, 3, 0, static_cast<uint8_t>(i + 1)), 0xFFFFFFFFu, 1});
  for (int i = 0; i < 40; ++i)
    wide.routes.push_back({block_.Address(1), Ipv4FromOctets(127, 4, static_cast<uint8_t>(i), 0),
                           Ipv4FromOctets(255, 255, 255, 0), static_cast<uint16_t>(i)});
  auto huge = Server(6, 11);
  for (int i = 0; i < 70; ++i) {
    huge.access.push_back({Ipv4FromOctets(127, 5, 0, static_cast<uint8_t>(i + 1)), 0xFFFFFFFFu, 1});
    huge.routes.push_back({block_.Address(1), Ipv4FromOctets(127, 6, static_cast<uint8_t>(i), 0),
                           Ipv4FromOctets(255, 255, 255, 0), 1});
  }
  StartLab({wide, huge});
  OpenClient();
  SearchServers(*transport_, list_, 1);
  ASSERT_EQ(list_.count, 2);
  ServerRecord& w = list_.records[static_cast<size_t>(list_.FindSerial(5))];
  ServerRecord& h = list_.records[static_cast<size_t>(list_.FindSerial(6))];

  // The record keeps its 32 entries; the read ends without asking forever.
  lab_->ClearLog();
  ASSERT_TRUE(ReadAccessTable(*transport_, w, 1));
  EXPECT_EQ(w.access_table[31], wide.access[31]);
  ASSERT_TRUE(ReadRouteTable(*transport_, w, 1));
  EXPECT_EQ(w.route_table[31], wide.routes[31]);
  EXPECT_LE(Requests().size(), 4u);
  EXPECT_TRUE(prompter_.texts().empty());

  // Above 64 entries: the messages, and the route read fails.
  ASSERT_TRUE(ReadAccessTable(*transport_, h, 1));
  EXPECT_EQ(prompter_.texts(), std::vector<std::string>{"Security number are too much : 70"});
  prompter_.Clear();
  EXPECT_FALSE(ReadRouteTable(*transport_, h, 1));
  ASSERT_FALSE(prompter_.texts().empty());
  EXPECT_EQ(prompter_.texts()[0], "Routing number(70) too much");
  // The refused reply's nonce was not taken, so the server and the record disagree
  // until the next exchange is refused and moves the record on.
  EXPECT_TRUE(Command(*transport_, h, wire::kLogin, 1));
}

}  // namespace
}  // namespace zelin::testing
