#include "mapwizard/gui/wizard_pages.hpp"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWizard>

#include "mapwizard/core/strings.hpp"
#include "mapwizard/gui/labels.hpp"
#include "ui/artwork.hpp"
#include "ui/qt_prompter.hpp"

namespace zelin::wizard::gui {

using ui::ToQString;

namespace {

// Page headings are a little larger than the text below them.
QLabel* Heading(std::string_view text, QWidget* parent) {
  return HeadingLabel(text, parent, 1.15);
}

QLabel* Text(std::string_view text, QWidget* parent) {
  auto* label = new QLabel(ToQString(text), parent);
  label->setWordWrap(true);
  return label;
}

QLineEdit* PasswordEdit(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setEchoMode(QLineEdit::Password);
  edit->setMaxLength(static_cast<int>(kPasswordEditLimit));
  return edit;
}

QLineEdit* AddressEdit(const char* name, size_t limit, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setMaxLength(static_cast<int>(limit));
  edit->setMaximumWidth(180);
  return edit;
}

}  // namespace

FlowPage::FlowPage(QWidget* parent) : QWizardPage(parent) {
  setTitle(ToQString(kTextPageTitle));
}

// --- page 0 ------------------------------------------------------------------------

BeginPageWidget::BeginPageWidget(BeginPage& model) : model_(model) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Text(kTextBeginIntro, this));
  layout->addSpacing(12);
  layout->addWidget(Heading(kTextBeginQuestion, this));
  yes_ = new QRadioButton(ToQString(kTextBeginYes), this);
  yes_->setObjectName(QStringLiteral("yes"));
  no_ = new QRadioButton(ToQString(kTextBeginNo), this);
  no_->setObjectName(QStringLiteral("no"));
  layout->addWidget(yes_);
  layout->addWidget(no_);
  layout->addStretch();
  bindings_.Live(
      yes_, no_, [this] { return model_.run_now(); },
      [this](bool yes) { yes ? model_.ChooseYes() : model_.ChooseNo(); });
}

// --- page 1 ------------------------------------------------------------------------

ServerListPageWidget::ServerListPageWidget(ServerListPage& model, ActFn act)
    : model_(model), act_(std::move(act)) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Heading(kTextServerListHeading, this));
  layout->addWidget(Text(kTextServerListIntro, this));
  manual_ = new QRadioButton(ToQString(kTextManualRadio), this);
  manual_->setObjectName(QStringLiteral("manual"));
  existing_ = new QRadioButton(ToQString(kTextExistingRadio), this);
  existing_->setObjectName(QStringLiteral("existing"));
  layout->addWidget(manual_);
  layout->addWidget(existing_);
  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("serverList"));
  list_->setRootIsDecorated(false);
  list_->setAllColumnsShowFocus(true);
  list_->setHeaderLabels({ToQString(kColumnModel), ToQString(kColumnName),
                          ToQString(kColumnAddress), ToQString(kColumnSerial)});
  list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  layout->addWidget(list_, 1);
  auto* buttons = new QHBoxLayout;
  locate_ = new QPushButton(ToQString(kTextLocateButton), this);
  locate_->setObjectName(QStringLiteral("locate"));
  find_ = new QPushButton(ToQString(kTextFindButton), this);
  find_->setObjectName(QStringLiteral("find"));
  buttons->addStretch();
  buttons->addWidget(locate_);
  buttons->addWidget(find_);
  layout->addLayout(buttons);

  // A row counts as chosen only while it is selected (Ctrl+click takes the selection away).
  connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] {
    const QList<QTreeWidgetItem*> items = list_->selectedItems();
    model_.SelectRow(items.isEmpty() ? -1 : list_->indexOfTopLevelItem(items.first()));
  });
  connect(manual_, &QRadioButton::clicked, this,
          [this] { act_([this] { model_.ChooseManual(); }); });
  connect(existing_, &QRadioButton::clicked, this,
          [this] { act_([this] { model_.ChooseExisting(); }); });
  connect(find_, &QPushButton::clicked, this, [this] { act_([this] { model_.Find(); }); });
  connect(locate_, &QPushButton::clicked, this, [this] { act_([this] { model_.Locate(); }); });
}

