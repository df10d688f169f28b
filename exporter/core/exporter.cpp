#include "exporter/core/exporter.hpp"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "exporter/core/probe_request.hpp"
#include "protocol/address.hpp"

namespace zelin::exporter {
namespace {

std::string Number(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

HttpAnswer Plain(int status, std::string text) {
  return {status, "text/plain; charset=utf-8", std::move(text) + "\n"};
}

std::string ProbeFamilies(bool success, double seconds) {
  return "# HELP zelin_probe_success Whether the probe reached the server and every asked "
         "port reported.\n# TYPE zelin_probe_success gauge\nzelin_probe_success " +
         std::string(success ? "1" : "0") +
         "\n# HELP zelin_probe_duration_seconds How long the probe took.\n"
         "# TYPE zelin_probe_duration_seconds gauge\nzelin_probe_duration_seconds " +
         Number(seconds) + "\n";
}

}  // namespace

void ExporterMetrics::Probed(double seconds, ProbeFailure failure) {
  std::lock_guard lock(mu_);
  ++probes_;
  if (failure != ProbeFailure::kNone) ++failures_[failure];
  for (size_t i = 0; i < kBuckets.size(); ++i)
    if (seconds <= kBuckets[i]) ++buckets_[i];
  sum_ += seconds;
}

void ExporterMetrics::Known(Ipv4 address) {
  std::lock_guard lock(mu_);
  known_.insert(address);
}

std::string ExporterMetrics::Exposition(size_t carried_ports) const {
  std::lock_guard lock(mu_);
  std::ostringstream o;
  o << "# HELP zelin_exporter_probes_total Probes answered, failed ones included.\n"
       "# TYPE zelin_exporter_probes_total counter\nzelin_exporter_probes_total "
    << probes_ << '\n';
  o << "# HELP zelin_exporter_probe_failures_total Failed probes by reason.\n"
       "# TYPE zelin_exporter_probe_failures_total counter\n";
  for (ProbeFailure f : {ProbeFailure::kBadRequest, ProbeFailure::kRefused, ProbeFailure::kPassword,
                         ProbeFailure::kNoAnswer, ProbeFailure::kConflict, ProbeFailure::kNoStatus,
                         ProbeFailure::kSocket}) {
    const auto it = failures_.find(f);
    o << "zelin_exporter_probe_failures_total{reason=\"" << ProbeFailureName(f) << "\"} "
      << (it == failures_.end() ? 0 : it->second) << '\n';
  }
  o << "# HELP zelin_exporter_probe_duration_seconds Time the probes took.\n"
       "# TYPE zelin_exporter_probe_duration_seconds histogram\n";
  for (size_t i = 0; i < kBuckets.size(); ++i)
    o << "zelin_exporter_probe_duration_seconds_bucket{le=\"" << Number(kBuckets[i]) << "\"} "
      << buckets_[i] << '\n';
  o << "zelin_exporter_probe_duration_seconds_bucket{le=\"+Inf\"} " << probes_ << '\n'
    << "zelin_exporter_probe_duration_seconds_sum " << Number(sum_) << '\n'
    << "zelin_exporter_probe_duration_seconds_count " << probes_ << '\n';
  o << "# HELP zelin_exporter_servers_known Servers in the target list or probed at least "
       "once.\n# TYPE zelin_exporter_servers_known gauge\nzelin_exporter_servers_known "
    << known_.size() << '\n';
  o << "# HELP zelin_exporter_ports_carried Ports whose byte totals the exporter carries.\n"
       "# TYPE zelin_exporter_ports_carried gauge\nzelin_exporter_ports_carried "
    << carried_ports << '\n';
  return o.str();
}

Exporter::Exporter(ExporterOptions options, Clock& clock)
    : options_(std::move(options)), clock_(clock) {
  for (const Target& t : options_.targets) metrics_.Known(t.address);
}

HttpAnswer Exporter::Handle(std::string_view method, std::string_view raw_target,
                            std::string_view timeout_header) {
  std::string error;
  const auto target = ParseRequestTarget(raw_target, &error);
  const bool probe_path = raw_target.substr(0, raw_target.find('?')) == "/probe";
  if (!target) {
    if (probe_path) metrics_.Probed(0, ProbeFailure::kBadRequest);
    return Plain(400, error);
  }
  if (method != "GET" && method != "HEAD") return Plain(405, "only GET is answered");
  if (target->path == "/probe") return Probe(*target, timeout_header);
  if (target->path == "/metrics") {
    HttpAnswer a;
    a.body = metrics_.Exposition(carries_.size());
    return a;
  }
  if (target->path == "/targets") return Targets();
  if (target->path == "/")
    return {200, "text/html; charset=utf-8",
            "<html><head><title>zelin-exporter</title></head><body><h1>zelin-exporter</h1>"
            "<p><a href=\"/metrics\">/metrics</a>, <a href=\"/targets\">/targets</a>, "
            "/probe?target=ADDRESS[&amp;ports=1-16]</p></body></html>\n"};
  return Plain(404, "not found");
}

HttpAnswer Exporter::Probe(const RequestTarget& target, std::string_view timeout_header) {
  const int64_t start = clock_.NowMs();
  std::string error;
  const auto request = ParseProbeRequest(target, &error);
  if (!request) {
    metrics_.Probed(0, ProbeFailure::kBadRequest);
    return Plain(400, error);
  }
  double timeout = options_.default_timeout_s;
  if (!timeout_header.empty()) {
    const auto header = ParseScrapeTimeout(timeout_header);
    if (!header) {
      metrics_.Probed(0, ProbeFailure::kBadRequest);
      return Plain(400, "bad X-Prometheus-Scrape-Timeout-Seconds");
    }
    timeout = *header;
  }
  const double budget = std::max(timeout - options_.timeout_offset_s, std::min(timeout, 0.1) / 2);
  const int64_t deadline = start + static_cast<int64_t>(budget * 1000);

  ProbeOptions po;
  po.source = options_.source;
  po.loopback_only = options_.loopback_only;
  po.server_port = options_.server_port;
  ProbeRequest asked = *request;
  const auto listed = std::find_if(options_.targets.begin(), options_.targets.end(),
                                   [&](const Target& t) { return t.address == asked.address; });
  if (listed != options_.targets.end()) {
    po.expected_serial = listed->serial;
    if (!asked.ports_given && listed->ports) asked.ports = *listed->ports;
  }
  if (const auto p = options_.passwords.find(asked.address); p != options_.passwords.end())
    po.password = p->second;

  const ProbeResult result = ProbeServer(asked, po, deadline, clock_, carries_);
  const double seconds = static_cast<double>(clock_.NowMs() - start) / 1000.0;
  if (result.identified) metrics_.Known(asked.address);
  metrics_.Probed(seconds, result.failure);
  if (result.failure == ProbeFailure::kRefused)
    return Plain(400, "target outside 127.0.0.0/8 refused (ZELIN_LOOPBACK_ONLY=1)");
  HttpAnswer a;
  if (result.identified) a.body = monitor::WriteExposition({result.server});
  a.body += ProbeFamilies(result.success, seconds);
  return a;
}

HttpAnswer Exporter::Targets() const {
  nlohmann::json list = nlohmann::json::array();
  for (const Target& t : options_.targets) {
    nlohmann::json labels = nlohmann::json::object();
    if (t.serial) labels["__meta_zelin_serial"] = std::to_string(*t.serial);
    list.push_back({{"targets", {AddressToText(t.address)}}, {"labels", labels}});
  }
  return {200, "application/json", list.dump() + "\n"};
}

}  // namespace zelin::exporter
