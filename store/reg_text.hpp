#pragma once
// The registry text format of the hive file: a "REGEDIT4" header line (or "Windows
// Registry Editor Version 5.00"), then one section per key,
//
//   [HKEY_LOCAL_MACHINE\SoftWare\KIVO\Zelin\Parameters]
//   "Servers"=dword:00000003
//   "ServerName"=hex:53,65,72,76,65,72
//   "PortDriver"="Ports\\0004"
//   @="default value"
//
// Strings escape only the backslash and the double quote. Other value types are
// written as hex(N):... with their raw bytes. Long hex values are wrapped with a
// trailing backslash and continued on the next line, indented by two spaces, so that
// no line is longer than 80 characters.
//
// The parser is strict: anything it does not understand is an error with its line
// number (1-based). It accepts LF and CRLF line ends, blank lines and ';' comment
// lines, and merges repeated sections. Keys outside HKEY_LOCAL_MACHINE are errors.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.hpp"
#include "store/registry.hpp"

namespace zelin {

inline constexpr std::string_view kRegText4Header = "REGEDIT4";
inline constexpr std::string_view kRegText5Header = "Windows Registry Editor Version 5.00";
inline constexpr std::string_view kRegRootName = "HKEY_LOCAL_MACHINE";

// The tree that `text` holds, or StoreError::kSyntax (store/hive_file.hpp) with the
// message "LINE: what" (LINE 1-based).
Result<MemoryRegistry> ParseRegText(std::string_view text);

// The whole tree with the REGEDIT4 header, every key in enumeration order (depth
// first, a key before its subkeys; the root itself only when it has values), LF line
// ends and a blank line after each section.
std::string FormatRegText(const Registry& reg);

// The REGEDIT4 header and only the given keys with their subtrees, in the given order
// (missing keys are left out; key names are written as stored).
std::string FormatRegText(const Registry& reg, const std::vector<std::string>& key_paths);

// One "name"=... line (with continuations) as written in a section, without the
// final line end.
std::string FormatRegValue(const RegValue& value);

}  // namespace zelin
