#pragma once
// The emulated lab as a process of its own: devsim started with one --server flag per
// server and the broadcast stand-in it answers on, for the tests and benchmarks that
// drive a lab from outside (and for programs that are themselves separate processes).
// Stop it with StopChild (tests/support/spawn.hpp).

#include <sys/types.h>

#include <string>
#include <vector>

#include "protocol/address.hpp"
#include "tests/support/spawn.hpp"

namespace zelin::testing {

// Starts the devsim program at `devsim` with the servers of `servers` (each a --server
// flag's text, such as "type=771,serial=31,ip=127.0.9.10") answering on `broadcast`, and
// waits for its ready line; what it printed up to there is appended to `*output` when
// given. Returns its pid, or -1 when it could not start or ended before it was ready.
inline pid_t SpawnDevsim(const std::string& devsim, Ipv4 broadcast,
                         const std::vector<std::string>& servers, std::string* output = nullptr) {
  std::vector<std::string> args = {devsim, "--broadcast", AddressToText(broadcast)};
  for (const std::string& s : servers) {
    args.push_back("--server");
    args.push_back(s);
  }
  return SpawnUntilReady(args, "ready broadcast=", output);
}

}  // namespace zelin::testing
