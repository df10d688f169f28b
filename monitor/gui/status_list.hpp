#pragma once
// StatusListView: the status list, a report list drawn by the view itself. One row per
// watched port; each row is drawn on the window colour in the colour of its server's
// state (window text when answering, magenta for an address conflict, red otherwise),
// or in the highlight colours when selected while the list has the focus. A text too
// wide for its cell is shortened with "...".
//
// As the StatusDisplay of the monitoring it may be written from the receiving thread:
// SetCell and RedrawRows are handed over to the GUI thread, and a handed-over cell write
// of rows that were rebuilt meanwhile is dropped. Everything else: GUI thread.

#include <QTreeWidget>

#include <atomic>
#include <cstdint>
#include <functional>

#include "monitor/core/status_display.hpp"

namespace zelin::monitor {

class StatusListView final : public QTreeWidget, public StatusDisplay {
  Q_OBJECT
 public:
  // `state_of_row` gives the state of the server of a row when it is drawn.
  explicit StatusListView(std::function<ServerState(int row)> state_of_row,
                          QWidget* parent = nullptr);

  void ShowColumns(const std::vector<DisplayItem>& columns) override;
  void AddRow() override;
  void SetCell(size_t row, size_t column, const std::string& text) override;
  void RedrawRows(size_t first, size_t last) override;

  // The selected row, or -1.
  int SelectedRow() const;
  // The line drawn in the empty list (kEmptyListHint); empty while there is a row.
  QString Hint() const;

 signals:
  // A double click or Enter on a row.
  void rowActivated(int row);

 protected:
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  std::function<ServerState(int row)> state_of_row_;
  // The run of the rows shown: ShowColumns starts a new one. A cell write handed over
  // from the receiving thread carries the run it was made in and is dropped when that
  // run has ended (the list was rebuilt while it waited in the queue).
  std::atomic<uint64_t> run_{0};
};

}  // namespace zelin::monitor
