#include "srvmanager/properties/gui/property_sheet_view.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "srvmanager/properties/core/properties_strings.hpp"
#include "srvmanager/properties/gui/dialogs.hpp"
#include "ui/binding.hpp"
#include "ui/qt_prompter.hpp"

namespace zelin::manager {

using ui::ToQString;

// --- binding ---------------------------------------------------------------------

void PageView::Store() {
  bindings_.Store();
}

void PageView::Load() {
  bindings_.Load();
}

QPushButton* PageView::AddCommand(QBoxLayout* column, const char* text,
                                  std::function<void()> command) {
  auto* button = new QPushButton(QString::fromLatin1(text), this);
  column->addWidget(button);
  connect(button, &QPushButton::clicked, this, [this, run = std::move(command)] {
    run();
    Load();
  });
  return button;
}

// --- General -------------------------------------------------------------------------

GeneralPageView::GeneralPageView(GeneralPage& page, QWidget* parent)
    : PageView(parent), page_(page) {
  auto* layout = new QVBoxLayout(this);
  auto* box = new QGroupBox(QStringLiteral("Server Info"), this);
  auto* form = new QFormLayout(box);
  form->addRow(QStringLiteral("Serial No : "), new QLabel(ToQString(page.serial_text), box));
  name = new QLineEdit(box);
  name->setMaxLength(static_cast<int>(GeneralPage::kNameMaxLength));
  address = new QLineEdit(box);
  netmask = new QLineEdit(box);
  for (QLineEdit* e : {address, netmask}) {
    e->setMaxLength(static_cast<int>(GeneralPage::kAddressMaxLength));
    e->setReadOnly(page.address_read_only());
  }
  form->addRow(QStringLiteral("Server Name : "), name);
  form->addRow(QStringLiteral("Server IP address : "), address);
  form->addRow(QStringLiteral("Netmask :"), netmask);
  auto* radios = new QHBoxLayout;
  dhcp_enable = new QRadioButton(QStringLiteral("Enable"), box);
  dhcp_disable = new QRadioButton(QStringLiteral("Disable"), box);
  dhcp_enable->setEnabled(page.dhcp_radios_enabled());
  dhcp_disable->setEnabled(page.dhcp_radios_enabled());
  radios->addWidget(dhcp_enable);
  radios->addWidget(dhcp_disable);
  radios->addStretch();
  form->addRow(QStringLiteral("DHCP :"), radios);
  layout->addWidget(box);
  layout->addStretch();
  bindings_.Field(name, page.name);
  bindings_.Field(address, page.address_text);
  bindings_.Field(netmask, page.netmask_text);
  bindings_.Field(dhcp_enable, dhcp_disable, page.dhcp_enable);
  Load();
}

// --- Password ------------------------------------------------------------------------

PasswordPageView::PasswordPageView(PasswordPage& page, QWidget* parent)
    : PageView(parent), page_(page) {
  auto* layout = new QVBoxLayout(this);
  auto* box = new QGroupBox(QStringLiteral("Change Password"), this);
  auto* form = new QFormLayout(box);
  auto edit = [box] {
    auto* e = new QLineEdit(box);
    e->setEchoMode(QLineEdit::Password);
    e->setMaxLength(static_cast<int>(PasswordPage::kPasswordMaxLength));
    return e;
  };
  current = edit();
  fresh = edit();
  confirm = edit();
  form->addRow(QStringLiteral("Current Server Password : "), current);
  form->addRow(QStringLiteral("New Password : "), fresh);
  form->addRow(QStringLiteral("Confirm New Password : "), confirm);
  layout->addWidget(box);
  auto_save = new QCheckBox(QStringLiteral("&Auto Save Password on this computer"), this);
  layout->addWidget(auto_save);
  layout->addStretch();
  bindings_.Field(current, page.current_password);
  bindings_.Field(fresh, page.new_password);
  bindings_.Field(confirm, page.confirm_password);
  bindings_.Field(auto_save, page.auto_save);
  Load();
}

void PasswordPageView::Load() {
  PageView::Load();
  if (page_.focus_new_password) fresh->setFocus();
}

// --- Access Control ------------------------------------------------------------------

AccessControlPageView::AccessControlPageView(AccessControlPage& page, QWidget* parent)
    : PageView(parent), page_(page) {
  auto* layout = new QHBoxLayout(this);
  auto* left = new QVBoxLayout;
  tree = new QTreeWidget(this);
  tree->setHeaderHidden(true);
  tree->setRootIsDecorated(true);
  left->addWidget(tree);
  auto* by = new QHBoxLayout;
  by->addWidget(new QLabel(QStringLiteral("View access control list by :"), this));
  view = new QComboBox(this);
  for (const auto& item : AccessControlPage::ViewItems()) view->addItem(ToQString(item));
  by->addWidget(view);
  left->addLayout(by);
  layout->addLayout(left, 1);
  auto* buttons = new QVBoxLayout;
  add_ip = AddCommand(buttons, "Add IP", [this] { page_.AddIp(); });
  add_port = AddCommand(buttons, "Add Port", [this] { page_.AddPort(); });
  remove = AddCommand(buttons, "&Remove", [this] { page_.Remove(); });
  modify = AddCommand(buttons, "&Modify", [this] { page_.Modify(); });
  buttons->addStretch();
  layout->addLayout(buttons);

  connect(view, &QComboBox::currentIndexChanged, this, [this](int index) {
    page_.SetView(static_cast<AccessView>(index));
    Load();
  });
  connect(tree, &QTreeWidget::currentItemChanged, this, [this] { SelectionChanged(); });
  Load();
}

void AccessControlPageView::Load() {
  {  // the tree is rebuilt with its signals blocked
    const QSignalBlocker block_view(view);
    const QSignalBlocker block_tree(tree);
    view->setCurrentIndex(static_cast<int>(page_.view()));
    tree->clear();
    const AccessTreeNode& model = page_.tree();
    auto* root = new QTreeWidgetItem(tree, QStringList{ToQString(model.text)});
    for (const auto& top : model.children) {
      auto* item = new QTreeWidgetItem(root, QStringList{ToQString(top.text)});
      for (const auto& sub : top.children)
        new QTreeWidgetItem(item, QStringList{ToQString(sub.text)});
    }
    root->setExpanded(true);
    tree->setCurrentItem(root);
  }
  UpdateButtons();
}

void AccessControlPageView::SelectionChanged() {
  AccessTreePath path;
  QTreeWidgetItem* item = tree->currentItem();
  if (item != nullptr && item->parent() != nullptr) {
    QTreeWidgetItem* parent = item->parent();
    if (parent->parent() == nullptr) {
      path.top = parent->indexOfChild(item);
    } else {
      path.top = parent->parent()->indexOfChild(parent);
      path.sub = parent->indexOfChild(item);
    }
  }
  page_.Select(path);
  UpdateButtons();
}

void AccessControlPageView::SelectPath(AccessTreePath path) {
  QTreeWidgetItem* item = tree->topLevelItem(0);
  if (item != nullptr && path.top >= 0) item = item->child(path.top);
  if (item != nullptr && path.sub >= 0) item = item->child(path.sub);
  if (item != nullptr) tree->setCurrentItem(item);
}

void AccessControlPageView::UpdateButtons() {
  const AccessButtons b = page_.buttons();
  add_ip->setEnabled(b.add_ip);
  add_port->setEnabled(b.add_port);
  remove->setEnabled(b.remove);
  modify->setEnabled(b.modify);
}

// --- Advanced ------------------------------------------------------------------------

AdvancedPageView::AdvancedPageView(AdvancedPage& page, QWidget* parent)
    : PageView(parent), page_(page) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(ToQString(kPsAdvancedIntro), this));
  auto* row = new QHBoxLayout;
  list = NewReportList(AdvancedPage::Columns(), this);
  row->addWidget(list, 1);
  auto* buttons = new QVBoxLayout;
  add = AddCommand(buttons, "&Add", [this] { page_.Add(); });
  remove = AddCommand(buttons, "&Remove", [this] { page_.Remove(); });
  modify = AddCommand(buttons, "&Modify", [this] { page_.Modify(); });
  buttons->addStretch();
  row->addLayout(buttons);
  layout->addLayout(row);

  connect(list, &QTreeWidget::currentItemChanged, this, [this] {
    if (list->currentItem() != nullptr)
      page_.SelectRow(list->indexOfTopLevelItem(list->currentItem()));
  });
  Load();
}

