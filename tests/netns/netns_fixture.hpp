#pragma once
// The fixture of the real-network tests: a NetnsLab (tests/support/netns_lab.hpp) with
// the lab of emulator/labs/netns.json running in-process inside its server namespace.
// Header only: each netns test executable links the emulator and its own program core.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "emulator/lab.hpp"
#include "platform/clock.hpp"
#include "platform/notices.hpp"
#include "tests/support/netns_lab.hpp"
#include "tests/support/scripted_prompter.hpp"

namespace zelin::testing {

using Side = NetnsLab::Side;

inline std::string Quoted(const std::string& s) { return "'" + s + "'"; }

inline emulator::LabSpec NetnsLabSpec() {
  std::ifstream in(ZELIN_NETNS_LAB_FILE);
  std::stringstream text;
  text << in.rdbuf();
  auto parsed = emulator::ParseLabJson(text.str());
  if (!parsed) throw std::runtime_error(parsed.error);
  return *parsed.value;
}

template <typename ClockType>
ClockType MakeClock() {
  if constexpr (std::is_same_v<ClockType, ScaledClock>) {
    return ScaledClock(10);
  } else {
    return ClockType();
  }
}

inline bool WaitFor(const std::function<bool()>& done, int limit_ms = 20000) {
  for (int waited = 0; waited < limit_ms; waited += 20) {
    if (done()) return true;
    SystemClock().SleepMs(20);
  }
  return done();
}

// Skips with the reason where namespaces cannot be made. The lab and the client share
// one clock (ScaledClock by default) unless a test gives the lab its own.
template <typename ClockType = ScaledClock>
class NetnsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = NetnsLab::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    netns_ = std::make_unique<NetnsLab>();
  }
  void TearDown() override {
    if (lab_) lab_->Stop();
  }

  // The lab of emulator/labs/netns.json, started inside the server namespace.
  emulator::Lab& StartLab() {
    NetnsLab::Inside server(*netns_, Side::kServer);
    lab_ = std::make_unique<emulator::Lab>(NetnsLabSpec(), lab_clock());
    std::string error;
    EXPECT_TRUE(lab_->Start(&error)) << error;
    return *lab_;
  }
#ifdef ZELINCTL_PATH
  int Zelinctl(const std::string& args, std::string* output) {
    return netns_->Run(Side::kClient, std::string(ZELINCTL_PATH) + " " + args, output);
  }
#endif

  virtual Clock& lab_clock() { return clock_; }

  ClockType clock_ = MakeClock<ClockType>();
  ScriptedPrompter prompter_;
  PrompterNotices notices_{prompter_};
  std::unique_ptr<NetnsLab> netns_;
  std::unique_ptr<emulator::Lab> lab_;
};

}  // namespace zelin::testing
