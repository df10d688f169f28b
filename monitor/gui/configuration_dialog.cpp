#include "monitor/gui/configuration_dialog.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zelin::monitor {

namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

using Page = ConfigurationSheet::Page;
constexpr std::array<Page, 3> kPages = {Page::kSelectPort, Page::kSelectItem, Page::kGeneral};

QTreeWidget* ReportList(const std::vector<std::string_view>& headers) {
  auto* list = new QTreeWidget;
  list->setRootIsDecorated(false);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->header()->setSectionsClickable(false);
  list->header()->setStretchLastSection(false);
  QStringList labels;
  for (std::string_view h : headers) labels << Q(h);
  list->setHeaderLabels(labels);
  const QFontMetrics metrics(list->font());
  for (int c = 0; c < labels.size(); ++c)
    list->setColumnWidth(c, metrics.horizontalAdvance(labels[c]) + 15);
  return list;
}

}  // namespace

ConfigurationDialog::ConfigurationDialog(ConfigurationSheet& sheet, QWidget* parent)
    : QDialog(parent), sheet_(sheet) {
  setObjectName(QStringLiteral("MonitorConfiguration"));
  setWindowTitle(Q(ConfigurationSheet::kCaption));
  sheet_.Open();

  tabs_ = new QTabWidget;
  tabs_->addTab(BuildSelectPort(), Q(ConfigurationSheet::kTabs[0]));
  tabs_->addTab(BuildSelectItem(), Q(ConfigurationSheet::kTabs[1]));
  tabs_->addTab(BuildGeneral(), Q(ConfigurationSheet::kTabs[2]));
  connect(tabs_, &QTabWidget::currentChanged, this, &ConfigurationDialog::ShowTab);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &ConfigurationDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &ConfigurationDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons);
  RefreshSelectPort();
}

QWidget* ConfigurationDialog::BuildSelectPort() {
  auto* page = new QWidget;
  address_ = new QComboBox;
  address_->setEditable(true);
  address_->setInsertPolicy(QComboBox::NoInsert);
  address_->setMinimumWidth(300);
  address_->lineEdit()->installEventFilter(this);
  auto* search = new QPushButton(QStringLiteral("&Search"));
  servers_ = ReportList({SelectPortPage::kServerHeaders.begin(), SelectPortPage::kServerHeaders.end()});
  servers_->installEventFilter(this);
  ports_ = ReportList({SelectPortPage::kPortHeaders.begin(), SelectPortPage::kPortHeaders.end()});
  auto* remove = new QPushButton(QStringLiteral("&Delete Server"));

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("Server IP Address : ")));
  top->addWidget(address_, 1);
  top->addWidget(search);
  auto* group = new QGroupBox(QStringLiteral("Monitoring Zelin Server"));
  auto* lists = new QHBoxLayout(group);
  lists->addWidget(servers_, 3);
  auto* right = new QVBoxLayout;
  right->addWidget(ports_, 1);
  right->addWidget(remove);
  lists->addLayout(right, 2);
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(top);
  layout->addWidget(group, 1);

  SelectPortPage& model = sheet_.select_port();
  connect(search, &QPushButton::clicked, this, [this, &model] {
    model.Search();
    RefreshSelectPort();
    address_->showPopup();
  });
  connect(address_, qOverload<int>(&QComboBox::activated), this, [this, &model](int index) {
    if (index < 0) return;
    model.ChooseEntry(static_cast<size_t>(index));
    RefreshSelectPort();
  });
  connect(servers_, &QTreeWidget::currentItemChanged, this, [this, &model] {
    model.SelectServer(servers_->indexOfTopLevelItem(servers_->currentItem()));
    RefreshPorts();
  });
  connect(ports_, &QTreeWidget::itemChanged, this, [this, &model](QTreeWidgetItem* item, int) {
    model.SetPortWatched(static_cast<size_t>(ports_->indexOfTopLevelItem(item)),
                         item->checkState(0) == Qt::Checked);
  });
  connect(remove, &QPushButton::clicked, this, [this, &model] {
    model.DeleteServer();
    RefreshSelectPort();
  });
  return page;
}

