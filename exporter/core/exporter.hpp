#pragma once
// The exporter's answers, without the HTTP server around them: a request target and
// the scrape's deadline header in, a status code, content type and body out.
//
//   /probe?target=ADDRESS[&ports=LIST]  probes the server (prober.hpp) within the
//       deadline of X-Prometheus-Scrape-Timeout-Seconds less an offset, and answers its
//       metrics (monitor/core/exposition.hpp) with zelin_probe_success and
//       zelin_probe_duration_seconds, which are always there. A malformed query is
//       answered 400 and counted as a failed probe.
//   /metrics   the exporter's own figures: probes, failures by reason, the probe
//       duration histogram, the servers known.
//   /targets   the target list for Prometheus's HTTP service discovery (JSON).
//
// Thread-safe: Handle runs on any number of HTTP threads at once.

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "exporter/core/prober.hpp"
#include "exporter/core/target_list.hpp"
#include "platform/clock.hpp"

namespace zelin::exporter {

inline constexpr char kExpositionType[] = "text/plain; version=0.0.4; charset=utf-8";

struct ExporterOptions {
  Ipv4 source = 0;                 // probes' source address (0: any)
  bool loopback_only = false;      // ZELIN_LOOPBACK_ONLY: refuse other targets
  double default_timeout_s = 10;   // without the scrape's header
  double timeout_offset_s = 0.5;   // kept free of the deadline for the answer to travel
  uint16_t server_port = 1029;
  std::vector<Target> targets;               // the static list (may be empty)
  std::map<Ipv4, std::string> passwords;     // the password file
};

struct HttpAnswer {
  int status = 200;
  std::string content_type = kExpositionType;
  std::string body;
};

// The exporter's own counters.
class ExporterMetrics {
 public:
  static constexpr std::array<double, 12> kBuckets = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                                      0.5,   1,    2.5,   5,    10,  30};
  void Probed(double seconds, ProbeFailure failure);
  void Known(Ipv4 address);
  std::string Exposition(size_t carried_ports) const;

 private:
  mutable std::mutex mu_;
  uint64_t probes_ = 0;
  std::map<ProbeFailure, uint64_t> failures_;
  std::array<uint64_t, kBuckets.size()> buckets_{};
  double sum_ = 0;
  std::set<Ipv4> known_;
};

class Exporter {
 public:
  Exporter(ExporterOptions options, Clock& clock);

  HttpAnswer Handle(std::string_view method, std::string_view raw_target,
                    std::string_view timeout_header);

  const ExporterMetrics& metrics() const { return metrics_; }

 private:
  HttpAnswer Probe(const struct RequestTarget& target, std::string_view timeout_header);
  HttpAnswer Targets() const;

  ExporterOptions options_;
  Clock& clock_;
  CarryTable carries_;
  ExporterMetrics metrics_;
};

}  // namespace zelin::exporter
