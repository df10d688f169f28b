#pragma once
// The firmware upgrade's progress window (dialog 119, modeless): the message, a bar
// from 0 to 100 and the percentage, bound to an UpgradeProgress. While it shows, the
// main window is disabled; each change repaints at once, since the download blocks the
// event loop between steps. GUI thread only.

#include <QDialog>
#include <QPointer>

#include "srvmanager/properties/core/firmware_upgrade.hpp"

class QLabel;
class QProgressBar;

namespace zelin::manager {

class UpgradeWindow final : public QDialog, public UpgradeProgress::View {
 public:
  // `main_window` is disabled while the window shows (may be null).
  UpgradeWindow(UpgradeProgress& model, QWidget* main_window);
  ~UpgradeWindow() override;

  void SetShown(bool shown) override;
  void Changed(bool repaint) override;

  QProgressBar* bar() const { return bar_; }
  QLabel* percent() const { return percent_; }
  QLabel* message() const { return message_; }
  // Times the window showed, for tests.
  int shows() const { return shows_; }

 private:
  UpgradeProgress& model_;
  QPointer<QWidget> main_window_;
  QProgressBar* bar_;
  QLabel* percent_;
  QLabel* message_;
  int shows_ = 0;
};

}  // namespace zelin::manager
