#pragma once
// The main window's view: the starting text, or the selected server's report drawn
// from its layout (portcheck/core/report.hpp), with one clickable error-code label per
// error cell (at most 54 placed per drawing). Printing draws the same layout with the
// print fonts and the codes as text.

#include <QLabel>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "portcheck/core/main_window_model.hpp"
#include "portcheck/core/report.hpp"

class QPainter;
class QPrinter;

namespace zelin::portcheck {

class ErrorCodeLabel final : public QLabel {
  Q_OBJECT
 public:
  explicit ErrorCodeLabel(QWidget* parent);
  int code = 0;
 signals:
  void clicked(int code);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
};

class ReportView final : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kLabels = 55;
  static constexpr int kMaxPlaced = 54;

  explicit ReportView(QWidget* parent = nullptr);

  // The report to draw; nullopt for the starting text.
  void ShowReport(ReportLayout layout);
  void ShowStartingText(QPixmap config_picture, QPixmap go_picture);
  const std::optional<ReportLayout>& layout() const { return layout_; }
  // The labels placed by the last drawing, in order.
  std::vector<const ErrorCodeLabel*> PlacedLabels() const;

  // One page on `printer` with the print fonts.
  // On a printer, a PDF writer or an image of a page: the same page in each.
  static void Print(const ReportLayout& layout, QPaintDevice* printer);

 signals:
  void errorCodeClicked(int code);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void PlaceLabels();
  static void Draw(QPainter& p, const ReportLayout& layout, const QFont& normal, const QFont& bold,
                   int line_height, int char_width, bool printing);

  std::optional<ReportLayout> layout_;
  QPixmap config_picture_, go_picture_;
  QFont normal_, bold_;
  std::vector<ErrorCodeLabel*> labels_;
};

}  // namespace zelin::portcheck
