#include "srvmanager/gui/dialogs.hpp"

#include <QApplication>
#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>

#include "srvmanager/core/strings.hpp"

namespace zelin::manager {
namespace {
QString Q(std::string_view s) {
  return ui::ToQString(s);
}

// A titled group of two radio buttons, one above the other; `second_checked` chooses
// which of them is checked.
QGroupBox* RadioPair(const QString& title, QRadioButton* first, QRadioButton* second,
                     bool second_checked) {
  auto* group = new QGroupBox(title);
  auto* column = new QVBoxLayout(group);
  column->addWidget(first);
  column->addWidget(second);
  (second_checked ? second : first)->setChecked(true);
  return group;
}
}  // namespace

MapPortDialog::MapPortDialog(const MapPortChoice& initial, QWidget* parent)
    : QDialog(parent), initial_(initial) {
  setWindowTitle(Q(kMapPortTitle));
  setObjectName(QStringLiteral("MapPortDialog"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(Q(kMapPortIntro)));
  auto* port_label = new QLabel(Q(initial.label));
  port_label->setObjectName(QStringLiteral("label1011"));
  layout->addWidget(port_label);

  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(QStringLiteral("Map to : ")));
  map_to_ = new QComboBox;
  map_to_->setObjectName(QStringLiteral("combo1010"));
  for (const std::string& item : MapPortItems()) map_to_->addItem(Q(item));
  map_to_->setCurrentIndex(initial.selection);
  map_to_->setMaxVisibleItems(16);
  row->addWidget(map_to_, 1);
  layout->addLayout(row);

  consecutive_ = new QCheckBox(Q(kMapPortConsecutive));
  consecutive_->setObjectName(QStringLiteral("check1038"));
  consecutive_->setChecked(false);
  consecutive_->setEnabled(initial.consecutive_enabled);
  layout->addWidget(consecutive_);

  auto* groups = new QHBoxLayout;
  hi_performance_ = new QRadioButton(QStringLiteral("Hi-Performance"));
  classical_ = new QRadioButton(QStringLiteral("Classical"));
  groups->addWidget(
      RadioPair(QStringLiteral("Transmission Mode"), hi_performance_, classical_, initial.classical));
  fifo_enabled_ = new QRadioButton(QStringLiteral("Enable"));
  fifo_disabled_ = new QRadioButton(QStringLiteral("Disable"));
  groups->addWidget(
      RadioPair(QStringLiteral("FIFO"), fifo_enabled_, fifo_disabled_, initial.fifo_disabled));
  layout->addLayout(groups);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

MapPortChoice MapPortDialog::choice() const {
  MapPortChoice c = initial_;
  c.selection = map_to_->currentIndex();
  c.consecutive = consecutive_->isEnabled() && consecutive_->isChecked();
  c.classical = classical_->isChecked();
  c.fifo_disabled = fifo_disabled_->isChecked();
  return c;
}

PasswordDialog::PasswordDialog(const QString& info, int max_length, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(Q(kPasswordDialogTitle));
  setObjectName(QStringLiteral("PasswordDialog"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(info));
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(Q(kPasswordPrompt)));
  edit_ = new QLineEdit;
  edit_->setEchoMode(QLineEdit::Password);
  edit_->setMaxLength(max_length);
  row->addWidget(edit_, 1);
  layout->addLayout(row);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

std::optional<std::string> ManagerPrompter::AskPassword(std::string_view prompt,
                                                        size_t max_length) {
  PasswordDialog dialog(Q(prompt), static_cast<int>(max_length), base_.parent());
  const ui::ArrowWhileAsking arrow(base_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return ui::ToStdString(dialog.edit()->text());
}

MsgAnswer ManagerPrompter::AskDefaultCancel(std::string_view text, MsgIcon icon) {
  QMessageBox box(icon == MsgIcon::Warning ? QMessageBox::Warning : QMessageBox::Question,
                  base_.title(), Q(text), QMessageBox::Ok | QMessageBox::Cancel, base_.parent());
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Cancel);
  box.setEscapeButton(QMessageBox::Cancel);
  const ui::ArrowWhileAsking arrow(base_);  // answerable with the arrow under a wait cursor
  const int r = box.exec();
  return r == QMessageBox::Ok ? MsgAnswer::Ok : MsgAnswer::Cancel;
}

}  // namespace zelin::manager
