#include "monitor/gui/file_dialogs.hpp"

#include <QFileDialog>

namespace zelin::monitor {

namespace {

// "Zelin Server Monitor Files (*.mnt)|*.mnt|All Files (*.*)|*.*||" as Qt writes it.
const QString kFilters = QStringLiteral("Zelin Server Monitor Files (*.mnt);;All Files (*.*)");

std::optional<std::filesystem::path> Chosen(QFileDialog& dialog) {
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return std::filesystem::path(dialog.selectedFiles().front().toStdString());
}

}  // namespace

std::optional<std::filesystem::path> QtFileChooser::ChooseSavePath() {
  QFileDialog dialog(parent_, QStringLiteral("Save As"), QString(), kFilters);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QStringLiteral("mnt"));
  dialog.setOption(QFileDialog::ReadOnly, false);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
  return Chosen(dialog);
}

std::optional<std::filesystem::path> QtFileChooser::ChooseOpenPath() {
  QFileDialog dialog(parent_, QStringLiteral("Open"), QString(), kFilters);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(QStringLiteral("mnt"));
  return Chosen(dialog);
}

}  // namespace zelin::monitor
