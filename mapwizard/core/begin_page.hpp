#pragma once
// Page 0: "Do you want to run Add Server Wizard now?" with "Yes." (the default) and
// "No. I will run Add Server wizard later.". Next only.

#include "mapwizard/core/wizard_context.hpp"

namespace zelin::wizard {

class BeginPage {
 public:
  bool run_now() const { return run_now_; }
  void ChooseYes() { run_now_ = true; }
  void ChooseNo() { run_now_ = false; }
  // "Yes." goes on to the server list; "No. ..." ends the wizard with result 0.
  Step Next() const { return run_now_ ? Step::Go(kPageServerList) : Step::End(); }

 private:
  bool run_now_ = true;
};

}  // namespace zelin::wizard
