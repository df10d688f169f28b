#include "srvmanager/gui/icons.hpp"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QStyle>

#include "srvmanager/core/commands.hpp"
#include "srvmanager/core/manager_document.hpp"
#include "ui/artwork.hpp"

namespace zelin::manager {
namespace {

QPixmap Blank() {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  return pm;
}

QIcon OfflineIcon() {
  QPixmap pm = ui::ServerIcon().pixmap(16, 16, QIcon::Disabled);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(200, 30, 30), 2));
  p.drawLine(9, 9, 15, 15);
  p.drawLine(15, 9, 9, 15);
  return QIcon(pm);
}

QIcon MappedPortIcon() {
  QPixmap pm = Blank();
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(20, 90, 20), 1));
  p.setBrush(QColor(60, 170, 60));
  p.drawRoundedRect(QRectF(1.5, 4.5, 13, 7), 2, 2);
  p.setBrush(Qt::white);
  for (int i = 0; i < 4; ++i) p.drawEllipse(QPointF(4 + 2.7 * i, 8), 0.9, 0.9);
  return QIcon(pm);
}

}  // namespace

QIcon StripIcon(int index) {
  switch (index) {
    case kIconRoot:
      return ui::SuiteIcon();
    case kIconOnline:
      return ui::ServerIcon();
    case kIconOffline:
      return OfflineIcon();
    case kIconMappedPort:
      return MappedPortIcon();
    default:
      return QIcon(Blank());
  }
}

QIcon CommandIcon(int command_id) {
  QStyle* s = QApplication::style();
  switch (command_id) {
    case kCmdSaveConfiguration:
      return s->standardIcon(QStyle::SP_DialogSaveButton);
    case kCmdAddServerWizard:
      return s->standardIcon(QStyle::SP_FileDialogNewFolder);
    case kCmdDeleteServer:
      return s->standardIcon(QStyle::SP_TrashIcon);
    case kCmdMapPort:
      return MappedPortIcon();
    case kCmdUnMapPort:
      return s->standardIcon(QStyle::SP_DialogCancelButton);
    case kCmdServerProperties:
      return s->standardIcon(QStyle::SP_FileDialogDetailedView);
    case kCmdUpgradeFirmware:
      return s->standardIcon(QStyle::SP_ArrowUp);
    case kCmdReplaceServer:  // its own picture: the default one is About's
      return s->standardIcon(QStyle::SP_BrowserReload);
    default:
      return s->standardIcon(QStyle::SP_MessageBoxInformation);
  }
}

}  // namespace zelin::manager
