// "ZELIN.CFG" as the diagnostic program loads it (DecodeDiagConfig, which
// DiagConfigFile::Load runs over the file's bytes). Input: the file; an input of
// another size is placed over the default image (so that mutations of a few bytes
// reach the fields) unless it starts with the magic and has the exact size.
//
// Invariants: an accepted file holds at most 32 servers and a baud index inside the
// table; the image written back for it (EncodeDiagConfig, what the program writes at
// exit) loads to the same configuration and writes back as itself. What the written
// image leaves out of a foreign file (the reserved tail, bytes after a password's
// terminator, the high bytes of the serial mode word) is nothing the program reads.

#include <algorithm>

#include "fuzz/fuzz_check.hpp"
#include "portcheck/core/diag_config.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelin;
  using namespace zelin::portcheck;
  static const DiagImage defaults = EncodeDiagConfig(DiagConfig::Defaults());
  DiagImage image = defaults;
  Bytes content(data, size);
  if (size != kDiagConfigSize) {
    std::copy_n(data, std::min(size, image.size()), image.begin());
    if (size < 4) PutLe32(image, 0, kDiagConfigMagic);
    content = Bytes(image);
  }
  // What Load reads: the content as it is (an input of another size is refused).
  if (size != kDiagConfigSize) FUZZ_CHECK(!DecodeDiagConfig(Bytes(data, size)).has_value());
  const auto config = DecodeDiagConfig(content);
  if (!config) return 0;
  FUZZ_CHECK(config->server_count >= 0 && config->server_count <= kMaxDiagServers);
  FUZZ_CHECK(config->baud_index < kBaudTable.size() && BaudRate(config->baud_index) != 0);
  for (const auto& s : config->settings) FUZZ_CHECK(s.password.size() <= kMaxPasswordLength);
  const DiagImage written = EncodeDiagConfig(*config);
  const auto again = DecodeDiagConfig(written);
  FUZZ_CHECK(again.has_value() && *again == *config);
  FUZZ_CHECK(EncodeDiagConfig(*again) == written);
  // The texts the pages and the report make of what was read.
  (void)ParityText(config->serial_mode);
  (void)DataBitsText(config->serial_mode);
  (void)StopBitsText(config->serial_mode, config->test_flags);
  for (int i = 0; i < config->server_count; ++i) {
    const ServerImage& im = config->images[static_cast<size_t>(i)];
    (void)im.name();
    (void)FirmwareVersionText(im.firmware_version());
    for (int p = 0; p < im.shown_ports(); ++p) (void)im.port_kind(static_cast<size_t>(p));
  }
  return 0;
}
