#pragma once
// The authenticated request/reply exchange with one known server and the
// configuration commands that travel on it.
//
// Each returns success or the exchange's Status, whose code is the LastCommandError
// of the failed attempt. Messages of a reply (a route total too
// large) go to the transport's notice sink as warnings.

#include <vector>

#include "protocol/transport.hpp"
#include "protocol/types.hpp"

namespace zelin {

// One attempt: build the request for `code` from the record, send it on the record's
// socket, wait for the matching reply and hand its payload to the command's parser.
// SaveAndRestart sleeps 6 s (busy) after its reply, telling
// t.restart_wait_observer() (if set) the time left about once a second.
Status Exchange(Transport& t, ServerRecord& record, uint8_t code, int timeout_seconds);

// Exchange up to 3 times until one succeeds; the last attempt's Status.
Status Command(Transport& t, ServerRecord& record, uint8_t code, int timeout_seconds);

// Whole-table helpers built on Command, as the callers read and write the tables.
Status ReadAccessTable(Transport& t, ServerRecord& record, int timeout_seconds);
Status WriteAccessTable(Transport& t, ServerRecord& record, int entries, int timeout_seconds);
Status ReadRouteTable(Transport& t, ServerRecord& record, int timeout_seconds);

// Route edits. The server takes AddRoute entries in the order they arrive: an entry
// with metric 0xFFFF removes the route with its key (SameRouteKey), any other adds the
// route or changes the metric of the route with its key.
// SendRoute sends one entry (through record.route_to_send).
Status SendRoute(Transport& t, ServerRecord& record, const RouteEntry& entry, int timeout_seconds);

// The AddRoute entries that turn route `before` into `after`, in sending order: the one
// rule for a route edit, which the manager's Advanced page and `zelinctl route modify`
// both follow. A change that keeps the key (a metric-only change) is the single entry
// `after`, which the server takes as the route's new metric; a removal of the same
// route sent with it would drop the route. A change of key is the removal of `before`
// (metric 0xFFFF) and then `after`, so that a server whose table is full still takes
// `after`. An unchanged route needs no entry.
std::vector<RouteEntry> RouteChangeEntries(const RouteEntry& before, const RouteEntry& after);
// ChangeRoute sends the RouteChangeEntries of `before` and `after`, stopping at the
// first that fails.
Status ChangeRoute(Transport& t, ServerRecord& record, const RouteEntry& before,
                   const RouteEntry& after, int timeout_seconds);

}  // namespace zelin