QWidget* ConfigurationDialog::BuildSelectItem() {
  auto* page = new QWidget;
  auto* grid = new QGridLayout;
  SelectItemPage& model = sheet_.select_item();
  constexpr size_t kRows = (kDisplayItemCount + 1) / 2;
  for (size_t i = 0; i < kDisplayItemCount; ++i) {
    items_[i] = new QCheckBox(Q(kItemLabels[i]));
    grid->addWidget(items_[i], static_cast<int>(i % kRows), static_cast<int>(i / kRows));
    item_bindings_.Live(
        items_[i], [&model, i] { return model.boxes()[i]; },
        [&model, i](bool on) { model.SetChecked(i, on); });
  }
  auto* all = new QPushButton(QStringLiteral("Select All"));
  connect(all, &QPushButton::clicked, this, [this, &model] {
    model.SelectAll();
    item_bindings_.Load();
  });
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(grid);
  layout->addWidget(all, 0, Qt::AlignLeft);
  layout->addStretch(1);
  return page;
}

QWidget* ConfigurationDialog::BuildGeneral() {
  auto* page = new QWidget;
  interval_ = new QComboBox;
  for (const std::string& entry : GeneralPage::Entries()) interval_->addItem(QString::fromStdString(entry));
  connect(interval_, qOverload<int>(&QComboBox::currentIndexChanged), this,
          [this](int index) { sheet_.general().Select(index); });
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(QStringLiteral("Sampling interval(sec) : ")));
  row->addWidget(interval_);
  row->addStretch(1);
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(row);
  layout->addStretch(1);
  return page;
}

void ConfigurationDialog::ShowTab(int index) {
  const Page from = sheet_.active();
  if (!sheet_.Activate(kPages[static_cast<size_t>(index)])) {
    const QSignalBlocker block(tabs_);
    tabs_->setCurrentIndex(static_cast<int>(from));
    return;
  }
  switch (sheet_.active()) {
    case Page::kSelectPort: RefreshSelectPort(); break;
    case Page::kSelectItem: item_bindings_.Load(); break;
    case Page::kGeneral: {
      const QSignalBlocker block(interval_);
      interval_->setCurrentIndex(sheet_.general().selected());
      break;
    }
  }
}

void ConfigurationDialog::RefreshSelectPort() {
  SelectPortPage& model = sheet_.select_port();
  {
    const QSignalBlocker block(address_);
    const QString typed = address_->currentText();
    address_->clear();
    for (const std::string& entry : model.DropDown()) address_->addItem(QString::fromStdString(entry));
    address_->setCurrentIndex(-1);
    address_->setEditText(typed);
  }
  {
    const QSignalBlocker block(servers_);
    servers_->clear();
    for (const auto& row : model.ServerRows()) {
      auto* item = new QTreeWidgetItem(servers_);
      item->setText(0, QString::fromStdString(row.name));
      item->setText(1, QString::fromStdString(row.address));
      item->setText(2, QString::fromStdString(row.serial));
    }
    if (model.selected() >= 0) servers_->setCurrentItem(servers_->topLevelItem(model.selected()));
  }
  RefreshPorts();
}

void ConfigurationDialog::RefreshPorts() {
  const QSignalBlocker block(ports_);
  ports_->clear();
  for (const auto& row : sheet_.select_port().PortRows()) {
    auto* item = new QTreeWidgetItem(ports_);
    item->setText(0, QString::fromStdString(row.number));
    item->setText(1, QString::fromStdString(row.mapping));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, row.watched ? Qt::Checked : Qt::Unchecked);
  }
}

bool ConfigurationDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    // Enter searches the typed address (and is not the dialog's OK).
    if (watched == address_->lineEdit() && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
      sheet_.select_port().EnterAddress(address_->lineEdit()->text().toStdString());
      RefreshSelectPort();
      return true;
    }
    if (watched == address_->lineEdit() && (key == Qt::Key_Up || key == Qt::Key_Down)) {
      address_->showPopup();
      return true;
    }
    if (watched == servers_ && key == Qt::Key_Delete) {
      sheet_.select_port().DeleteServer();
      RefreshSelectPort();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void ConfigurationDialog::accept() {
  if (sheet_.Ok()) QDialog::accept();
}

void ConfigurationDialog::reject() {
  sheet_.Cancel();
  QDialog::reject();
}

}  // namespace zelin::monitor
