#include "srvmanager/properties/gui/dialogs.hpp"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "srvmanager/properties/core/properties_strings.hpp"
#include "ui/qt_prompter.hpp"

namespace zelin::manager {

using ui::ToQString;
using ui::ToStdString;

QDialogButtonBox* AddOkCancel(QDialog* dialog) {
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return box;
}

QTreeWidget* NewReportList(const std::vector<std::string>& headings, QWidget* parent) {
  auto* list = new QTreeWidget(parent);
  list->setRootIsDecorated(false);
  list->setAllColumnsShowFocus(true);
  QStringList labels;
  for (const auto& h : headings) labels << ToQString(h);
  list->setHeaderLabels(labels);
  const QFontMetrics metrics(list->font());
  for (int i = 0; i < labels.size(); ++i)
    list->setColumnWidth(i, metrics.horizontalAdvance(labels[i]) + 15);
  return list;
}

// --- Grant Access IP ---------------------------------------------------------------

GrantAccessIpView::GrantAccessIpView(GrantAccessIpDialog& model, QWidget* parent)
    : QDialog(parent), model_(model) {
  setWindowTitle(ToQString(kPsGrantTitle));
  auto* layout = new QVBoxLayout(this);
  single_ = new QRadioButton(QStringLiteral("a single computer"), this);
  group_ = new QRadioButton(QStringLiteral("a group of computer"), this);
  layout->addWidget(single_);
  layout->addWidget(group_);
  auto* form = new QFormLayout;
  address_ = new QLineEdit(this);
  netmask_ = new QLineEdit(this);
  address_->setMaxLength(static_cast<int>(GrantAccessIpDialog::kMaxTextLength));
  netmask_->setMaxLength(static_cast<int>(GrantAccessIpDialog::kMaxTextLength));
  form->addRow(QStringLiteral("IP address : "), address_);
  form->addRow(QStringLiteral("Netmask : "), netmask_);
  layout->addLayout(form);
  auto* info = new QLabel(ToQString(model.info_text), this);
  info->setObjectName(QStringLiteral("info"));
  layout->addWidget(info);
  layout->addWidget(AddOkCancel(this));
  Load();
  // A radio reloads both edits from the model: what was typed goes there first.
  connect(single_, &QRadioButton::clicked, this, [this] {
    Store();
    model_.ChooseSingleComputer();
    Load();
  });
  connect(group_, &QRadioButton::clicked, this, [this] {
    Store();
    model_.ChooseGroup();
    Load();
  });
}

void GrantAccessIpView::Store() {
  model_.address_text = ToStdString(address_->text());
  model_.netmask_text = ToStdString(netmask_->text());
}

void GrantAccessIpView::Load() {
  single_->setChecked(model_.single_computer());
  group_->setChecked(!model_.single_computer());
  address_->setText(ToQString(model_.address_text));
  netmask_->setText(ToQString(model_.netmask_text));
  netmask_->setEnabled(model_.netmask_enabled());
}

void GrantAccessIpView::accept() {
  Store();
  if (model_.Ok()) QDialog::accept();
}

// --- Add Port ------------------------------------------------------------------------

AddPortView::AddPortView(AddPortDialog& model, QWidget* parent) : QDialog(parent), model_(model) {
  setWindowTitle(ToQString(kPsAddPortTitle));
  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(ToQString(kPsAddPortIntro), this);
  intro->setWordWrap(true);
  layout->addWidget(intro);
  list_ = new QListWidget(this);
  list_->setSelectionMode(QAbstractItemView::MultiSelection);
  for (const auto& item : model.items) list_->addItem(ToQString(item));
  layout->addWidget(list_);
  auto* form = new QFormLayout;
  auto* address = new QLineEdit(ToQString(model.address_text), this);
  auto* netmask = new QLineEdit(ToQString(model.netmask_text), this);
  address->setReadOnly(true);
  netmask->setReadOnly(true);
  form->addRow(QStringLiteral("IP address : "), address);
  form->addRow(QStringLiteral("Netmask : "), netmask);
  layout->addLayout(form);
  layout->addWidget(AddOkCancel(this));
}

void AddPortView::accept() {
  for (int i = 0; i < list_->count() && i < static_cast<int>(model_.selected.size()); ++i)
    model_.selected[static_cast<size_t>(i)] = list_->item(i)->isSelected();
  QDialog::accept();
}

// --- Gateway Settings ----------------------------------------------------------------

GatewaySettingsView::GatewaySettingsView(GatewaySettingsDialog& model, QWidget* parent)
    : QDialog(parent), model_(model) {
  setWindowTitle(ToQString(kPsGatewayTitle));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  auto edit = [this](const std::string& text, int max) {
    auto* e = new QLineEdit(ToQString(text), this);
    e->setMaxLength(max);
    return e;
  };
  const int address_max = static_cast<int>(GatewaySettingsDialog::kMaxAddressLength);
  destination_ = edit(model.destination_text, address_max);
  gateway_ = edit(model.gateway_text, address_max);
  netmask_ = edit(model.netmask_text, address_max);
  metric_ = edit(model.metric_text, static_cast<int>(GatewaySettingsDialog::kMaxMetricLength));
  metric_->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), metric_));
  form->addRow(QStringLiteral("Destination : "), destination_);
  form->addRow(QStringLiteral("Gateway : "), gateway_);
  form->addRow(QStringLiteral("Netmask : "), netmask_);
  form->addRow(QStringLiteral("Metric : "), metric_);
  layout->addLayout(form);
  layout->addWidget(AddOkCancel(this));
}

void GatewaySettingsView::accept() {
  model_.destination_text = ToStdString(destination_->text());
  model_.gateway_text = ToStdString(gateway_->text());
  model_.netmask_text = ToStdString(netmask_->text());
  model_.metric_text = ToStdString(metric_->text());
  if (model_.Ok()) QDialog::accept();
}

}  // namespace zelin::manager
