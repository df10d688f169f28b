#pragma once
// The Add Server Wizard sheet: a QWizard captioned "Zelin Wizard" plus the suffix of
// the installation type, with the ten page widgets under the indices of the flow and
// the picture at their left. The sheet keeps QWizard's look but not its navigation:
// its Back, Next and Finish buttons forward to the WizardFlow, and after each action
// the sheet shows whichever page the flow is on, with the buttons the flow offers.
// exec() returns QDialog::Accepted exactly when the flow ended with Finish.
//
// GUI thread only. The flow is borrowed and must outlive the sheet.

#include <QWizard>
#include <array>
#include <functional>
#include <memory>

#include "mapwizard/core/wizard_flow.hpp"

namespace zelin::wizard::gui {

class FlowPage;
class CannotFindDialog;

class AddServerWizard final : public QWizard {
  Q_OBJECT
 public:
  static constexpr WizardButton kBackButton = CustomButton1;
  static constexpr WizardButton kNextButton = CustomButton2;
  static constexpr WizardButton kFinishButton = CustomButton3;

  explicit AddServerWizard(WizardFlow& flow, QWidget* parent = nullptr);
  ~AddServerWizard() override;

  // Starts the flow (page 0) and shows it; exec() calls it when not called before.
  void Begin();
  int exec() override;

  // The page widget of a flow page index (tests, screenshots).
  FlowPage* flow_page(int index) const;

  // Cancel, Escape and the close button: asks the flow whether to end.
  void reject() override;

 private:
  // Runs a model action of the current page, then catches up with the flow.
  void Act(const std::function<void()>& action);
  void Sync();

  WizardFlow& flow_;
  std::array<FlowPage*, kPageCount> pages_{};
  std::unique_ptr<CannotFindDialog> cannot_find_;  // built, never shown
  int shown_page_ = -1;
  bool begun_ = false;
  bool syncing_ = false;
};

}  // namespace zelin::wizard::gui
