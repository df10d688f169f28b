#pragma once
// The bold heading at the top of the wizard's pages and small dialogs. GUI thread only;
// the label belongs to `parent`.

#include <QFont>
#include <QLabel>
#include <string_view>

#include "ui/qt_prompter.hpp"

namespace zelin::wizard::gui {

// `scale` enlarges the font (the pages' headings stand out more than the dialogs').
inline QLabel* HeadingLabel(std::string_view text, QWidget* parent, qreal scale = 1.0) {
  auto* label = new QLabel(ui::ToQString(text), parent);
  QFont f = label->font();
  f.setBold(true);
  if (scale != 1.0) f.setPointSizeF(f.pointSizeF() * scale);
  label->setFont(f);
  return label;
}

}  // namespace zelin::wizard::gui
