#pragma once
// Discovery: the Search broadcast in three sends and two reply rounds, and the
// probe of one address.

#include "protocol/transport.hpp"
#include "protocol/types.hpp"

namespace zelin {

// Fills `list` with the servers that answer (at most 32). Every caller passes 1
// second for the second round.
void SearchServers(Transport& t, ServerList& list, int second_round_timeout_seconds);

// Sends Search to `address` and returns the index of the matching record in the
// list (updated or appended), or -1.
int ProbeAddress(Transport& t, ServerList& list, Ipv4 address, int timeout_seconds);
// ProbeAddress up to 4 times until it returns an index.
int ProbeAddressRetry(Transport& t, ServerList& list, Ipv4 address, int timeout_seconds);

}  // namespace zelin