void AdvancedPageView::Load() {
  const QSignalBlocker block(list);
  list->clear();
  for (const auto& r : page_.rows())
    new QTreeWidgetItem(list, QStringList{ToQString(r.destination), ToQString(r.gateway),
                                          ToQString(r.netmask), ToQString(r.metric)});
  if (page_.selected_row() >= 0) list->setCurrentItem(list->topLevelItem(page_.selected_row()));
  remove->setEnabled(page_.remove_enabled());
  modify->setEnabled(page_.modify_enabled());
}

// --- the sheet -----------------------------------------------------------------------

PropertySheetView::PropertySheetView(PropertySheet& sheet, QWidget* parent)
    : QDialog(parent), sheet_(sheet) {
  setWindowTitle(ToQString(PropertySheet::Caption()));
  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  for (int i = 0; i < sheet.page_count(); ++i) {
    PageView* view = nullptr;
    switch (sheet.page_kind(i)) {
      case PageKind::kGeneral:
        view = new GeneralPageView(sheet.general(), tabs_);
        break;
      case PageKind::kPassword:
        view = new PasswordPageView(sheet.password(), tabs_);
        break;
      case PageKind::kAccessControl:
        view = new AccessControlPageView(*sheet.access_control(), tabs_);
        break;
      case PageKind::kAdvanced:
        view = new AdvancedPageView(*sheet.advanced(), tabs_);
        break;
    }
    pages_.push_back(view);
    tabs_->addTab(view, ToQString(PropertySheet::PageTitle(sheet.page_kind(i))));
  }
  layout->addWidget(tabs_);
  layout->addWidget(AddOkCancel(this));
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) { TabChanged(index); });
  resize(560, 380);
}

void PropertySheetView::TabChanged(int index) {
  const int from = sheet_.active_page();
  pages_[static_cast<size_t>(from)]->Store();
  const bool moved = sheet_.SetActivePage(index);
  pages_[static_cast<size_t>(from)]->Load();
  if (!moved) {
    const QSignalBlocker block(tabs_);
    tabs_->setCurrentIndex(from);
  }
}

void PropertySheetView::ShowPage(int index) {
  tabs_->setCurrentIndex(index);
}

void PropertySheetView::accept() {
  PageView* active = pages_[static_cast<size_t>(sheet_.active_page())];
  active->Store();
  const bool ok = sheet_.Ok();
  active->Load();
  if (ok) QDialog::accept();
}

}  // namespace zelin::manager
