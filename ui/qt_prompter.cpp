#include "ui/qt_prompter.hpp"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>
#include <utility>

#include "ui/progress_window.hpp"

namespace zelin::ui {

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToStdString(const QString& text) {
  return text.toUtf8().toStdString();
}

QtPrompter::QtPrompter(QString title, QWidget* parent)
    : title_(std::move(title)), parent_(parent) {}

QtPrompter::~QtPrompter() {
  // A wait cursor left pushed by an early return must not outlive its owner.
  while (wait_depth_ > 0) EndWait();
}

namespace {

QMessageBox::StandardButtons ButtonsOf(MsgButtons b) {
  switch (b) {
    case MsgButtons::Ok:
      return QMessageBox::Ok;
    case MsgButtons::OkCancel:
      return QMessageBox::Ok | QMessageBox::Cancel;
    case MsgButtons::YesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case MsgButtons::YesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MsgButtons::RetryCancel:
      return QMessageBox::Retry | QMessageBox::Cancel;
  }
  return QMessageBox::Ok;
}

QMessageBox::Icon IconOf(MsgIcon i) {
  switch (i) {
    case MsgIcon::None:
      return QMessageBox::NoIcon;
    case MsgIcon::Information:
      return QMessageBox::Information;
    case MsgIcon::Warning:
      return QMessageBox::Warning;
    case MsgIcon::Error:
      return QMessageBox::Critical;
    case MsgIcon::Question:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

// The answer of each button a box may close with.
constexpr std::pair<QMessageBox::StandardButton, MsgAnswer> kButtonAnswers[] = {
    {QMessageBox::Ok, MsgAnswer::Ok},   {QMessageBox::Cancel, MsgAnswer::Cancel},
    {QMessageBox::Yes, MsgAnswer::Yes}, {QMessageBox::No, MsgAnswer::No},
    {QMessageBox::Retry, MsgAnswer::Retry},
};

}  // namespace

MsgAnswer QtPrompter::Message(std::string_view text, MsgButtons buttons, MsgIcon icon,
                              std::string_view caption) {
  QMessageBox box(IconOf(icon), caption.empty() ? title_ : ToQString(caption), ToQString(text),
                  ButtonsOf(buttons), parent_.data());
  box.setTextFormat(Qt::PlainText);
  int r;
  {
    const ArrowWhileAsking arrow(*this);  // answerable with the arrow under a wait cursor
    r = box.exec();
  }
  for (const auto& [button, answer] : kButtonAnswers)
    if (r == button) return answer;
  return EscapeAnswer(buttons);  // Escape or the window's close button
}

std::optional<std::string> QtPrompter::AskPassword(std::string_view prompt, size_t max_length) {
  QDialog dialog(parent_.data());
  dialog.setWindowTitle(title_);
  dialog.setObjectName(QStringLiteral("passwordDialog"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* label = new QLabel(ToQString(prompt), &dialog);
  auto* edit = new QLineEdit(&dialog);
  edit->setObjectName(QStringLiteral("password"));
  edit->setEchoMode(QLineEdit::Password);
  edit->setMaxLength(static_cast<int>(std::min<size_t>(max_length, 32767)));
  label->setBuddy(edit);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(label);
  layout->addWidget(edit);
  layout->addWidget(box);
  const ArrowWhileAsking arrow(*this);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  std::string out = ToStdString(edit->text());
  if (out.size() > max_length) out.resize(max_length);  // multi-byte characters
  return out;
}

std::unique_ptr<ProgressWindow> QtPrompter::OpenProgress(std::string_view title) {
  return std::make_unique<QtProgressWindow>(ToQString(title), parent_.data());
}

ArrowWhileAsking::ArrowWhileAsking(const QtPrompter& prompter)
    : pushed_(prompter.wait_depth() > 0) {
  if (pushed_) QApplication::setOverrideCursor(Qt::ArrowCursor);
}

ArrowWhileAsking::~ArrowWhileAsking() {
  if (pushed_) QApplication::restoreOverrideCursor();
}

void QtPrompter::BeginWait() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  ++wait_depth_;
}

void QtPrompter::EndWait() {
  if (wait_depth_ == 0) return;
  --wait_depth_;
  QApplication::restoreOverrideCursor();
}

}  // namespace zelin::ui
