#include "mapwizard/core/wizard_flow.hpp"

#include "mapwizard/core/strings.hpp"

namespace zelin::wizard {

WizardFlow::WizardFlow(Transport& transport, Prompter& prompter, const WizardTables& tables,
                       int installation_type, WizardDialogs& dialogs)
    : ctx_(transport, prompter, tables, installation_type, dialogs),
      server_list_(ctx_),
      assign_address_(ctx_),
      single_password_(ctx_),
      multi_password_(ctx_),
      set_password_(ctx_),
      new_address_(ctx_),
      com_map_(ctx_),
      complete_(ctx_) {
  if (!tables.Valid()) outcome_ = Outcome::kCancelled;
}

void WizardFlow::Start() {
  if (running()) Show(kPageBegin);
}

template <class Visit>
void WizardFlow::VisitShownPage(Visit visit) {
  switch (page_) {
    case kPageBegin: return visit(begin_);
    case kPageServerList: return visit(server_list_);
    case kPageComMap: return visit(com_map_);
    case kPageSetPassword: return visit(set_password_);
    case kPageComplete: return visit(complete_);
    case kPageSinglePassword: return visit(single_password_);
    case kPageAssignAddress: return visit(assign_address_);
    case kPageNewAddress: return visit(new_address_);
    case kPageMultiPassword: return visit(multi_password_);
    default: return;  // page 6 leads nowhere
  }
}

void WizardFlow::Show(int page) {
  page_ = page;
  ++generation_;
  // The pages that fill themselves in when shown.
  VisitShownPage([](auto& model) {
    if constexpr (requires { model.Activate(); }) model.Activate();
  });
}

void WizardFlow::Apply(Step step) {
  switch (step.kind) {
    case Step::kStay:
      ++generation_;
      break;
    case Step::kGo:
      Show(step.page);
      break;
    case Step::kEnd:
      outcome_ = Outcome::kCancelled;
      break;
  }
}

Buttons WizardFlow::buttons() const {
  if (!running()) return {};
  switch (page_) {
    case kPageBegin:
      return {false, true, false};
    case kPageServerList:
      return {true, server_list_.next_shown(), false};
    case kPageComplete:
      return {true, false, true};
    default:
      return {true, true, false};
  }
}

void WizardFlow::Next() {
  if (!running() || !buttons().next) return;
  VisitShownPage([this](auto& model) {
    if constexpr (requires { model.Next(); }) Apply(model.Next());
  });
}

void WizardFlow::Back() {
  if (!running() || !buttons().back) return;
  VisitShownPage([this](auto& model) {
    if constexpr (requires { model.Back(); }) Apply(model.Back());
  });
}

bool WizardFlow::Cancel() {
  if (!running()) return true;
  if (ctx_.Say(kStrCancelQuestion, MsgButtons::YesNo, MsgIcon::Question) != MsgAnswer::Yes)
    return false;
  outcome_ = Outcome::kCancelled;
  return true;
}

void WizardFlow::Finish() {
  if (!running() || !buttons().finish) return;
  if (complete_.Finish()) outcome_ = Outcome::kFinished;
}

}  // namespace zelin::wizard