void ServerListPageWidget::Bind() {
  const QSignalBlocker block(list_);
  // The picture of the installation type replaces the sheet's plain one on this page.
  setPixmap(QWizard::WatermarkPixmap, ui::WizardPicture(model_.picture_type()));
  manual_->setVisible(model_.radios_visible());
  existing_->setVisible(model_.radios_visible());
  manual_->setChecked(model_.manual());
  existing_->setChecked(!model_.manual());
  list_->clear();
  for (const ServerRow& row : model_.rows()) {
    list_->addTopLevelItem(new QTreeWidgetItem({ToQString(row.model), ToQString(row.name),
                                                ToQString(row.address), ToQString(row.serial)}));
  }
  if (model_.selected_row() >= 0) list_->setCurrentItem(list_->topLevelItem(model_.selected_row()));
  list_->setEnabled(model_.list_enabled());
  find_->setEnabled(model_.find_enabled());
  locate_->setEnabled(model_.locate_enabled());
}

// --- page 7 ------------------------------------------------------------------------

AssignAddressPageWidget::AssignAddressPageWidget(AssignAddressPage& model) : model_(model) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Heading(kTextAssignHeading, this));
  layout->addSpacing(12);
  layout->addWidget(Text(kTextAssignLabel, this));
  address_ = AddressEdit("address", kAssignAddressEditLimit, this);
  layout->addWidget(address_);
  layout->addStretch();
  bindings_.Live(address_, model_, &AssignAddressPage::address_text,
                 &AssignAddressPage::SetAddressText);
}

// --- page 5 ------------------------------------------------------------------------

SinglePasswordPageWidget::SinglePasswordPageWidget(SinglePasswordPage& model) : model_(model) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Heading(kTextProtectedHeading, this));
  layout->addWidget(Text(kTextSingleHostIntro, this));
  layout->addSpacing(12);
  auto* form = new QFormLayout;
  password_ = PasswordEdit("password", this);
  form->addRow(ToQString(kTextMyPasswordLabel), password_);
  layout->addLayout(form);
  layout->addStretch();
  bindings_.Live(password_, model_, &SinglePasswordPage::password,
                 &SinglePasswordPage::SetPassword);
}

// --- page 9 ------------------------------------------------------------------------

MultiPasswordPageWidget::MultiPasswordPageWidget(MultiPasswordPage& model) : model_(model) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Heading(kTextProtectedHeading, this));
  layout->addWidget(Text(kTextMultiHostIntro, this));
  administrator_ = new QRadioButton(ToQString(kTextAdministratorRadio), this);
  administrator_->setObjectName(QStringLiteral("administrator"));
  general_ = new QRadioButton(ToQString(kTextGeneralUserRadio), this);
  general_->setObjectName(QStringLiteral("generalUser"));
  layout->addWidget(administrator_);
  layout->addWidget(general_);
  auto* form = new QFormLayout;
  password_ = PasswordEdit("password", this);
  form->addRow(ToQString(kTextServerPasswordLabel), password_);
  layout->addLayout(form);
  layout->addStretch();
  bindings_.Live(
      administrator_, general_, [this] { return model_.administrator(); },
      [this](bool administrator) {
        administrator ? model_.ChooseAdministrator() : model_.ChooseGeneralUser();
        password_->setEnabled(model_.password_enabled());
      });
  bindings_.Live(password_, model_, &MultiPasswordPage::password, &MultiPasswordPage::SetPassword);
}

void MultiPasswordPageWidget::Bind() {
  bindings_.Load();
  password_->setEnabled(model_.password_enabled());
}

// --- page 3 ------------------------------------------------------------------------

