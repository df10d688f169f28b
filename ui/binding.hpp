#pragma once
// Binds controls to the fields of a page model: one helper for the property pages and
// the wizard pages. A binding knows how to show the model in its control (Load) and how
// to hand the control's value to the model, either when asked (Store, for pages that
// validate on leaving) or at every user change (live, for pages that act at once).
//
// Load sets each control with its signals blocked (QSignalBlocker), so a refresh from
// the model never reads as a user edit; the same goes for any other control a page
// refreshes itself (lists, combo boxes, tabs): block it with QSignalBlocker, never with
// a hand-set flag. GUI thread only; the model outlives the controls' bindings.

#include <QSignalBlocker>
#include <functional>
#include <string>
#include <vector>

class QAbstractButton;
class QLineEdit;
class QRadioButton;

namespace zelin::ui {

class Bindings {
 public:
  // The control mirrors a plain field: Store() copies the control into it.
  void Field(QLineEdit* edit, std::string& field);
  void Field(QAbstractButton* check, bool& field);
  // Two radio buttons of one group: `on` shows the field, `off` its opposite.
  void Field(QRadioButton* on, QRadioButton* off, bool& field);

  // The control shows get() and hands every change to set() at once.
  void Live(QLineEdit* edit, std::function<std::string()> get,
            std::function<void(const std::string&)> set);
  void Live(QAbstractButton* check, std::function<bool()> get, std::function<void(bool)> set);
  // Two radio buttons of one group: set(true) when `on` is chosen, set(false) for `off`.
  void Live(QRadioButton* on, QRadioButton* off, std::function<bool()> get,
            std::function<void(bool)> set);
  // The same with a model's getter and setter: Live(edit, model_, &Page::text, &Page::SetText).
  template <class Control, class Model, class Value, class Argument>
  void Live(Control* control, Model& model, Value (Model::*get)() const,
            void (Model::*set)(Argument)) {
    Live(
        control, [&model, get] { return (model.*get)(); },
        [&model, set](const auto& value) { (model.*set)(value); });
  }

  // Controls -> fields (live bindings have nothing to store).
  void Store() const;
  // Model -> controls, each with its signals blocked. A line edit whose text is already
  // the model's keeps its cursor.
  void Load() const;

 private:
  struct Binding {
    std::function<void()> load;
    std::function<void()> store;  // empty for live bindings
  };
  std::vector<Binding> bindings_;
};

}  // namespace zelin::ui
