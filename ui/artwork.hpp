#pragma once
// The suite's pictures, drawn at run time with QPainter so that no image file has to
// ship: the program icons, the server icon, and the tall picture at the left of the
// wizard pages (one variant per installation type).
//
// Needs a QGuiApplication. GUI thread only. Results are cached per argument.

#include <QIcon>
#include <QPixmap>

namespace zelin::ui {

// A device server seen from the front: a box with a row of port lights.
QIcon ServerIcon();
// The icon of the program windows and of the wizard.
QIcon SuiteIcon();
// The wizard's left-hand picture, 164 x 314 pixels. `installation_type` 1, 2 or 3
// chooses the drawing of the hosts (one host, several hosts, a host far away);
// anything else gives the plain picture.
QPixmap WizardPicture(int installation_type = 0);

}  // namespace zelin::ui
