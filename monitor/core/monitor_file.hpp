#pragma once
// The monitor file (".mnt"): a 17-byte header and the first 8 + 2144 * n bytes of the
// MonitorConfig image, n being the number of watched servers.
//
//   0   5 bytes  "ZELIN"
//   5   u16      0x0100
//   7   u16      0x0C08
//   9   u32      payload length L = 8 + 2144 * n
//   13  u32      checksum: the magic bytes as signed 8-bit numbers, the u32 of bytes
//                5..8, L and every 16-bit word of the payload, summed modulo 2^32
//   17  L bytes  interval, server count, column mask, then n server records
//
// Numbers are little-endian. The records are stored with their run-time fields as
// they stand; loading a configuration clears them (MonitorDocument).
//
// The reader treats the file as hostile: it reads at most 17 + 68616 bytes, and
// refuses a file whose length field is not 8 + 2144 * n with n <= 32, whose stored
// server count is not that n, or whose sampling interval is outside 1..20 (kBadFormat),
// a file shorter than its length field (kShort) and a checksum mismatch (kChecksum).
// The writer replaces the file in one step (a temporary file renamed over it), so a
// save that fails half-way leaves the previous file as it was.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "monitor/core/records.hpp"
#include "platform/status.hpp"

namespace zelin::monitor {

enum class MonitorFileError : int {
  kNone = 0,
  kCannotOpen = -1,  // the file cannot be opened, created or written
  kBadFormat = -2,   // wrong magic or version, or an impossible length, count or interval
  kShort = -3,       // fewer payload bytes than the length field says
  kChecksum = -4,    // the checksum does not match the contents
};

}  // namespace zelin::monitor

namespace zelin {
template <>
struct StatusCode<monitor::MonitorFileError> {
  static constexpr StatusDomain kDomain = StatusDomain::kMonitorFile;
  static std::string_view Describe(monitor::MonitorFileError code);
};
}  // namespace zelin

namespace zelin::monitor {

inline constexpr size_t kMonitorFileHeaderSize = 17;
inline constexpr char kMonitorFileExtension[] = ".mnt";
// The file dialogs' filter, as "description|pattern" pairs.
inline constexpr char kMonitorFileFilter[] =
    "Zelin Server Monitor Files (*.mnt)|*.mnt|All Files (*.*)|*.*||";

// The checksum of a header (its first 13 bytes) and a payload.
uint32_t MonitorFileChecksum(Bytes header, Bytes payload);

// The whole file image of `config` (17 + 8 + 2144 * n bytes).
std::vector<uint8_t> EncodeMonitorFile(const MonitorConfig& config);
// Reads a file image into `out` (zeroed first, also on failure); the number of
// watched servers, or the error.
Result<int> DecodeMonitorFile(Bytes file, MonitorConfig& out);

// Writes `config` to `path`; the number of bytes written (17 + L), or kCannotOpen.
Result<int> WriteMonitorFile(const std::filesystem::path& path, const MonitorConfig& config);
// Reads `path` into `out`; the number of watched servers, or the error (kCannotOpen
// when the file cannot be opened or read).
Result<int> ReadMonitorFile(const std::filesystem::path& path, MonitorConfig& out);

}  // namespace zelin::monitor
