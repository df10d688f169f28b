#pragma once
// The port status window (modal): the port's communication and login parameters and
// four meters on black, Tx and Rx characters per second as bars and as history graphs,
// refreshed at every sampling interval from the live status block. Binds a
// PortStatusModel; decides nothing itself. GUI thread only.

#include <QDialog>
#include <QFrame>
#include <QTimer>

#include <map>

#include "monitor/core/port_status_model.hpp"

class QLabel;

namespace zelin::monitor {

// Ten green segments and the value under them.
class BarMeter final : public QFrame {
 public:
  explicit BarMeter(QWidget* parent = nullptr);
  void SetValue(uint32_t value, uint32_t maximum);
  QSize sizeHint() const override { return {110, 90}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  uint32_t value_ = 0, maximum_ = 100;
};

// A moving grid and the last samples, newest at the right.
class HistoryGraph final : public QFrame {
 public:
  explicit HistoryGraph(QWidget* parent = nullptr);
  void SetHistory(const RateHistory* history) { history_ = history; update(); }
  QSize sizeHint() const override { return {200, 90}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const RateHistory* history_ = nullptr;
};

class PortStatusDialog final : public QDialog {
 public:
  // The model must outlive the dialog; `interval_seconds` is the sampling interval.
  PortStatusDialog(PortStatusModel& model, int interval_seconds, QWidget* parent = nullptr);

  // Refills every field and meter from the model (after Open or Tick).
  void Refresh();
  // One sampling interval: the model's Tick, then Refresh (the timer's handler).
  void Tick();
  QTimer& timer() { return timer_; }
  // The label that shows field `name` ("Port Name", "Baud Rate (bps)", ...).
  QLabel* field(const QString& name) const;

 private:
  PortStatusModel& model_;
  QTimer timer_;
  std::map<QString, QLabel*> fields_;
  BarMeter* tx_bar_;
  BarMeter* rx_bar_;
  HistoryGraph* tx_history_;
  HistoryGraph* rx_history_;
};

}  // namespace zelin::monitor
