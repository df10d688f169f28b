#pragma once
// The exporter's static lists: the servers to watch (a target list, or the monitor's
// ".mnt" file) and the servers' passwords.
//
// Target list, one server a line, '#' starts a comment:
//     ADDRESS [SERIAL] [ports=LIST]
//     127.0.42.10 1201 ports=1-8
// A serial number makes a server of another serial number at that address an address
// conflict (a failed probe). A file ending in ".mnt" is read as a monitor file: its
// watched servers with their serial numbers and watched ports.
//
// Password file, one server a line: ADDRESS PASSWORD (the rest of the line, blanks
// included). It must be readable by its owner only (no group or other permission bits):
// a file that others may read is refused, as is any password in a URL.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.hpp"
#include "protocol/bytes.hpp"

namespace zelin::exporter {

enum class ListError : int {
  kNone = 0,
  kCannotRead = 1,   // the file cannot be opened or read
  kBadLine = 2,      // a line that is not a target or a password entry
  kUnsafeMode = 3,   // the password file may be read or written by others
};

}  // namespace zelin::exporter

namespace zelin {
template <>
struct StatusCode<exporter::ListError> {
  static constexpr StatusDomain kDomain = StatusDomain::kExporter;
  static std::string_view Describe(exporter::ListError code);
};
}  // namespace zelin

namespace zelin::exporter {

struct Target {
  Ipv4 address = 0;
  std::optional<uint16_t> serial;
  std::optional<uint32_t> ports;  // bit p: port p (from 0)
};

// Reads a target list (or a ".mnt" file); a line that is not a target gives an error
// naming the line.
Result<std::vector<Target>> ReadTargetList(const std::filesystem::path& path);
// The same from text (the list format only).
Result<std::vector<Target>> ParseTargetList(std::string_view text);

// Reads the password file, refusing one that its owner's group or others may access.
Result<std::map<Ipv4, std::string>> ReadPasswordFile(const std::filesystem::path& path);

}  // namespace zelin::exporter
