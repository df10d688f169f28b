#pragma once
// The document's file dialogs with QFileDialog: ".mnt" by default, the monitor files'
// filter, no read-only box, a question before overwriting. GUI thread only.

#include <QPointer>
#include <QWidget>

#include "monitor/core/monitor_document.hpp"

namespace zelin::monitor {

class QtFileChooser final : public FileChooser {
 public:
  explicit QtFileChooser(QWidget* parent = nullptr) : parent_(parent) {}
  void set_parent(QWidget* parent) { parent_ = parent; }
  std::optional<std::filesystem::path> ChooseSavePath() override;
  std::optional<std::filesystem::path> ChooseOpenPath() override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace zelin::monitor
