#include "srvmanager/properties/gui/replace_server_view.hpp"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "srvmanager/properties/core/properties_strings.hpp"
#include "srvmanager/properties/gui/dialogs.hpp"
#include "ui/qt_prompter.hpp"

namespace zelin::manager {

using ui::ToQString;

ReplaceServerView::ReplaceServerView(ReplaceServerDialog& model, QWidget* parent)
    : QDialog(parent), model_(model) {
  setWindowTitle(ToQString(kPsReplaceTitle));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(ToQString(kPsReplaceIntro), this));
  auto* row = new QHBoxLayout;
  list_ = NewReportList(ReplaceServerDialog::Columns(), this);
  row->addWidget(list_, 1);
  find_ = new QPushButton(QStringLiteral("&Find"), this);
  auto* side = new QVBoxLayout;
  side->addWidget(find_);
  side->addStretch();
  row->addLayout(side);
  layout->addLayout(row);
  layout->addWidget(AddOkCancel(this));
  resize(520, 300);

  connect(find_, &QPushButton::clicked, this, [this] { Find(); });
  connect(list_, &QTreeWidget::currentItemChanged, this, [this] {
    if (!loading_) model_.SelectRow(list_->indexOfTopLevelItem(list_->currentItem()));
  });
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { accept(); });
  Find();
}

void ReplaceServerView::Find() {
  model_.Find();
  Load();
}

void ReplaceServerView::Load() {
  loading_ = true;
  list_->clear();
  for (const auto& r : model_.rows())
    new QTreeWidgetItem(list_,
                        QStringList{ToQString(r.name), ToQString(r.address), ToQString(r.serial)});
  if (model_.selected_row() >= 0) list_->setCurrentItem(list_->topLevelItem(model_.selected_row()));
  loading_ = false;
}

void ReplaceServerView::accept() {
  if (model_.Ok()) QDialog::accept();
}

}  // namespace zelin::manager
