#pragma once
// The server store: the configured servers and their ports below
// "SoftWare\KIVO\Zelin\Parameters", loaded into and saved from a table of ServerConfig.
//
//   Parameters        "Servers", "Ports", "SessionRecovery", "ZelinType" (DWORDs)
//     Server<n>       n from 1 to 99, reused after removal; "DeviceType", "ServerFlag",
//                     "SerialNo", "IPAddress" (first octet most significant),
//                     "Netmask" (first octet least significant) as DWORDs;
//                     "ServerName" (binary, no terminator), "Password" (16 bytes,
//                     XOR PasswordMask)
//       Port<nnnn>    "PortDriver" (string), "COM" (0 = COM256), "PortFlag",
//                     "Transmission", "FIFO" (DWORDs)
//
// Two layers:
//   - functions on a Registry, which do the work on whatever tree they are given;
//   - the same names on a HiveFile, which run them as one transaction of the hive file
//     (load under the lock, edit in memory, write once). These are what the programs
//     call.
//
// Saving is all or nothing: a save whose registry writes do not all succeed returns
// false (on a HiveFile: StoreError::kDiscarded) and leaves the file exactly as it was.
// Tables are checked against their capacities before anything is written: at most
// kMaxConfiguredServers records, each with at most kMaxServerPorts ports.
//
// The monitor reads the stores of three product lines read-only; each has its own
// parameters key and its own port counts.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/device_types.hpp"
#include "protocol/md5.hpp"
#include "store/hive_file.hpp"
#include "store/installation_type.hpp"
#include "store/registry.hpp"
#include "store/server_config.hpp"

namespace zelin {

inline constexpr std::string_view kZelinKey = "SoftWare\\KIVO\\Zelin";
inline constexpr std::string_view kParametersKey = "SoftWare\\KIVO\\Zelin\\Parameters";
inline constexpr int kMaxServerKeyNumber = 99;  // "Server1" .. "Server99"

enum class ProductLine { kZelin, kZelit, kZelinExpress };

// "SoftWare\KIVO\Zelin\Parameters", "SoftWare\KIVO\Zelit\Parameters",
// "SoftWare\KIVO\ZelinExpress\Parameters".
std::string_view ParametersKeyOf(ProductLine line);

// "Server%d" and "Port%04d": the names of a server key and of a port key (index from 0).
std::string ServerKeyName(int number);
std::string PortKeyName(uint32_t index);

// Port count of a device type in the main line: 16, 8, 4, or 0 for a type the manager
// does not accept.
int PortCountOf(DeviceType type);
// Port count of a device type in the given product line's store; 0 when the line does
// not take that type.
int PortCountOf(ProductLine line, DeviceType type);

// MD5 of "TrellisQuietOak", the device type (2 bytes LE) and the serial number (2 bytes
// LE). The stored "Password" is the zero-padded password XOR this mask.
Md5Digest PasswordMask(DeviceType type, uint16_t serial_number);

// ---- On a Registry ----

// Loads up to table.size() records of the line's store ("Servers" caps the count too).
// Returns the number loaded, or StoreError::kNoStore ("no store (the key ... does not
// exist)") when its parameters key does not exist. Records past the count are left
// untouched.
Result<int> LoadServerStore(const Registry& reg, ProductLine line, std::span<ServerConfig> table);

// Writes the difference between `old_table` (as last loaded or saved) and `new_table`,
// servers being matched by serial number: removes, adds, updates (with their device
// entries), then "Servers", "Ports" and "SessionRecovery". Records that share a serial
// number pair with the keys of that number in order (the k-th record with the k-th key). Returns
// false when a table exceeds its capacity (nothing written), when any registry write failed, or
// when the parameters key does not exist at the end. A mapped port that finds no free device or
// class index is stored with "PortFlag" 0 (it has no entries) and is mapped again by
// the next save.
bool SaveServerStore(Registry& reg, std::span<const ServerConfig> new_table,
                     std::span<const ServerConfig> old_table);

// "ZelinType": its value, 0 when missing, StoreError::kNoStore when the parameters key
// does not exist.
Result<int> ReadInstallationType(const Registry& reg);
// Writes "ZelinType", creating the parameters key when needed. Types other than 0..3
// are refused.
bool WriteInstallationType(Registry& reg, int type);

// Name ("Server3") of the first server key whose "SerialNo" is `serial_number`.
std::optional<std::string> FindServerKey(const Registry& reg, uint16_t serial_number);

// Names of all server keys whose "SerialNo" is `serial_number`, in enumeration order
// (one in a store that nobody edited by hand).
std::vector<std::string> ServerKeysOf(const Registry& reg, uint16_t serial_number);

// Removes every server with its device entries, then the parameters key and
// "SoftWare\KIVO\Zelin". False when a registry write failed.
bool RemoveAllServers(Registry& reg);

// ---- On the hive file (one transaction each) ----
// A file that cannot be read or parsed gives its StoreError (kFile, kSyntax) with the
// file's account ("PATH:LINE: what"); a store whose parameters key does not exist gives
// kNoStore ("PATH: no store ..."); a save whose registry writes did not all succeed
// gives kDiscarded. A save that fails has left the file exactly as it was.

Result<int> LoadServerStore(const HiveFile& hive, std::span<ServerConfig> table);
Result<int> LoadServerStore(const HiveFile& hive, ProductLine line, std::span<ServerConfig> table);
Status SaveServerStore(HiveFile& hive, std::span<const ServerConfig> new_table,
                       std::span<const ServerConfig> old_table);
// "ZelinType" (0 when the value is missing).
Result<int> ReadInstallationType(const HiveFile& hive);
Status WriteInstallationType(HiveFile& hive, int type);
Status RemoveAllServers(HiveFile& hive);

}  // namespace zelin
