#include "portcheck/gui/config_sheet.hpp"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/qt_prompter.hpp"

namespace zelin::portcheck {

using ui::ToQString;
using ui::ToStdString;

ConfigSheet::ConfigSheet(DiagConfig& working, ServerSearchResults& results,
                         HostInterfaces& interfaces, DiagSession& session, Prompter& prompter,
                         PasswordDialogRunner run_dialog, const ComMappingTable& com,
                         QWidget* parent)
    : QDialog(parent),
      working_(working),
      session_(session),
      prompter_(prompter),
      run_dialog_(run_dialog),
      objects_(working, results, interfaces, session, prompter, run_dialog, com) {
  setObjectName(QStringLiteral("ConfigSheet"));
  setWindowTitle(QString::fromUtf8(kTitle));
  tabs_ = new QTabWidget(this);
  tabs_->addTab(BuildObjectPage(), QStringLiteral("Test Object"));
  tabs_->addTab(BuildItemPage(), QStringLiteral("Test Item"));
  tabs_->addTab(BuildCommPage(), QStringLiteral("Communication Parameters"));
  connect(tabs_, &QTabWidget::currentChanged, this, &ConfigSheet::PageShown);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &ConfigSheet::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &ConfigSheet::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons);
  resize(560, 440);
}

bool ConfigSheet::eventFilter(QObject* watched, QEvent* event) {
  if ((watched != address_ && watched != address_->lineEdit()) || address_->view()->isVisible())
    return QDialog::eventFilter(watched, event);
  if (event->type() == QEvent::Wheel) return true;
  if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  const int key = static_cast<QKeyEvent*>(event)->key();
  if (key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp || key == Qt::Key_PageDown) {
    objects_.MoveSelection(key == Qt::Key_Up || key == Qt::Key_PageUp ? -1 : 1);
    if (objects_.dropdown_selection() >= 0) {
      const QSignalBlocker quiet(address_);
      address_->setCurrentIndex(objects_.dropdown_selection());
    }
    return true;
  }
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    objects_.EnterText(ToStdString(address_->currentText()));
    LoadServers();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

QWidget* ConfigSheet::BuildObjectPage() {
  auto* page = new QWidget;
  address_ = new QComboBox(page);
  address_->setObjectName(QStringLiteral("ServerAddress"));
  address_->setEditable(true);
  address_->setInsertPolicy(QComboBox::NoInsert);
  auto* search = new QPushButton(QStringLiteral("Search"), page);
  auto* remove = new QPushButton(QStringLiteral("Delete Server"), page);
  servers_ = new QTreeWidget(page);
  servers_->setObjectName(QStringLiteral("ServerList"));
  servers_->setRootIsDecorated(false);
  servers_->setHeaderLabels({QStringLiteral("Model No"), QStringLiteral("Name     "),
                             QStringLiteral("IP Address          "), QStringLiteral("Serial No")});
  ports_ = new QTreeWidget(page);
  ports_->setObjectName(QStringLiteral("PortList"));
  ports_->setRootIsDecorated(false);
  ports_->setHeaderLabels({QStringLiteral("Port No."), QStringLiteral("Port Mapping")});

  connect(search, &QPushButton::clicked, this, [this] {
    objects_.Search();
    LoadServers();
    address_->showPopup();
  });
  connect(address_, qOverload<int>(&QComboBox::activated), this, [this](int line) {
    objects_.ChooseLine(line);
    LoadServers();
  });
  // The combo box itself would take Up, Down and the wheel as a choice (its activated
  // signal, which adds); the filter keeps activated for a click or Enter in the list.
  address_->installEventFilter(this);
  address_->lineEdit()->installEventFilter(this);
  auto remove_selected = [this] {
    objects_.DeleteSelected();
    LoadServers();
  };
  connect(remove, &QPushButton::clicked, this, remove_selected);
  auto* del = new QShortcut(QKeySequence::Delete, servers_, nullptr, nullptr, Qt::WidgetShortcut);
  connect(del, &QShortcut::activated, this, remove_selected);
  auto* ins = new QShortcut(QKeySequence(Qt::Key_Insert), servers_, nullptr, nullptr, Qt::WidgetShortcut);
  connect(ins, &QShortcut::activated, this, &ConfigSheet::OpenUpgrade);
  connect(servers_, &QTreeWidget::currentItemChanged, this, [this] {
    objects_.SelectServer(servers_->indexOfTopLevelItem(servers_->currentItem()));
    LoadPorts();
  });
  connect(ports_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
    objects_.SetPortChecked(ports_->indexOfTopLevelItem(item), item->checkState(0) == Qt::Checked);
  });

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("Server IP Address"), page));
  top->addWidget(address_, 1);
  top->addWidget(search);
  auto* group = new QGroupBox(QStringLiteral("Selected Zelin Server"), page);
  auto* lists = new QHBoxLayout;
  lists->addWidget(servers_, 3);
  lists->addWidget(ports_, 2);
  auto* inner = new QVBoxLayout(group);
  inner->addWidget(remove, 0, Qt::AlignLeft);
  inner->addLayout(lists);
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(top);
  layout->addWidget(group);
  return page;
}

