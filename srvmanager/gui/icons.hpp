#pragma once
// The 16-pixel images shared by the server tree and the port list (root, online
// server, offline server, mapped port), drawn at run time. GUI thread only.

#include <QIcon>

namespace zelin::manager {

QIcon StripIcon(int index);         // TreeIcon values of the document
QIcon CommandIcon(int command_id);  // toolbar pictures; 0 is the About button

}  // namespace zelin::manager
