// The monitor file (".mnt") as the monitor reads it (DecodeMonitorFile, which
// ReadMonitorFile runs over the file's bytes). Input: a flags byte, then the file.
// Flags bit 0 writes the right length field for the bytes that follow (8 + 2144 * n,
// n the records present, at most 32) and bit 1 the right checksum, so that mutations
// reach the records instead of stopping at the two fields a random change breaks.
//
// Invariants: an accepted file writes back (EncodeMonitorFile, what WriteMonitorFile
// writes) as exactly the bytes its length field covers, and holds the count it
// returned; a refused file leaves the configuration empty.

#include <algorithm>
#include <memory>
#include <vector>

#include "fuzz/fuzz_check.hpp"
#include "monitor/core/monitor_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelin;
  using namespace zelin::monitor;
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  std::vector<uint8_t> file(data + 1, data + size);
  constexpr size_t kHeader = kMonitorFileHeaderSize;
  if ((flags & 1) != 0 && file.size() >= kHeader + MonitorConfig::kHeaderSize) {
    const size_t records = std::min((file.size() - kHeader - MonitorConfig::kHeaderSize) /
                                        MonitoredServer::kSize,
                                    kMaxWatchedServers);
    PutLe32(file, 9, static_cast<uint32_t>(ImageSize(records)));
  }
  if ((flags & 2) != 0 && file.size() >= kHeader) {
    const size_t length = std::min<size_t>(GetLe32(file, 9), file.size() - kHeader);
    const Bytes all(file);
    PutLe32(file, 13, MonitorFileChecksum(all.first(13), all.subspan(kHeader, length)));
  }

  static const auto config = MonitorConfig::New();
  config->server_count = 7;  // what a previous file left
  const Result<int> read = DecodeMonitorFile(file, *config);
  if (!read) {
    FUZZ_CHECK(config->server_count == 0 && config->interval == 0 && config->column_mask == 0);
    return 0;
  }
  FUZZ_CHECK(*read >= 0 && static_cast<size_t>(*read) <= kMaxWatchedServers);
  FUZZ_CHECK(config->server_count == *read);
  const std::vector<uint8_t> written = EncodeMonitorFile(*config);
  const size_t covered = kHeader + ImageSize(static_cast<size_t>(*read));
  FUZZ_CHECK(written.size() == covered && file.size() >= covered);
  FUZZ_CHECK(std::equal(written.begin(), written.end(), file.begin()));
  return 0;
}
