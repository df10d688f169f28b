#include "portcheck/core/test_run.hpp"

#include <ctime>

#include "platform/text_format.hpp"
#include "protocol/address.hpp"

namespace zelin::portcheck {

TestRun::TestRun(DiagConfig& config, ResultStores& stores, HostInterfaces& interfaces,
                 DiagSession& session, Clock& clock)
    : RunWorker(session), config_(config), stores_(stores), interfaces_(interfaces), clock_(clock) {}

TestRun::~TestRun() { Close(); }

void TestRun::Open() {
  stop_ = false;
  completed_ = false;
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
  if (stop_.load() || !running_.load()) return true;
  RaiseStop();
  return false;
}

TestStatusSnapshot TestRun::Snapshot(bool with_log) const {
  std::lock_guard lock(mutex_);
  TestStatusSnapshot out = snapshot_;  // its log stays empty: the lines are in log_
  if (with_log) out.log = log_;
  out.log_total = log_total_;
  return out;
}

uint64_t TestRun::LogSince(uint64_t seen, std::vector<std::string>& lines) const {
  std::lock_guard lock(mutex_);
  const uint64_t first_kept = log_total_ - log_.size();
  for (uint64_t n = std::max(seen, first_kept); n < log_total_; ++n)
    lines.push_back(log_[static_cast<size_t>(n - first_kept)]);
  return log_total_;
}

void TestRun::AddLog(std::string line) {
  log_.push_back(std::move(line));
  ++log_total_;
  if (log_.size() > log_capacity_)
    log_.erase(log_.begin(), log_.begin() + static_cast<std::ptrdiff_t>(log_.size() - log_capacity_));
}

std::string TestRun::test_time_line() const {
  std::lock_guard lock(mutex_);
  return time_line_;
}

void TestRun::RunTests() {
  running_ = true;
  session_.set_abort_hold([this] { return stop_.load(); });
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
    if (stop_.load()) {
      EndCancelled(i);
      return;
    }
    const bool passed = TestServer(i);
    if (stores_[static_cast<size_t>(i)].end == TestEnd::kInterrupted) {
      EndCancelled(i + 1);
      return;
    }
    Update([&](TestStatusSnapshot& s) {
      s.marks[static_cast<size_t>(i)] = passed ? ServerMark::kTestPassed : ServerMark::kTestFailed;
      s.progress = kProgressPerServer * (i + 1);
    });
  }
  // Every server was tested to its end. A Cancel pressed after the last one's end
  // report does not throw the run away: the window closes on it and the run stands.
  session_.set_abort_hold({});
  completed_ = true;
  const bool close = stop_.load();
  Update([close](TestStatusSnapshot& s) {
    s.status = "Test Done";
    s.button = "View Report";
    s.done_line_visible = true;
    s.progress_visible = false;
    s.close_requested = close;
  });
  running_ = false;
}

void TestRun::EndCancelled(int from) {
  session_.set_abort_hold({});
  // The servers the run did not reach belong to this cancelled run now: nothing of
  // theirs was gathered.
  for (int k = from; k < config_.server_count; ++k) {
    stores_[static_cast<size_t>(k)].Clear();
    stores_[static_cast<size_t>(k)].end = TestEnd::kInterrupted;
  }
  Update([&](TestStatusSnapshot& s) {
    for (int k = 0; k < config_.server_count; ++k)
      s.marks[static_cast<size_t>(k)] = MarkFromStatus(config_.settings[static_cast<size_t>(k)].status);
    s.close_requested = true;
  });
  running_ = false;
}

bool TestRun::EndEarly(int index, uint32_t kept, TestEnd end) {
  ResultStore& store = stores_[static_cast<size_t>(index)];
  session_.Close();
  store.count = kept;
  store.end = end;
  return false;
}

void TestRun::Fail(int index, uint8_t marker, const char* pattern, int32_t status) {
  const auto i = static_cast<size_t>(index);
  const std::string line = Format(pattern, config_.images[i].name().c_str());
  Update([&](TestStatusSnapshot&) { AddLog(line); });
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
  auto found = interfaces_.SearchWithRetries(image.ip_address(), stop_, kSearchAttempts);
  interfaces_.Close();
  if (!found.ok() && found.status().Is(SessionError::kCancelled))
    return EndEarly(index, 0, TestEnd::kInterrupted);
  if (!found.ok()) {
    Fail(index, kMarkConnectFail, "%s connect fail!", kStatusUnreachable);
    return false;
  }
  if (found->serial_number() != image.serial_number()) {
    Fail(index, kMarkSerialFail, "%s check serial no fail!", kStatusOtherSerial);
    return false;
  }
  // A connect or login that a cancel ended is the run's end, not the server's failure.
  if (!session_.Open(image.ip_address()).ok()) {
    if (stop_.load()) return EndEarly(index, 0, TestEnd::kInterrupted);
    Fail(index, kMarkConnectFail, "%s connect fail!", kStatusUnreachable);
    return false;
  }
  if (stop_.load()) return EndEarly(index, 0, TestEnd::kInterrupted);
  if (!session_.SessionLogin(settings.password).ok()) {
    session_.Close();
    if (stop_.load()) return EndEarly(index, 0, TestEnd::kInterrupted);
    Fail(index, kMarkLoginFail, "%s login fail!", kStatusUnreachable);
    return false;
  }
  settings.status = kStatusReached;
  if (stop_.load()) return EndEarly(index, 0, TestEnd::kInterrupted);
  (void)session_.SendDiagnose(BuildDiagnoseCommand(config_, index));

  const std::string address = AddressToText(image.ip_address());
  uint32_t kept = 0;
  int64_t last_report_ms = clock_.NowMs();
  while (!stop_.load()) {
    auto report = session_.ReceiveProgressReport();
    if (!report.ok()) {
      if (report.status().Is(SessionError::kWaitFailed) ||
          report.status().Is(SessionError::kNotConnected)) {
        // The server closed the connection: no report will come any more. End this
        // server as failed with what it sent, instead of polling a dead socket.
        Update([&](TestStatusSnapshot&) {
          AddLog(Format("%s connection lost!", image.name().c_str()));
        });
        return EndEarly(index, kept, TestEnd::kConnectionLost);
      }
      if (silence_limit_ms_ > 0 && clock_.NowMs() - last_report_ms >= silence_limit_ms_) {
        Update([&](TestStatusSnapshot&) {
          AddLog(Format("%s no report for %lld s!", image.name().c_str(),
                        static_cast<long long>((silence_limit_ms_ + 999) / 1000)));
        });
        return EndEarly(index, kept, TestEnd::kSilent);
      }
      continue;  // nothing within the second (or the abort): look at cancel again
    }
    last_report_ms = clock_.NowMs();
    const ProgressReport& r = *report;
    Update([](TestStatusSnapshot& s) { ++s.progress; });
    if (r.item() == kItemDone) {
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
        Update([&](TestStatusSnapshot&) {
          AddLog(step);
          AddLog(error);
        });
      }
    }
    Update([&](TestStatusSnapshot& s) {
      s.item = ItemName(r.item());
      s.subitem = SubitemName(r.subitem());
    });
  }
  // Cancelled while the server was reporting: what it sent so far stays.
  return EndEarly(index, kept, TestEnd::kInterrupted);
}

}  // namespace zelin::portcheck
