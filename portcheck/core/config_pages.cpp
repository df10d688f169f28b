#include "portcheck/core/config_pages.hpp"

#include <algorithm>

namespace zelin::portcheck {

void TestItemPage::Open(const DiagConfig& c) {
  internal = (c.test_flags & kTestInternal) != 0;
  external = (c.test_flags & kTestExternal) != 0;
  tx_rx = (c.test_flags & kTestTxRx) != 0;
  rts_cts = (c.test_flags & kTestRtsCts) != 0;
  dtr_dsr = (c.test_flags & kTestDtrDsr) != 0;
  dtr_dcd = (c.test_flags & kTestDtrDcd) != 0;
}

void TestItemPage::Close(DiagConfig& c) const {
  uint32_t flags = c.test_flags & kHighFlagBits;
  if (internal) flags |= kTestInternal;
  if (external) flags |= kTestExternal;
  if (tx_rx) flags |= kTestTxRx;
  if (rts_cts) flags |= kTestRtsCts;
  if (dtr_dsr) flags |= kTestDtrDsr;
  if (dtr_dcd) flags |= kTestDtrDcd;
  c.test_flags = flags;
}

void CommParamsPage::Open(const DiagConfig& c) {
  baud = static_cast<int>(std::min<uint32_t>(c.baud_index, kBaudTable.size() - 1));
  data_bits = c.serial_mode & 3;
  parity = ParityIndex(c.serial_mode);
  if ((c.serial_mode & 4) == 0)
    stop_bits = 0;
  else
    stop_bits = (c.test_flags & kTwoStopBits) != 0 ? 2 : 1;
}

void CommParamsPage::Close(DiagConfig& c) const {
  c.baud_index = static_cast<uint32_t>(std::clamp<int>(baud, 0, kBaudTable.size() - 1));
  uint8_t mode = static_cast<uint8_t>(std::clamp(data_bits, 0, 3));
  mode |= ParityBits(parity);
  if (stop_bits == 1 || stop_bits == 2) {
    mode |= 4;
    c.test_flags &= ~kHighFlagBits;
    if (stop_bits == 2) c.test_flags |= kTwoStopBits;
  }
  c.serial_mode = mode;
}

}  // namespace zelin::portcheck
