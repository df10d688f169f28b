// zelin_icon_painter: writes the suite's window icon (ui/artwork.hpp) as PNG files in the
// icon theme layout, for installation:
//   zelin_icon_painter OUTDIR NAME SIZE...  ->  OUTDIR/SIZExSIZE/apps/NAME.png
// Exit status 0 when every file was written, 1 otherwise, 2 for bad arguments.

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>

#include <cstdio>

#include "ui/artwork.hpp"

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  if (args.size() < 4) {
    std::fprintf(stderr, "usage: zelin_icon_painter OUTDIR NAME SIZE...\n");
    return 2;
  }
  const QIcon icon = zelin::ui::SuiteIcon();
  for (qsizetype i = 3; i < args.size(); ++i) {
    bool ok = false;
    const int size = args[i].toInt(&ok);
    if (!ok || size <= 0) {
      std::fprintf(stderr, "zelin_icon_painter: bad size %s\n", qPrintable(args[i]));
      return 2;
    }
    // Only the sizes the artwork is drawn at: a scaled picture would be blurred.
    const QPixmap pm = icon.pixmap(QSize(size, size));
    if (pm.size() != QSize(size, size)) {
      std::fprintf(stderr, "zelin_icon_painter: the icon is not drawn at %d pixels\n", size);
      return 1;
    }
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(args[1]).arg(size);
    const QString path = dir + QLatin1Char('/') + args[2] + QStringLiteral(".png");
    if (!QDir().mkpath(dir) || !pm.save(path, "PNG")) {
      std::fprintf(stderr, "zelin_icon_painter: cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
