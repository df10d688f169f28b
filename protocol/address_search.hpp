#pragma once
// The search for a free address for a server whose address collides: step through the
// last octet and ask the server (CheckAddress) whether each candidate is in use.

#include <cstdint>
#include <functional>

#include "protocol/bytes.hpp"
#include "protocol/transport.hpp"
#include "protocol/types.hpp"

namespace zelin {

// What follows .254 when the search steps on. .255 is always followed by .0.
//   kFirstHost: .1 (the Add Server Wizard, which never offers the network address
//               after the last host);
//   kNetwork:   .0 (Replace Server, as the manager has always done).
enum class AfterLastHost : uint8_t { kFirstHost, kNetwork };

// The last octet plus one, wrapping after .254 as `after_254` says and after .255 to .0.
Ipv4 NextCandidateAddress(Ipv4 address, AfterLastHost after_254);

enum class FreeAddressResult : uint8_t { kFound, kCommandFailed, kNoneFree };

// Starting at record.ip_address(), sends CheckAddress for at most `tries` candidates.
// A candidate is free when the server reports no conflict and `taken(candidate)` is
// false (the caller's own table). kFound leaves the free candidate in the record;
// otherwise the record holds the last candidate tried and the caller restores or
// reports as it needs (no message is shown here).
FreeAddressResult SearchFreeAddress(Transport& t, ServerRecord& record, int tries,
                                    int timeout_seconds, AfterLastHost after_254,
                                    const std::function<bool(Ipv4)>& taken);

}  // namespace zelin
