// The record images byte for byte: every field at its offset, and a round trip.
#include <gtest/gtest.h>

#include <vector>

#include "monitor/core/records.hpp"

namespace zelin::monitor {
namespace {

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t at, size_t n) {
  return {v.begin() + static_cast<ptrdiff_t>(at), v.begin() + static_cast<ptrdiff_t>(at + n)};
}

TEST(MonitorRecords, ImageHasEveryFieldAtItsOffset) {
  auto config = MonitorConfig::New();
  config->interval = 7;
  config->server_count = 2;
  config->column_mask = 0x03FC047A;
  MonitoredServer& s = config->servers[1];
  s.state = kStateAddressConflict;
  s.port_count = 16;
  s.serial_number = 0x1234;
  s.set_name("Dock North");
  s.watched_mask = 0x8001;
  s.ip_address = Ipv4FromOctets(127, 0, 9, 20);
  s.rates[3] = {1, 2, 3, 4, 5, 6, 7, 8, 0xA1B2C3D4};
  PortStatusBlock& b = s.blocks[15];
  b.connection_state = 13;
  b.modem_lines = kModemDtr | kModemDcd;
  b.line_format = 0x1B;
  b.flow_control = kFlowCts;
  b.baud_rate = 9600;
  b.idle_time = 25555;
  b.unused[51] = 0xEE;
  b.login_host = Ipv4FromOctets(127, 0, 9, 1);
  b.login_time = 60;
  b.tx_total = 0x11111111;
  b.rx_total = 0x22222222;
  b.tx_count = 0x33333333;
  b.rx_count = 0x44444444;
  b.time_stamp = 0x55667788;
  b.interface_code = PortStatusBlock::kNoInterface;
  s.device_type = 9491;
  s.port_kinds[15] = 0x93;

  const std::vector<uint8_t> image = config->Image();
  ASSERT_EQ(image.size(), 68616u);
  EXPECT_EQ(Slice(image, 0, 8), (std::vector<uint8_t>{7, 0, 2, 0, 0x7A, 0x04, 0xFC, 0x03}));
  const size_t at = 8 + 2144;  // server 1
  EXPECT_EQ(Slice(image, at, 8), (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF, 16, 0, 0x34, 0x12}));
  EXPECT_EQ(Slice(image, at + 8, 11), (std::vector<uint8_t>{'D', 'o', 'c', 'k', ' ', 'N', 'o', 'r', 't', 'h', 0}));
  EXPECT_EQ(Slice(image, at + 38, 8), (std::vector<uint8_t>{0x01, 0x80, 0, 0, 127, 0, 9, 20}));
  EXPECT_EQ(Slice(image, at + 46 + 3 * 36, 36),
            (std::vector<uint8_t>{1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 6, 0, 0, 0,
                                  7, 0, 0, 0, 8, 0, 0, 0, 0xD4, 0xC3, 0xB2, 0xA1}));
  const size_t blk = at + 622 + 15 * 94;
  EXPECT_EQ(Slice(image, blk, 12), (std::vector<uint8_t>{13, 0x81, 0x1B, 0x01, 0x80, 0x25, 0, 0, 0xD3, 0x63, 0, 0}));
  EXPECT_EQ(image[blk + 63], 0xEE);
  EXPECT_EQ(Slice(image, blk + 64, 30),
            (std::vector<uint8_t>{127, 0, 9, 1, 60, 0, 0, 0, 0x11, 0x11, 0x11, 0x11, 0x22, 0x22, 0x22,
                                  0x22, 0x33, 0x33, 0x33, 0x33, 0x44, 0x44, 0x44, 0x44, 0x88, 0x77,
                                  0x66, 0x55, 0xFF, 0xFF}));
  EXPECT_EQ(Slice(image, at + 2126, 2), (std::vector<uint8_t>{0x13, 0x25}));
  EXPECT_EQ(image[at + 2128 + 15], 0x93);
  EXPECT_EQ(image[at + 2143], 0x93);

  // Back again: the same record, and the short form of a block reads its 92 bytes.
  auto back = MonitorConfig::New();
  MonitorConfig::Decode(image, *back);
  EXPECT_EQ(*back, *config);
  PortStatusBlock short_form = PortStatusBlock::DecodeShort(Bytes(image).subspan(blk, 92));
  EXPECT_EQ(short_form, b);
  EXPECT_EQ(LoadState(back->servers[1]), kStateAddressConflict);
}

}  // namespace
}  // namespace zelin::monitor