QWidget* ConfigSheet::BuildItemPage() {
  auto* page = new QWidget;
  auto* group = new QGroupBox(QStringLiteral("Asynchronous Port Test Item"), page);
  const char* names[] = {"Internal Test", "External Test", "Tx  <-> Rx",
                         "RTS -> CTS",    "DTR -> DSR",    "DTR -> DCD"};
  auto* inner = new QVBoxLayout(group);
  for (size_t i = 0; i < item_boxes_.size(); ++i) {
    item_boxes_[i] = new QCheckBox(QString::fromUtf8(names[i]), group);
    inner->addWidget(item_boxes_[i]);
    if (i >= 2) item_boxes_[i]->setContentsMargins(24, 0, 0, 0);
  }
  connect(item_boxes_[1], &QCheckBox::toggled, this, [this](bool on) {
    for (size_t i = 2; i < item_boxes_.size(); ++i) item_boxes_[i]->setEnabled(on);
  });
  (new QVBoxLayout(page))->addWidget(group);
  return page;
}

QWidget* ConfigSheet::BuildCommPage() {
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  const char* labels[] = {"Baud rate :", "Data bits :", "Parity :", "Stop bits :"};
  for (size_t i = 0; i < comm_lists_.size(); ++i) {
    comm_lists_[i] = new QComboBox(page);
    form->addRow(QString::fromUtf8(labels[i]), comm_lists_[i]);
  }
  for (uint32_t rate : kBaudTable) comm_lists_[0]->addItem(QString::number(rate));
  for (auto t : CommParamsPage::kDataBits) comm_lists_[1]->addItem(ToQString(t));
  for (auto t : CommParamsPage::kParities) comm_lists_[2]->addItem(ToQString(t));
  for (auto t : CommParamsPage::kStopBits) comm_lists_[3]->addItem(ToQString(t));
  return page;
}

void ConfigSheet::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!shown_[static_cast<size_t>(tabs_->currentIndex())]) PageShown(tabs_->currentIndex());
}

void ConfigSheet::PageShown(int index) {
  if (index < 0 || shown_[static_cast<size_t>(index)]) return;
  shown_[static_cast<size_t>(index)] = true;
  if (index == 0) {
    objects_.Open();
    LoadServers();
  } else if (index == 1) {
    items_.Open(working_);
    const bool values[] = {items_.internal, items_.external, items_.tx_rx,
                           items_.rts_cts, items_.dtr_dsr, items_.dtr_dcd};
    for (size_t i = 0; i < item_boxes_.size(); ++i) item_boxes_[i]->setChecked(values[i]);
    for (size_t i = 2; i < item_boxes_.size(); ++i) item_boxes_[i]->setEnabled(items_.external);
  } else {
    comm_.Open(working_);
    comm_lists_[0]->setCurrentIndex(comm_.baud);
    comm_lists_[1]->setCurrentIndex(comm_.data_bits);
    comm_lists_[2]->setCurrentIndex(comm_.parity);
    comm_lists_[3]->setCurrentIndex(comm_.stop_bits);
  }
}

