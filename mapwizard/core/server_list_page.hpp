#pragma once
// Page 1: the servers on the network that are not configured yet, "Locate Server",
// "Find..." and, for multi-host and custom installations, the choice between picking
// a listed server and entering an address by hand.
//
// Activate() searches the network (blocking for the search's reply rounds) and may
// show a message; the widget calls it each time the page is entered.

#include <algorithm>
#include <string>
#include <vector>

#include "mapwizard/core/strings.hpp"
#include "mapwizard/core/wizard_context.hpp"

namespace zelin::wizard {

struct ServerRow {
  std::string model;  // "" for an unknown device type
  std::string name;
  std::string address;  // dotted text
  std::string serial;   // decimal
  int record = -1;      // index in the found list
};

class ServerListPage {
 public:
  explicit ServerListPage(WizardContext& ctx) : ctx_(ctx) {}

  // Fills the list and sets the controls; shows 61240 or 61241 when nothing is left
  // to add and the list is the way to choose.
  void Activate();
  // "Find...": searches again and refills the list.
  void Find();
  // "Locate Server": makes the selected server blink until the user presses OK.
  void Locate();
  // Selects a row; out-of-range values select nothing.
  void SelectRow(int row);
  // The radio buttons "Manually Enter ..." and "Select existing ..." (types 2 and 3).
  void ChooseManual();
  void ChooseExisting();

  Step Next();
  Step Back() const { return Step::Go(kPageBegin); }

  const std::vector<ServerRow>& rows() const { return rows_; }
  int selected_row() const { return selected_row_; }
  bool manual() const { return manual_; }
  bool radios_visible() const { return !ctx_.single_host(); }
  // The list and "Find..." are for choosing from the list: off while manual entry is chosen.
  bool list_enabled() const { return !manual_chosen(); }
  bool find_enabled() const { return !manual_chosen(); }
  bool locate_enabled() const { return !manual_chosen() && !rows_.empty(); }
  // False while the page offers Back only.
  bool next_shown() const { return manual_chosen() || !rows_.empty(); }
  // The installation type whose picture the page shows (1, 2 or 3), and that picture's
  // control (kPictureSingleHost, kPictureMultiHost or kPictureCustom).
  int picture_type() const { return std::clamp(ctx_.installation_type(), 1, 3); }
  int picture() const {
    constexpr int kPictures[] = {kPictureSingleHost, kPictureMultiHost, kPictureCustom};
    return kPictures[picture_type() - 1];
  }

  // A free address for a server without password whose address collides: tries up to
  // 255 candidates from the found address with CheckAddress. False (after a message)
  // when a command fails or no candidate is free; the record then keeps its found address.
  bool SearchFreeAddress(ServerRecord& record);
  // The candidate after `address`: the last octet plus one, 254 going back to 1 and
  // 255 to 0.
  static Ipv4 NextCandidate(Ipv4 address);

 private:
  void Fill();
  // Manual entry is chosen (never on a single-host installation).
  bool manual_chosen() const { return manual_ && !ctx_.single_host(); }

  WizardContext& ctx_;
  std::vector<ServerRow> rows_;
  int selected_row_ = -1;
  int answered_ = 0;  // servers that answered the last search
  bool manual_ = false;
};

}  // namespace zelin::wizard