SetPasswordPageWidget::SetPasswordPageWidget(SetPasswordPage& model) : model_(model) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Heading(kTextSetPasswordHeading, this));
  layout->addWidget(Text(kTextSetPasswordIntro, this));
  layout->addSpacing(12);
  auto* form = new QFormLayout;
  password_ = PasswordEdit("password", this);
  confirmation_ = PasswordEdit("confirmation", this);
  form->addRow(ToQString(kTextServerPasswordLabel), password_);
  form->addRow(ToQString(kTextConfirmPasswordLabel), confirmation_);
  layout->addLayout(form);
  auto_saved_ = new QCheckBox(ToQString(kTextAutoSaved), this);
  auto_saved_->setObjectName(QStringLiteral("autoSaved"));
  layout->addWidget(auto_saved_);
  layout->addStretch();
  bindings_.Live(password_, model_, &SetPasswordPage::password, &SetPasswordPage::SetPassword);
  bindings_.Live(confirmation_, model_, &SetPasswordPage::confirmation,
                 &SetPasswordPage::SetConfirmation);
  bindings_.Live(auto_saved_, model_, &SetPasswordPage::auto_saved, &SetPasswordPage::SetAutoSaved);
}

void SetPasswordPageWidget::Bind() {
  bindings_.Load();
  if (model_.password_focus_requests() != focus_requests_seen_) {
    focus_requests_seen_ = model_.password_focus_requests();
    password_->setFocus();
  }
}

// --- page 8 ------------------------------------------------------------------------

NewAddressPageWidget::NewAddressPageWidget(NewAddressPage& model) : model_(model) {
  auto* layout = new QVBoxLayout(this);
  message_ = Text({}, this);
  message_->setObjectName(QStringLiteral("message"));
  layout->addWidget(message_);
  auto* row = new QHBoxLayout;
  label_ = new QLabel(ToQString(kTextSuggestedLabelInitial), this);
  label_->setObjectName(QStringLiteral("label"));
  address_ = AddressEdit("address", kNewAddressEditLimit, this);
  row->addWidget(label_);
  row->addWidget(address_);
  row->addStretch();
  layout->addLayout(row);
  layout->addStretch();
  bindings_.Live(address_, model_, &NewAddressPage::address_text, &NewAddressPage::SetAddressText);
}

void NewAddressPageWidget::Bind() {
  label_->setText(ToQString(model_.label()));
  message_->setText(ToQString(model_.message()));
  bindings_.Load();
}

// --- page 2 ------------------------------------------------------------------------

ComMapPageWidget::ComMapPageWidget(ComMapPage& model) : model_(model) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Heading(kTextComHeading, this));
  layout->addWidget(Text(kTextComIntro, this));
  layout->addSpacing(12);
  auto* form = new QFormLayout;
  com_ = new QComboBox(this);
  com_->setObjectName(QStringLiteral("comName"));
  com_->setMaxVisibleItems(12);
  form->addRow(ToQString(kTextComLabel), com_);
  layout->addLayout(form);
  info_ = Text({}, this);
  info_->setObjectName(QStringLiteral("info"));
  layout->addSpacing(12);
  layout->addWidget(info_);
  layout->addStretch();
  connect(com_, &QComboBox::currentIndexChanged, this, [this](int i) { model_.Select(i); });
}

void ComMapPageWidget::Bind() {
  const QSignalBlocker block(com_);
  com_->clear();
  for (const std::string& t : model_.choice_texts()) com_->addItem(ToQString(t));
  com_->setCurrentIndex(model_.selected());
  info_->setText(ToQString(model_.info()));
}

// --- page 4 ------------------------------------------------------------------------

CompletePageWidget::CompletePageWidget(CompletePage& model) : model_(model) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Heading(kTextCompleteHeading, this));
  layout->addWidget(Text(kTextCompleteIntro, this));
  layout->addSpacing(12);
  summary_ = Text({}, this);
  summary_->setObjectName(QStringLiteral("summary"));
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(summary_);
  layout->addStretch();
}

void CompletePageWidget::Bind() {
  summary_->setText(ToQString(model_.summary()));
}

// --- page 6 ------------------------------------------------------------------------

ExitPageWidget::ExitPageWidget() {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Heading(kTextExitHeading, this));
  layout->addStretch();
}

}  // namespace zelin::wizard::gui
