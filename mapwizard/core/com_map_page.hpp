#pragma once
// Page 2: "Your COM Port". The user picks the first COM name; Next maps the server's
// mappable ports to consecutive free COM numbers from there, up to COM256.

#include <string>
#include <vector>

#include "mapwizard/core/wizard_context.hpp"

namespace zelin::wizard {

class ComMapPage {
 public:
  explicit ComMapPage(WizardContext& ctx) : ctx_(ctx) {}

  // Lists every free COM number and selects the first from COM3 on, or, when the user
  // comes back to the page, the number mapped from last time while it is still free.
  void Activate();
  void Select(int index);  // out-of-range values are ignored

  // The numbers listed ("COM%d" each), in increasing order.
  const std::vector<int>& choices() const { return choices_; }
  std::vector<std::string> choice_texts() const;
  int selected() const { return selected_; }
  // "Name : %s    Serial No. : %d\nTotal Port : %d".
  const std::string& info() const { return info_; }

  Step Next();
  Step Back();

 private:
  WizardContext& ctx_;
  std::vector<int> choices_;
  int selected_ = -1;
  int mapped_from_ = 0;  // the first COM number of the last mapping; 0 before any
  std::string info_;
};

}  // namespace zelin::wizard
