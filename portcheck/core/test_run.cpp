#include "portcheck/core/test_run.hpp"

#include <ctime>

#include "platform/text_format.hpp"
#include "protocol/address.hpp"

namespace zelin::portcheck {

TestRun::TestRun(DiagConfig& config, ResultStores& stores, HostInterfaces& interfaces,
                 DiagSession& session, Clock& clock)
    : config_(config), stores_(stores), interfaces_(interfaces), session_(session), clock_(clock) {}

TestRun::~TestRun() { Close(); }

void TestRun::Open() {
  cancel_ = false;
  // Running from the start, so that a Cancel before the worker's first step stops it
  // instead of closing the window over a run that goes on.
  running_ = true;
  Update([&](TestStatusSnapshot& s) {
    s.progress_max = kProgressPerServer * config_.server_count;
    s.progress = kProgressFirstStep;
  });
  worker_ = std::thread([this] { RunTests(); });
}

bool TestRun::PressCancel() {
  if (cancel_.load() || !running_.load()) return true;
  cancel_ = true;
  session_.RaiseAbort();
  return false;
}

void TestRun::Close() {
  if (worker_.joinable()) {
    if (running_.load()) {
      cancel_ = true;
      session_.RaiseAbort();
    }
    worker_.join();
  }
}

void TestRun::Wait() {
  if (worker_.joinable()) worker_.join();
}

TestStatusSnapshot TestRun::Snapshot() const {
  std::lock_guard lock(mutex_);
  return snapshot_;
}

std::string TestRun::test_time_line() const {
  std::lock_guard lock(mutex_);
  return time_line_;
}

void TestRun::RunTests() {
  running_ = true;
  const std::time_t now = clock_.UnixSeconds();
  std::tm local{};
  localtime_r(&now, &local);
  {
    std::lock_guard lock(mutex_);
    time_line_ = TestTimeLine(local);
  }
  Update([](TestStatusSnapshot& s) {
    s.status = "Testing ...";
    s.done_line_visible = false;
  });
  for (int i = 0; i < config_.server_count; ++i) {
    if (cancel_.load()) {
      Update([&](TestStatusSnapshot& s) {
        for (int k = 0; k < config_.server_count; ++k)
          s.marks[static_cast<size_t>(k)] = MarkFromStatus(config_.settings[static_cast<size_t>(k)].status);
        s.close_requested = true;
      });
      running_ = false;
      return;
    }
    const bool passed = TestServer(i);
    Update([&](TestStatusSnapshot& s) {
      s.marks[static_cast<size_t>(i)] = passed ? ServerMark::kTestPassed : ServerMark::kTestFailed;
      s.progress = kProgressPerServer * (i + 1);
    });
  }
  if (cancel_.load()) {
    // Cancelled while the last server was tested: the same end as before a server.
    Update([&](TestStatusSnapshot& s) {
      for (int k = 0; k < config_.server_count; ++k)
        s.marks[static_cast<size_t>(k)] = MarkFromStatus(config_.settings[static_cast<size_t>(k)].status);
      s.close_requested = true;
    });
    running_ = false;
    return;
  }
  Update([](TestStatusSnapshot& s) {
    s.status = "Test Done";
    s.button = "View Report";
    s.done_line_visible = true;
    s.progress_visible = false;
  });
  running_ = false;
}

void TestRun::Fail(int index, uint8_t marker, const char* pattern, int32_t status) {
  const auto i = static_cast<size_t>(index);
  const std::string line = Format(pattern, config_.images[i].name().c_str());
  Update([&](TestStatusSnapshot& s) { s.log.push_back(line); });
  stores_[i].MarkFailure(marker);
  config_.settings[i].status = status;
}

bool TestRun::TestServer(int index) {
  const auto i = static_cast<size_t>(index);
  ResultStore& store = stores_[i];
  const ServerImage& image = config_.images[i];
  ServerTestSettings& settings = config_.settings[i];
  store.Clear();
  bool result = true;
  Update([&](TestStatusSnapshot& s) {
    s.object = image.name();
    s.item.clear();
    s.subitem.clear();
  });

  (void)interfaces_.Open();  // a failure shows as a search that finds nothing
  auto found = interfaces_.SearchWithRetries(image.ip_address(), cancel_, kSearchAttempts);
  interfaces_.Close();
  if (!found.ok() && found.status().Is(SessionError::kCancelled)) return false;
  if (!found.ok()) {
    Fail(index, kMarkConnectFail, "%s connect fail!", kStatusUnreachable);
    return false;
  }
  if (found->serial_number() != image.serial_number()) {
    Fail(index, kMarkSerialFail, "%s check serial no fail!", kStatusOtherSerial);
    return false;
  }
  if (!session_.Open(image.ip_address()).ok()) {
    Fail(index, kMarkConnectFail, "%s connect fail!", kStatusUnreachable);
    return false;
  }
  if (cancel_.load()) {
    session_.Close();
    return false;
  }
  if (!session_.SessionLogin(settings.password).ok()) {
    session_.Close();
    Fail(index, kMarkLoginFail, "%s login fail!", kStatusUnreachable);
    return false;
  }
  settings.status = kStatusReached;
  if (cancel_.load()) {
    session_.Close();
    return false;
  }
  (void)session_.SendDiagnose(BuildDiagnoseCommand(config_, index));

  const std::string address = AddressToText(image.ip_address());
  uint32_t kept = 0;
  while (!cancel_.load()) {
    auto report = session_.ReceiveProgressReport();
    if (!report.ok()) {
      if (report.status().Is(SessionError::kWaitFailed) ||
          report.status().Is(SessionError::kNotConnected)) {
        // The server closed the connection: no report will come any more. End this
        // server as failed with what it sent, instead of polling a dead socket.
        session_.Close();
        store.count = kept;
        Update([&](TestStatusSnapshot& s) {
          s.log.push_back(Format("%s connection lost!", image.name().c_str()));
        });
        return false;
      }
      continue;  // nothing within the second (or the abort): look at cancel again
    }
    const ProgressReport& r = *report;
    Update([](TestStatusSnapshot& s) { ++s.progress; });
    if (r.item() == kItemEnd) {
      store.count = kept;
      session_.Close();
      return result;
    }
    if (r.has_result()) {
      if (kept < ResultStore::kCapacity) store.results[kept++] = r;
      if (r.result() != 0) {
        result = false;
        const std::string step = Format("%s %s", address.c_str(), DescribeStep(r).c_str());
        const std::string error = "    " + DescribeError(r.result());
        Update([&](TestStatusSnapshot& s) {
          s.log.push_back(step);
          s.log.push_back(error);
        });
      }
    }
    Update([&](TestStatusSnapshot& s) {
      s.item = ItemName(r.item());
      s.subitem = SubitemName(r.subitem());
    });
  }
  session_.Close();
  store.count = 0;
  return false;
}

}  // namespace zelin::portcheck
