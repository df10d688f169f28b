#include "ui/binding.hpp"

#include <QAbstractButton>
#include <QLineEdit>
#include <QRadioButton>

#include "ui/qt_prompter.hpp"

namespace zelin::ui {
namespace {

void ShowText(QLineEdit* edit, const std::string& text) {
  const QSignalBlocker block(edit);
  const QString q = ToQString(text);
  if (edit->text() != q) edit->setText(q);
}

void ShowChecked(QAbstractButton* button, bool on) {
  const QSignalBlocker block(button);
  button->setChecked(on);
}

void ShowPair(QRadioButton* on, QRadioButton* off, bool value) {
  // Both are set, and both stay blocked throughout: checking one of an exclusive pair
  // unchecks the other, which would otherwise signal.
  const QSignalBlocker block_on(on);
  const QSignalBlocker block_off(off);
  on->setChecked(value);
  off->setChecked(!value);
}

}  // namespace

void Bindings::Field(QLineEdit* edit, std::string& field) {
  bindings_.push_back({[edit, &field] { ShowText(edit, field); },
                       [edit, &field] { field = ToStdString(edit->text()); }});
}

void Bindings::Field(QAbstractButton* check, bool& field) {
  bindings_.push_back({[check, &field] { ShowChecked(check, field); },
                       [check, &field] { field = check->isChecked(); }});
}

void Bindings::Field(QRadioButton* on, QRadioButton* off, bool& field) {
  bindings_.push_back({[on, off, &field] { ShowPair(on, off, field); },
                       [on, &field] { field = on->isChecked(); }});
}

void Bindings::Live(QLineEdit* edit, std::function<std::string()> get,
                    std::function<void(const std::string&)> set) {
  QObject::connect(edit, &QLineEdit::textChanged, edit,
                   [set = std::move(set)](const QString& t) { set(ToStdString(t)); });
  bindings_.push_back({[edit, get = std::move(get)] { ShowText(edit, get()); }, {}});
}

void Bindings::Live(QAbstractButton* check, std::function<bool()> get,
                    std::function<void(bool)> set) {
  QObject::connect(check, &QAbstractButton::toggled, check, std::move(set));
  bindings_.push_back({[check, get = std::move(get)] { ShowChecked(check, get()); }, {}});
}

void Bindings::Live(QRadioButton* on, QRadioButton* off, std::function<bool()> get,
                    std::function<void(bool)> set) {
  // `on` toggles whenever either of the pair is chosen.
  QObject::connect(on, &QAbstractButton::toggled, on, std::move(set));
  bindings_.push_back({[on, off, get = std::move(get)] { ShowPair(on, off, get()); }, {}});
}

void Bindings::Store() const {
  for (const Binding& b : bindings_)
    if (b.store) b.store();
}

void Bindings::Load() const {
  for (const Binding& b : bindings_) b.load();
}

}  // namespace zelin::ui
