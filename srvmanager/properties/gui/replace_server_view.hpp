#pragma once
// The "Replace Server..." dialog bound to ReplaceServerDialog: the list of candidate
// servers with its three columns, "&Find", OK and Cancel; a double-click on a row acts
// as OK. The list is filled when the dialog is built (a blocking search). GUI thread.

#include <QDialog>

#include "srvmanager/properties/core/replace_server.hpp"

class QTreeWidget;
class QPushButton;

namespace zelin::manager {

class ReplaceServerView final : public QDialog {
 public:
  ReplaceServerView(ReplaceServerDialog& model, QWidget* parent = nullptr);
  void accept() override;

  QTreeWidget* list() const { return list_; }
  QPushButton* find() const { return find_; }
  void Find();

 private:
  void Load();
  ReplaceServerDialog& model_;
  QTreeWidget* list_;
  QPushButton* find_;
  bool loading_ = false;
};

}  // namespace zelin::manager
