#pragma once
// The test report in its three forms, all from the same data: the configuration, each
// server's ResultStore (with the PairTable built from it) and the test-time line of the
// run.
//
//   LayoutReport  the screen and print layout of one server's report as positioned
//                 texts (line from 1, column from 0) with their style; the view draws
//                 them and places an error-code label on each error cell.
//   TextReport    the saved text report of every server, lines ending in CRLF.
//
// Sections (not for a failure marker): internal when TestFlags bit 1 is set and the port
// mask is not 0; external when any of bits 4-7 is set and the port mask is not 0;
// printer when the server flags select it.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "portcheck/core/diag_config.hpp"
#include "portcheck/core/test_results.hpp"

namespace zelin::portcheck {

// "Communication parameter=%d " followed by the parity, data bits and stop bits texts.
std::string CommunicationLine(const DiagConfig& config);

struct ReportText {
  enum class Style {
    kNormal,
    kBold,
    kOk,         // dark green
    kFailure,    // dark red
    kErrorCode,  // an error cell: "E%03d" in dark red, a clickable label on the screen
  };
  int line = 0;
  int column = 0;
  std::string text;
  Style style = Style::kNormal;
  int code = 0;  // the error code of a kErrorCode cell
};

struct ReportLayout {
  std::vector<ReportText> texts;
  int columns = 60;  // scrollable size in characters
  int lines = 0;     // and in lines
};

// The layout of server `server`'s report.
ReportLayout LayoutReport(const DiagConfig& config, int server, const ResultStore& store,
                          std::string_view test_time_line);

// The text report of all configured servers (stores[i] for server i).
std::string TextReport(const DiagConfig& config, std::span<const ResultStore> stores,
                       std::string_view test_time_line);

}  // namespace zelin::portcheck
