#pragma once
// One probe of one device server, as the port status monitor watches it: a search to
// the server's address for its identity (model, serial number, name, firmware), then
// QueryPorts for the asked ports, four to a request, judged by the monitor's own
// AcceptStatusReply into the monitor's records. Every wait ends by the probe's
// deadline; what arrived by then is the answer.
//
// Each probe has its own UDP socket (bound to the configured source address, any port),
// so probes run side by side on any number of threads. CarryTable keeps the 64-bit byte
// totals between probes and is shared by them (internally locked).

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>

#include "exporter/core/probe_request.hpp"
#include "monitor/core/exposition.hpp"
#include "platform/clock.hpp"

namespace zelin::exporter {

// Why a probe failed (the `reason` label of the exporter's failure counter).
enum class ProbeFailure {
  kNone,
  kBadRequest,   // malformed query (answered 400 before any probe)
  kRefused,      // the target is outside 127.0.0.0/8 while ZELIN_LOOPBACK_ONLY=1
  kPassword,     // the password file holds more than 16 characters for the server
  kNoAnswer,     // no search reply from the address
  kConflict,     // another serial number answers from the address than the list says
  kNoStatus,     // the server answered the search but not every asked port reported
  kSocket,       // the probe's socket could not be opened or used
};
std::string_view ProbeFailureName(ProbeFailure failure);

// The 64-bit byte totals of every port seen, by (address, serial, port).
class CarryTable {
 public:
  // Feeds the block of one port; gives its carried totals.
  std::pair<uint64_t, uint64_t> Update(Ipv4 address, uint16_t serial, size_t port,
                                       const monitor::PortStatusBlock& block, int64_t now_ms);
  size_t size() const;

 private:
  struct Carry {
    monitor::CounterCarry tx, rx;
    int64_t last_ms = 0;
  };
  mutable std::mutex mu_;
  std::map<std::tuple<Ipv4, uint16_t, size_t>, Carry> carries_;
};

struct ProbeOptions {
  Ipv4 source = 0;              // address the probe's socket binds (0: any)
  bool loopback_only = false;   // refuse targets outside 127.0.0.0/8
  std::optional<uint16_t> expected_serial;  // from the target list
  std::string password;         // from the password file
  uint16_t server_port = 1029;  // the device's UDP port
};

struct ProbeResult {
  bool success = false;
  ProbeFailure failure = ProbeFailure::kNone;
  monitor::ServerSample server;  // identity, state, the ports that reported
  bool identified = false;       // a search reply came: `server` has its identity
};

// Probes `request.address` until `deadline_ms` of `clock`.
ProbeResult ProbeServer(const ProbeRequest& request, const ProbeOptions& options,
                        int64_t deadline_ms, Clock& clock, CarryTable& carries);

}  // namespace zelin::exporter
