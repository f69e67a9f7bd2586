// Saves a picture of the whole X screen named by DISPLAY into the file given as
// the only argument.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "xcb");
  QGuiApplication app(argc, argv);
  if (argc < 2 || QGuiApplication::primaryScreen() == nullptr) return 2;
  return QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromLocal8Bit(argv[1])) ? 0
                                                                                               : 1;
}
