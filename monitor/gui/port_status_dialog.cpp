#include "monitor/gui/port_status_dialog.hpp"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace zelin::monitor {

namespace {

const QColor kLit(0, 255, 0);
const QColor kDark(0, 128, 0);

QString Q(const std::string& s) { return QString::fromStdString(s); }

QGroupBox* Framed(const QString& title, QWidget* meter) {
  auto* box = new QGroupBox(title);
  auto* layout = new QVBoxLayout(box);
  layout->addWidget(meter);
  return box;
}

}  // namespace

BarMeter::BarMeter(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setMinimumSize(80, 70);
}

void BarMeter::SetValue(uint32_t value, uint32_t maximum) {
  value_ = value;
  maximum_ = maximum;
  update();
}

void BarMeter::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect area = contentsRect();
  p.fillRect(area, Qt::black);
  const QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  p.setFont(font);
  const int text_height = QFontMetrics(font).height();
  // Ten 2-pixel lines 3 pixels apart over the middle third, centred above the text.
  constexpr int kSegments = 10, kLine = 2, kGap = 3;
  const int block = kSegments * kLine + (kSegments - 1) * kGap;
  const int top = area.top() + (area.height() - text_height - block) / 2;
  const int left = area.left() + area.width() / 3;
  const int width = area.width() / 3;
  const int lit = LitSegments(value_, maximum_);
  for (int i = 0; i < kSegments; ++i) {
    const int from_bottom = kSegments - 1 - i;
    p.fillRect(QRect(left, top + i * (kLine + kGap), width, kLine), from_bottom < lit ? kLit : kDark);
  }
  p.setPen(kLit);
  const QRect text(area.left(), area.bottom() - text_height, area.width(), text_height);
  p.drawText(text, Qt::AlignHCenter | Qt::AlignBottom, QString::number(value_));
}

HistoryGraph::HistoryGraph(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setMinimumSize(120, 70);
}

void HistoryGraph::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect area = contentsRect();
  p.fillRect(area, Qt::black);
  const int height = area.height();
  const int cell = std::max(1, height / 5);
  p.setPen(kDark);
  for (int i = 1; i <= 4; ++i) p.drawLine(area.left(), area.top() + i * cell, area.right(), area.top() + i * cell);
  // The vertical lines move one pixel to the left with every sample.
  const int shift = history_ ? static_cast<int>(history_->added() % static_cast<uint64_t>(cell)) : 0;
  for (int x = area.right() - (cell - 1 - shift) % cell; x >= area.left(); x -= cell)
    p.drawLine(x, area.top(), x, area.bottom());
  if (history_ == nullptr || history_->samples().empty()) return;
  p.setPen(kLit);
  const auto& samples = history_->samples();
  QPoint last;
  int x = area.right();
  for (size_t k = samples.size(); k-- > 0 && x >= area.left(); --x) {
    const QPoint point(x, area.bottom() - history_->PixelHeight(k, height) + 1);
    if (k + 1 < samples.size()) p.drawLine(last, point);
    else p.drawPoint(point);
    last = point;
  }
}

PortStatusDialog::PortStatusDialog(PortStatusModel& model, int interval_seconds, QWidget* parent)
    : QDialog(parent), model_(model) {
  setObjectName(QStringLiteral("PortStatus"));
  setWindowTitle(Q(model_.Title()));
  const auto add = [this](QFormLayout* form, const QString& name) {
    auto* value = new QLabel;
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QPalette pal = value->palette();
    pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
    value->setPalette(pal);
    value->setMinimumWidth(110);
    form->addRow(name, value);
    fields_[name] = value;
  };
  auto* communication = new QGroupBox(QStringLiteral("Communication Parameter"));
  auto* comm_form = new QFormLayout(communication);
  for (const char* name : {"Port Name", "Port Status", "Baud Rate (bps)", "Data Bits", "Parity",
                           "Stop Bits", "RTS Flow Control", "CTS Flow Control",
                           "Input XON/XOFF Flow Control", "Output XON/XOFF Flow Control"})
    add(comm_form, QString::fromLatin1(name));
  auto* login = new QGroupBox(QStringLiteral("Login Parameter"));
  auto* login_form = new QFormLayout(login);
  for (const char* name : {"Host IP Address", "Login Time (HH:MM:SS)", "Count/Tx (bytes)",
                           "Count/Rx (bytes)"})
    add(login_form, QString::fromLatin1(name));

  tx_bar_ = new BarMeter;
  rx_bar_ = new BarMeter;
  tx_history_ = new HistoryGraph;
  rx_history_ = new HistoryGraph;
  auto* meters = new QGridLayout;
  meters->addWidget(Framed(QStringLiteral("Tx CPS"), tx_bar_), 0, 0);
  meters->addWidget(Framed(QStringLiteral("Tx CPS History"), tx_history_), 0, 1);
  meters->addWidget(Framed(QStringLiteral("Rx CPS"), rx_bar_), 1, 0);
  meters->addWidget(Framed(QStringLiteral("Rx CPS History"), rx_history_), 1, 1);
  meters->setColumnStretch(1, 1);

  auto* right = new QVBoxLayout;
  right->addWidget(login);
  right->addLayout(meters);
  auto* body = new QHBoxLayout;
  body->addWidget(communication);
  body->addLayout(right, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(body);
  layout->addWidget(buttons);

  model_.Open();
  tx_history_->SetHistory(&model_.tx().history);
  rx_history_->SetHistory(&model_.rx().history);
  Refresh();
  timer_.setInterval(interval_seconds * 1000);
  connect(&timer_, &QTimer::timeout, this, &PortStatusDialog::Tick);
  connect(this, &QDialog::finished, &timer_, &QTimer::stop);
  timer_.start();
}

QLabel* PortStatusDialog::field(const QString& name) const {
  const auto it = fields_.find(name);
  return it == fields_.end() ? nullptr : it->second;
}

void PortStatusDialog::Tick() {
  model_.Tick();
  Refresh();
}

void PortStatusDialog::Refresh() {
  const PortStatusModel::Fields& f = model_.fields();
  const std::pair<const char*, const std::string*> values[] = {
      {"Port Name", &f.port_name},
      {"Port Status", &f.port_status},
      {"Baud Rate (bps)", &f.baud_rate},
      {"Data Bits", &f.data_bits},
      {"Parity", &f.parity},
      {"Stop Bits", &f.stop_bits},
      {"RTS Flow Control", &f.rts_flow},
      {"CTS Flow Control", &f.cts_flow},
      {"Input XON/XOFF Flow Control", &f.input_xon_xoff},
      {"Output XON/XOFF Flow Control", &f.output_xon_xoff},
      {"Host IP Address", &f.host_address},
      {"Login Time (HH:MM:SS)", &f.login_time},
      {"Count/Tx (bytes)", &f.tx_count},
      {"Count/Rx (bytes)", &f.rx_count}};
  for (const auto& [name, value] : values) fields_[QString::fromLatin1(name)]->setText(Q(*value));
  tx_bar_->SetValue(model_.tx().value, model_.maximum());
  rx_bar_->SetValue(model_.rx().value, model_.maximum());
  tx_history_->update();
  rx_history_->update();
}

}  // namespace zelin::monitor
