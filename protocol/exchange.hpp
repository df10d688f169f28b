#pragma once
// The authenticated request/reply exchange with one known server and the
// configuration commands that travel on it.

#include "protocol/transport.hpp"
#include "protocol/types.hpp"

namespace zelin {

// One attempt: build the request for `code` from the record, send it on the record's
// socket, wait for the matching reply and hand its payload to the command's parser.
// Sets t.last_error. SaveAndRestart sleeps 6 s after its reply, telling
// t.restart_wait_observer (if set) the time left about once a second.
bool Exchange(Transport& t, ServerRecord& record, uint8_t code, int timeout_seconds);

// Exchange up to 3 times until one succeeds.
bool Command(Transport& t, ServerRecord& record, uint8_t code, int timeout_seconds);

// Whole-table helpers built on Command, as the callers read and write the tables.
bool ReadAccessTable(Transport& t, ServerRecord& record, int timeout_seconds);
bool WriteAccessTable(Transport& t, ServerRecord& record, int entries, int timeout_seconds);
bool ReadRouteTable(Transport& t, ServerRecord& record, int timeout_seconds);

// Route edits. The server takes AddRoute entries in the order they arrive: an entry
// with metric 0xFFFF removes the route with its key (SameRouteKey), any other adds the
// route or changes the metric of the route with its key.
// SendRoute sends one entry (through record.route_to_send).
bool SendRoute(Transport& t, ServerRecord& record, const RouteEntry& entry, int timeout_seconds);
// ChangeRoute turns route `before` into `after`. With the same key only `after` is sent:
// a removal of the old route sent after it would drop the route just changed. With
// another key the removal of `before` goes first, so that a server whose table is full
// still takes `after`.
bool ChangeRoute(Transport& t, ServerRecord& record, const RouteEntry& before,
                 const RouteEntry& after, int timeout_seconds);

}  // namespace zelin
