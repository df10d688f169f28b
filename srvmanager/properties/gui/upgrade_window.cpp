#include "srvmanager/properties/gui/upgrade_window.hpp"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QWindow>

#include "ui/live_clock.hpp"
#include "ui/qt_prompter.hpp"

namespace zelin::manager {

UpgradeWindow::UpgradeWindow(UpgradeProgress& model, QWidget* main_window)
    : QDialog(nullptr), model_(model), main_window_(main_window) {
  // Not a child of the main window: disabling the main window would grey this one too.
  setModal(false);
  setWindowTitle(ui::ToQString(UpgradeProgress::Caption()));
  auto* layout = new QVBoxLayout(this);
  message_ = new QLabel(this);
  message_->setMinimumWidth(340);
  layout->addWidget(message_);
  auto* row = new QHBoxLayout;
  bar_ = new QProgressBar(this);
  bar_->setRange(UpgradeProgress::kMinimum, UpgradeProgress::kMaximum);
  bar_->setTextVisible(false);
  percent_ = new QLabel(this);
  percent_->setMinimumWidth(40);
  row->addWidget(bar_, 1);
  row->addWidget(percent_);
  layout->addLayout(row);
  model_.set_view(this);
  Changed(false);
}

UpgradeWindow::~UpgradeWindow() {
  model_.set_view(nullptr);
  if (QWidget* main = main_window_.data()) main->setEnabled(true);
}

void UpgradeWindow::SetShown(bool shown) {
  if (shown) {
    ++shows_;
    if (QWidget* main = main_window_.data()) {
      main->setEnabled(false);
      // Kept above the main window by the window system, though not its child.
      main->winId();
      winId();
      if (main->windowHandle() != nullptr) windowHandle()->setTransientParent(main->windowHandle());
    }
    show();
  } else {
    hide();
    if (QWidget* main = main_window_.data()) main->setEnabled(true);
  }
}

void UpgradeWindow::Changed(bool repaint_now) {
  bar_->setValue(model_.position());
  percent_->setText(ui::ToQString(model_.percent_text()));
  message_->setText(ui::ToQString(model_.message()));
  if (repaint_now && isVisible()) {
    // The download holds the event loop: paint the window now, and let other pending
    // events through so the rest of the screen stays drawn; input meanwhile is dropped,
    // not left queued for the main window once it is enabled again.
    repaint();
    ui::KeepWindowsAlive();
  }
}

}  // namespace zelin::manager
