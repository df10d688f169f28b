#pragma once
// Editing helpers for the access-control table of a found-server record: find,
// merge ports into, and delete entries, and the port status refresh that follows
// from the table. The table holds at most 32 entries (access_total); a helper that
// would need a 33rd entry refuses and changes nothing.

#include <cstdint>

#include "protocol/transport.hpp"
#include "protocol/types.hpp"

namespace zelin::manager {

// Entries in use: access_total, never more than the 32 a record holds.
int AccessEntryCount(const ServerRecord& record);
// Index of the entry with this (address, netmask) pair, or -1.
int FindAccessEntry(const ServerRecord& record, Ipv4 address, Ipv4 netmask);
// Removes entry `index`; later entries move down, total and window count drop by one.
void DeleteAccessEntry(ServerRecord& record, int index);

// MergeAccessPorts: when the old and new pairs differ, clears `ports` in the old pair's
// entry and adds them to the new pair's entry; otherwise sets (add) or clears them in the
// pair's entry, appending the entry with `ports` when adding to a pair that is not there.
// Clearing ports of a pair that is not there changes nothing. Returns false, changing
// nothing, when a new entry is needed and the table already holds 32.
bool MergeAccessPorts(ServerRecord& record, Ipv4 old_address, Ipv4 old_netmask, Ipv4 new_address,
                      Ipv4 new_netmask, uint16_t ports, bool add);

// True when `entry` grants port `port_index` (0-based) to `host`: the port's bit is set
// and the entry's address and the host's are equal under the entry's netmask.
bool EntryGrantsHost(const AccessEntry& entry, int port_index, Ipv4 host);

// Number of ports the record's model has (its reported count when the model is unknown),
// at most 16.
int RecordPortCount(const ServerRecord& record);

// Empties both tables of the record, then reads the routing table and the access-control
// table from the server (1-second replies). False when either read fails; the tables
// then hold what was read so far, so a caller must not keep them.
bool ReadServerTables(Transport& t, ServerRecord& record);

// For each port of the server whose kind is 2 or 18: 2 when the table is empty or an
// entry grants the port to this host (the address in the search reply), else 18.
void RefreshPortStatus(ServerRecord& record);

}  // namespace zelin::manager
