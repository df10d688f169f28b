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

void WizardFlow::Show(int page) {
  page_ = page;
  ++generation_;
  switch (page) {
    case kPageServerList:
      server_list_.Activate();
      break;
    case kPageNewAddress:
      new_address_.Activate();
      break;
    case kPageComMap:
      com_map_.Activate();
      break;
    case kPageComplete:
      complete_.Activate();
      break;
    default:
      break;
  }
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
  switch (page_) {
    case kPageBegin:
      return Apply(begin_.Next());
    case kPageServerList:
      return Apply(server_list_.Next());
    case kPageComMap:
      return Apply(com_map_.Next());
    case kPageSetPassword:
      return Apply(set_password_.Next());
    case kPageSinglePassword:
      return Apply(single_password_.Next());
    case kPageAssignAddress:
      return Apply(assign_address_.Next());
    case kPageNewAddress:
      return Apply(new_address_.Next());
    case kPageMultiPassword:
      return Apply(multi_password_.Next());
    default:  // page 6 leads nowhere
      return;
  }
}

void WizardFlow::Back() {
  if (!running() || !buttons().back) return;
  switch (page_) {
    case kPageServerList:
      return Apply(server_list_.Back());
    case kPageComMap:
      return Apply(com_map_.Back());
    case kPageSetPassword:
      return Apply(set_password_.Back());
    case kPageComplete:
      return Apply(complete_.Back());
    case kPageSinglePassword:
      return Apply(single_password_.Back());
    case kPageAssignAddress:
      return Apply(assign_address_.Back());
    case kPageNewAddress:
      return Apply(new_address_.Back());
    case kPageMultiPassword:
      return Apply(multi_password_.Back());
    default:
      return;
  }
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
