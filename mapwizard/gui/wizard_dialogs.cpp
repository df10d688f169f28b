#include "mapwizard/gui/wizard_dialogs.hpp"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "mapwizard/core/strings.hpp"
#include "mapwizard/gui/labels.hpp"
#include "ui/artwork.hpp"
#include "ui/qt_prompter.hpp"

namespace zelin::wizard::gui {

using ui::ToQString;

namespace {
// The frame of the small dialogs that bear the wizard's caption and the suite icon: a
// column that starts with the bold heading.
QVBoxLayout* CaptionedColumn(QDialog* dialog, const QString& name, std::string_view heading) {
  dialog->setObjectName(name);
  dialog->setWindowTitle(ToQString(kTextDialogCaption));
  dialog->setWindowIcon(ui::SuiteIcon());
  auto* layout = new QVBoxLayout(dialog);
  layout->addWidget(HeadingLabel(heading, dialog));
  return layout;
}
}  // namespace

LocateDialog::LocateDialog(const QString& server_info, QWidget* parent) : QDialog(parent) {
  auto* layout = CaptionedColumn(this, QStringLiteral("locateDialog"), kTextLocateHeading);
  auto* info = new QLabel(server_info, this);
  info->setObjectName(QStringLiteral("serverInfo"));
  layout->addWidget(info);
  layout->addWidget(new QLabel(ToQString(kTextLocateInstructions), this));
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(box);
}

NotFoundDialog::NotFoundDialog(const QString& info, QWidget* parent) : QDialog(parent) {
  auto* layout = CaptionedColumn(this, QStringLiteral("notFoundDialog"), kTextNotFoundHeading);
  layout->addWidget(new QLabel(ToQString(kTextNotFoundAdvice), this));
  auto* field = new QLineEdit(info, this);
  field->setObjectName(QStringLiteral("info"));
  field->setReadOnly(true);
  field->setMinimumWidth(420);
  field->setCursorPosition(0);
  layout->addWidget(field);
  auto* box = new QDialogButtonBox(this);
  box->addButton(QDialogButtonBox::Ok);
  auto* cancel = box->addButton(ToQString(kTextNotFoundCancel), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("cancel"));
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(box);
}

CannotFindDialog::CannotFindDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("cannotFindDialog"));
  setWindowTitle(ToQString(kTextPageTitle));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(HeadingLabel(kTextCannotFindHeading, this));
}

void QtWizardDialogs::ShowLocate(std::string_view server_info) {
  LocateDialog dialog(ToQString(server_info), parent_.data());
  dialog.exec();
}

bool QtWizardDialogs::ShowNotFound(std::string_view info) {
  NotFoundDialog dialog(ToQString(info), parent_.data());
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace zelin::wizard::gui
