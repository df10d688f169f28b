#pragma once
// The "Test Item" and "Communication Parameters" pages of the "Diagnostic Config" sheet
// as presentation models: the values their controls show, read from a working copy of
// the configuration when the page opens and written back when the sheet closes with OK
// (a page that was never shown writes nothing). The "Test Object" page is in
// test_object_page.hpp.

#include <array>
#include <string_view>

#include "portcheck/core/diag_config.hpp"

namespace zelin::portcheck {

// "Asynchronous Port Test Item": six check boxes over TestFlags.
class TestItemPage {
 public:
  void Open(const DiagConfig& config);
  // The four external subitems can be changed only while External Test is checked;
  // they keep their marks while disabled.
  bool subitems_enabled() const { return external; }
  // TestFlags keeps bits 28-31 and takes the six boxes; every other bit is cleared.
  void Close(DiagConfig& config) const;

  bool internal = false;
  bool external = false;
  bool tx_rx = false;
  bool rts_cts = false;
  bool dtr_dsr = false;
  bool dtr_dcd = false;
};

// Baud rate, data bits, parity and stop bits as indexes into their drop-down lists.
class CommParamsPage {
 public:
  static constexpr std::array<std::string_view, 4> kDataBits{"5", "6", "7", "8"};
  static constexpr std::array<std::string_view, 5> kParities{"NONE", "ODD", "EVEN", "MARK",
                                                             "SPACE"};
  static constexpr std::array<std::string_view, 3> kStopBits{"1", "1.5", "2"};

  void Open(const DiagConfig& config);
  // The baud index is the selection; SerialMode is rebuilt from the lists; "1.5" and "2"
  // set the extra stop bit and rewrite bits 28-31 of TestFlags (bit 31 for "2"); "1"
  // leaves TestFlags alone.
  void Close(DiagConfig& config) const;

  int baud = 0;       // index into kBaudTable
  int data_bits = 0;  // index into kDataBits
  int parity = 0;     // index into kParities
  int stop_bits = 0;  // index into kStopBits
};

}  // namespace zelin::portcheck
