#include "mapwizard/gui/add_server_wizard.hpp"

#include <QAbstractButton>
#include <QPushButton>

#include "mapwizard/core/strings.hpp"
#include "mapwizard/gui/wizard_dialogs.hpp"
#include "mapwizard/gui/wizard_pages.hpp"
#include "ui/artwork.hpp"
#include "ui/qt_prompter.hpp"

namespace zelin::wizard::gui {

using ui::ToQString;

AddServerWizard::AddServerWizard(WizardFlow& flow, QWidget* parent) : QWizard(parent), flow_(flow) {
  setObjectName(QStringLiteral("addServerWizard"));
  setWindowTitle(ToQString(SheetCaption(flow.context().installation_type())));
  setWindowIcon(ui::SuiteIcon());
  setWizardStyle(QWizard::ClassicStyle);
  setPixmap(QWizard::WatermarkPixmap, ui::WizardPicture(0));
  setOptions(QWizard::NoBackButtonOnStartPage | QWizard::HaveCustomButton1 |
             QWizard::HaveCustomButton2 | QWizard::HaveCustomButton3);
  setButtonText(kBackButton, tr("< &Back"));
  setButtonText(kNextButton, tr("&Next >"));
  setButtonText(kFinishButton, tr("Finish"));
  setButtonLayout(
      {QWizard::Stretch, kBackButton, kNextButton, kFinishButton, QWizard::CancelButton});
  button(kBackButton)->setObjectName(QStringLiteral("back"));
  button(kNextButton)->setObjectName(QStringLiteral("next"));
  button(kFinishButton)->setObjectName(QStringLiteral("finish"));
  button(QWizard::CancelButton)->setObjectName(QStringLiteral("cancel"));

  auto act = [this](const std::function<void()>& a) { Act(a); };
  pages_[kPageBegin] = new BeginPageWidget(flow.begin());
  pages_[kPageServerList] = new ServerListPageWidget(flow.server_list(), act);
  pages_[kPageComMap] = new ComMapPageWidget(flow.com_map());
  pages_[kPageSetPassword] = new SetPasswordPageWidget(flow.set_password());
  pages_[kPageComplete] = new CompletePageWidget(flow.complete());
  pages_[kPageSinglePassword] = new SinglePasswordPageWidget(flow.single_password());
  pages_[kPageExit] = new ExitPageWidget();
  pages_[kPageAssignAddress] = new AssignAddressPageWidget(flow.assign_address());
  pages_[kPageNewAddress] = new NewAddressPageWidget(flow.new_address());
  pages_[kPageMultiPassword] = new MultiPasswordPageWidget(flow.multi_password());
  for (int i = 0; i < kPageCount; ++i) setPage(i, pages_[static_cast<size_t>(i)]);
  cannot_find_ = std::make_unique<CannotFindDialog>(this);

  connect(button(kBackButton), &QAbstractButton::clicked, this,
          [this] { Act([this] { flow_.Back(); }); });
  connect(button(kNextButton), &QAbstractButton::clicked, this,
          [this] { Act([this] { flow_.Next(); }); });
  connect(button(kFinishButton), &QAbstractButton::clicked, this,
          [this] { Act([this] { flow_.Finish(); }); });
}

AddServerWizard::~AddServerWizard() = default;

FlowPage* AddServerWizard::flow_page(int index) const {
  return index >= 0 && index < kPageCount ? pages_[static_cast<size_t>(index)] : nullptr;
}

void AddServerWizard::Begin() {
  if (begun_) return;
  begun_ = true;
  flow_.Start();
  Sync();
}

int AddServerWizard::exec() {
  Begin();
  if (!flow_.running()) return flow_.result() == 1 ? Accepted : Rejected;
  return QWizard::exec();
}

void AddServerWizard::Act(const std::function<void()>& action) {
  if (syncing_) return;  // a button pressed while a page change is under way
  action();
  Sync();
}

void AddServerWizard::Sync() {
  syncing_ = true;
  if (!flow_.running()) {
    syncing_ = false;
    if (flow_.result() == 1)
      QDialog::accept();
    else
      QDialog::reject();
    return;
  }
  const int page = flow_.page();
  if (page != shown_page_) {
    shown_page_ = page;
    // QWizard moves only forward and back through its history; the flow jumps.
    setStartId(page);
    restart();
  }
  if (FlowPage* p = flow_page(page)) p->Bind();
  const Buttons b = flow_.buttons();
  button(kBackButton)->setVisible(b.back);
  button(kNextButton)->setVisible(b.next);
  button(kFinishButton)->setVisible(b.finish);
  if (auto* finish = qobject_cast<QPushButton*>(button(kFinishButton)))
    finish->setDefault(b.finish);
  if (auto* next = qobject_cast<QPushButton*>(button(kNextButton)))
    next->setDefault(b.next && !b.finish);
  syncing_ = false;
}

void AddServerWizard::reject() {
  if (syncing_) return;
  if (flow_.Cancel()) QDialog::reject();
}

}  // namespace zelin::wizard::gui
