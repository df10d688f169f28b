#pragma once
// Discovery: the Search broadcast in three sends and two reply rounds, and the
// probe of one address.
//
// What they find is the list; a server that does not answer is no error. Socket
// errors and replies with an unexpected sequence number go to the transport's notice
// sink, and the broadcasts and every reply wait are busy waits there.

#include <span>
#include <vector>

#include "protocol/transport.hpp"
#include "protocol/types.hpp"

namespace zelin {

// Fills `list` with the servers that answer (at most 32). Every caller passes 1
// second for the second round. Success when any server answered; kTimeout when none
// did; a socket Status when the broadcast could not be sent.
Status SearchServers(Transport& t, ServerList& list, int second_round_timeout_seconds);

// Sends Search to `address` and returns the index of the matching record in the
// list (updated or appended). Otherwise the exchange's code (kTimeout: no answer from
// that address, kSendFailed), a socket error of the wait, or ENOBUFS when the list is
// full.
Result<int> ProbeAddress(Transport& t, ServerList& list, Ipv4 address, int timeout_seconds);
// ProbeAddress up to kProbeAttempts times until it returns an index; else the last
// attempt's error.
inline constexpr int kProbeAttempts = 4;
Result<int> ProbeAddressRetry(Transport& t, ServerList& list, Ipv4 address, int timeout_seconds);
// ProbeAddressRetry for several addresses side by side: each attempt sends the Search
// to every address still silent, in the given order, then waits `timeout_seconds` on
// every socket at once and hands each reply to the probe of the address it carries.
// Every address gets the attempts, requests and waits that ProbeAddressRetry gives it;
// the whole costs one probe's time rather than the sum. Returns one index (or the error
// of its last attempt) per address, in the given order; a repeated address is probed
// once.
std::vector<Result<int>> ProbeAddressesRetry(Transport& t, ServerList& list,
                                             std::span<const Ipv4> addresses, int timeout_seconds);

}  // namespace zelin