void ConfigSheet::LoadServers() {
  {
    const QSignalBlocker block(address_);
    const QString typed = address_->currentText();
    address_->clear();
    for (const auto& line : objects_.dropdown()) address_->addItem(ToQString(line));
    address_->setCurrentIndex(objects_.dropdown_selection());
    if (objects_.dropdown().empty()) address_->setEditText(typed);
  }
  {
    const QSignalBlocker block(servers_);
    servers_->clear();
    for (const auto& row : objects_.server_rows())
      new QTreeWidgetItem(servers_, {ToQString(row.model), ToQString(row.name), ToQString(row.ip),
                                     ToQString(row.serial)});
    if (objects_.selected_server() >= 0)
      servers_->setCurrentItem(servers_->topLevelItem(objects_.selected_server()));
  }
  LoadPorts();
}

void ConfigSheet::LoadPorts() {
  const QSignalBlocker block(ports_);  // filling the list is not a change of the boxes
  ports_->clear();
  for (const auto& row : objects_.port_rows()) {
    auto* item = new QTreeWidgetItem(ports_, {ToQString(row.number), ToQString(row.mapping)});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, row.checked ? Qt::Checked : Qt::Unchecked);
  }
}

void ConfigSheet::OpenUpgrade() {
  if (objects_.selected_server() < 0) return;
  UpgradeWindow model(working_, objects_.selected_server(), session_, prompter_, run_dialog_);
  UpgradeDialog dialog(model, this);
  dialog.exec();
}

void ConfigSheet::accept() {
  if (shown_[1]) {
    items_.internal = item_boxes_[0]->isChecked();
    items_.external = item_boxes_[1]->isChecked();
    items_.tx_rx = item_boxes_[2]->isChecked();
    items_.rts_cts = item_boxes_[3]->isChecked();
    items_.dtr_dsr = item_boxes_[4]->isChecked();
    items_.dtr_dcd = item_boxes_[5]->isChecked();
    items_.Close(working_);
  }
  if (shown_[2]) {
    comm_.baud = comm_lists_[0]->currentIndex();
    comm_.data_bits = comm_lists_[1]->currentIndex();
    comm_.parity = comm_lists_[2]->currentIndex();
    comm_.stop_bits = comm_lists_[3]->currentIndex();
    comm_.Close(working_);
  }
  QDialog::accept();
}

UpgradeDialog::UpgradeDialog(UpgradeWindow& model, QWidget* parent) : QDialog(parent), model_(model) {
  setObjectName(QStringLiteral("UpgradeDialog"));
  setWindowTitle(ToQString(UpgradeWindow::kTitle));
  auto* form = new QFormLayout;
  auto shown = [this, form](const char* label, const std::string& value) {
    auto* edit = new QLineEdit(ToQString(value), this);
    edit->setReadOnly(true);
    form->addRow(QString::fromUtf8(label), edit);
  };
  shown("Zelin Server", model_.server_name());
  shown("IP Address", model_.ip_address());
  shown("Serial no", model_.serial_number());
  shown("Firmware Version", model_.firmware_version());
  file_ = new QLineEdit(this);
  form->addRow(QStringLiteral("File name"), file_);
  auto* browse = new QPushButton(QStringLiteral("BROWSE"), this);
  auto* start = new QPushButton(QStringLiteral("Start"), this);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  connect(browse, &QPushButton::clicked, this, [this] {
    QFileDialog dialog(this, ToQString(UpgradeWindow::kBrowseTitle), QString(),
                       QStringLiteral("Rom File(*.rom)"));
    dialog.setDefaultSuffix(ToQString(UpgradeWindow::kBrowseExtension));
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    file_->setText(dialog.selectedFiles().first());
    Finish(model_.Browse(ToStdString(file_->text())));
  });
  connect(start, &QPushButton::clicked, this, [this] {
    model_.file_name = ToStdString(file_->text());
    Finish(model_.Start());
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(browse);
  buttons->addStretch();
  buttons->addWidget(start);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
}

void UpgradeDialog::Finish(bool ok) {
  if (ok) accept();
}

}  // namespace zelin::portcheck
