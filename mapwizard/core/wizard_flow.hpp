#pragma once
// The Add Server Wizard as a whole: the ten pages, the page that shows, the buttons it
// offers and where Next, Back, Cancel and Finish lead. A widget shows `page()` and
// forwards the buttons here; the flow runs the page's action and moves on.
//
// Page 6 ("Exiting...") is part of the sheet but no path leads to it.
//
// Ownership: borrows the transport, the caller's tables and the dialogs for its life.
// Thread safety: one thread (the GUI thread).

#include "mapwizard/core/assign_address_page.hpp"
#include "mapwizard/core/begin_page.hpp"
#include "mapwizard/core/com_map_page.hpp"
#include "mapwizard/core/complete_page.hpp"
#include "mapwizard/core/new_address_page.hpp"
#include "mapwizard/core/password_pages.hpp"
#include "mapwizard/core/server_list_page.hpp"
#include "mapwizard/core/wizard_context.hpp"

namespace zelin::wizard {

// The buttons of the page that shows.
struct Buttons {
  bool back = false;
  bool next = false;
  bool finish = false;
  bool operator==(const Buttons&) const = default;
};

class WizardFlow {
 public:
  enum class Outcome { kRunning, kFinished, kCancelled };

  // `tables` must be Valid(); otherwise the flow ends at once with result 0.
  WizardFlow(Transport& transport, Prompter& prompter, const WizardTables& tables,
             int installation_type, WizardDialogs& dialogs);

  // Shows page 0. Call once before the buttons.
  void Start();

  void Next();
  void Back();
  // Asks string 107; Yes ends the wizard with result 0. True when it ended.
  bool Cancel();
  void Finish();

  int page() const { return page_; }
  Buttons buttons() const;
  Outcome outcome() const { return outcome_; }
  bool running() const { return outcome_ == Outcome::kRunning; }
  // 1 when the wizard ended with Finish, else 0.
  int result() const { return outcome_ == Outcome::kFinished ? 1 : 0; }
  // Counts page changes and re-activations, so that a widget knows when to rebind.
  int generation() const { return generation_; }

  WizardContext& context() { return ctx_; }
  BeginPage& begin() { return begin_; }
  ServerListPage& server_list() { return server_list_; }
  AssignAddressPage& assign_address() { return assign_address_; }
  SinglePasswordPage& single_password() { return single_password_; }
  MultiPasswordPage& multi_password() { return multi_password_; }
  SetPasswordPage& set_password() { return set_password_; }
  NewAddressPage& new_address() { return new_address_; }
  ComMapPage& com_map() { return com_map_; }
  CompletePage& complete() { return complete_; }

 private:
  void Apply(Step step);
  void Show(int page);
  // Calls `visit` with the model of the page shown (page 6 has none).
  template <class Visit>
  void VisitShownPage(Visit visit);

  WizardContext ctx_;
  BeginPage begin_;
  ServerListPage server_list_;
  AssignAddressPage assign_address_;
  SinglePasswordPage single_password_;
  MultiPasswordPage multi_password_;
  SetPasswordPage set_password_;
  NewAddressPage new_address_;
  ComMapPage com_map_;
  CompletePage complete_;
  int page_ = -1;
  int generation_ = 0;
  Outcome outcome_ = Outcome::kRunning;
};

}  // namespace zelin::wizard
