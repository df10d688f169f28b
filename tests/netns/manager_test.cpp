// The manager's start-up on the real network path: its search and probes find the
// configured servers of both subnets, and a server behind a dead link stays offline.

#include <gtest/gtest.h>

#include "srvmanager/core/manager_document.hpp"
#include "store/installation_type.hpp"
#include "tests/netns/netns_fixture.hpp"
#include "tests/srvmanager/fixture.hpp"

namespace zelin::manager::testing {
namespace {

using zelin::testing::NetnsLab;
using zelin::testing::Side;

class NetnsManagerTest : public zelin::testing::NetnsFixture<> {
 protected:
  // Starts the manager on a fresh transport inside the client namespace (no stand-ins).
  ManagerDocument& StartManager() {
    NetnsLab::Inside client(*netns_, Side::kClient);
    doc_.reset();
    transport_ = std::make_unique<Transport>(clock_, notices_, Deliverable::Manager);
    EXPECT_TRUE(transport_->OpenTransport());
    EXPECT_EQ(transport_->interface_count(), 2);
    doc_ = std::make_unique<ManagerDocument>(*transport_, prompter_, store_, kMultiHost, [] {});
    doc_->Load();
    return *doc_;
  }
  std::vector<int> Icons() {
    std::vector<int> icons;
    for (const auto& item : doc_->server_tree().items()) icons.push_back(item.icon);
    return icons;
  }

  MemoryStore store_;
  std::unique_ptr<Transport> transport_;
  std::unique_ptr<ManagerDocument> doc_;
};

TEST_F(NetnsManagerTest, StartUpFindsTheConfiguredServersAndADeadLinkLeavesOneOffline) {
  StartLab();
  store_.servers = {MakeEntry(2601, "Quay One", NetnsLab::ServerAddress(1, 10), 771),
                    MakeEntry(2612, "Yard Two", NetnsLab::ServerAddress(2, 11), 771)};
  StartManager();
  EXPECT_EQ(Icons(), (std::vector<int>{kIconOnline, kIconOnline}));
  EXPECT_GE(doc_->tables().found().FindSerial(2611), 0) << "the search reaches the second subnet";

  netns_->SetLink(2, false);  // no FIN, no RST: the yard's frames just vanish
  lab_->ClearLog();
  StartManager();
  EXPECT_EQ(Icons(), (std::vector<int>{kIconOnline, kIconOffline}));
  EXPECT_LT(doc_->tables().found().FindSerial(2611), 0);
  // The first subnet was asked; nothing crossed the dead link.
  bool quay = false;
  for (const auto& e : lab_->Log()) {
    quay = quay || e.server == "2601";
    EXPECT_NE(e.from.rfind("10.77.2.", 0), 0u) << e.from;
  }
  EXPECT_TRUE(quay);
}

}  // namespace
}  // namespace zelin::manager::testing
