// Renders the main window (with the simulated devices of STELVOX_DEVSIM_CONFIG), the
// settings dialog, the about dialog, the quit question and the tray menu in one language
// into PNG files. Run by scripts/screenshots.sh under Xvfb, one process per language.
//   stelvox_screenshots <language 0|1|2> <output folder>
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>
#include <QTranslator>

#include <cmath>
#include <cstdio>

#include "caboutdlg.h"
#include "csettingdlg.h"
#include "historypane.h"
#include "mainwindow.h"
#include "messageboxshow.h"
#include "settings.h"

namespace {

bool save(QWidget* widget, const QString& folder, const QString& name) {
  const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
  const bool ok = widget->grab().save(path, "PNG");
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
  return ok;
}

// Lets the window system map and paint what was just shown.
void settle() {
  for (int i = 0; i < 10; ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <language 0|1|2> <output folder>\n", argv[0]);
    return 2;
  }
  const int language = QString::fromLocal8Bit(argv[1]).toInt();
  const QString folder = QString::fromLocal8Bit(argv[2]);
  QDir().mkpath(folder);
  const QString suffix = QStringList{"zh_CN", "zh_TW", "eg_EN"}.value(language, "zh_CN");

  QTranslator translator;
  if (!translator.load(COMMON::translationFile(language))) {
    std::fprintf(stderr, "cannot load the catalogue for language %d\n", language);
    return 1;
  }
  app.installTranslator(&translator);

  bool ok = true;
  MainWindow window;
  window.show();
  window.resize(1024, 720);
  settle();
  // Six minutes of a machine under a changing load: the card sleeps for a while (a
  // gap), the processor sensor glitches once (an outlier the scale must not follow).
  auto* history = window.findChild<HistoryPane*>();
  for (int i = 0; i < 240; ++i) {
    const double load = 0.5 + 0.5 * std::sin(i / 25.0);
    const bool cardAsleep = i >= 90 && i < 120;
    const QString cpu = i == 150 ? "1000" : QString::number(int(45 + 30 * load));
    const QString gpu = cardAsleep ? "--" : QString::number(int(40 + 35 * load * load));
    const QString gpuUse = cardAsleep ? "--" : QString::number(int(100 * load * load));
    history->onReadHardwareInfo(COMMON::HardwareInfo{cpu, QString::number(int(10 + 85 * load)), gpu,
                                                     gpuUse,
                                                     QString::number(int(800 + 900 * load))});
  }
  window.onReadHardwareInfo(COMMON::HardwareInfo{"52", "17", "46", "8", "1180"});
  settle();
  ok &= save(&window, folder, "mainwindow_" + suffix);

  auto* settings = window.findChild<CSettingDlg*>();
  settings->show();
  settle();
  ok &= save(settings, folder, "settings_" + suffix);
  settings->hide();

  // The about dialog runs modally the first time; grab it from inside its own loop.
  QTimer::singleShot(300, [&]() {
    QWidget* about = QApplication::activeModalWidget();
    if (!about) about = window.findChild<CAboutDlg*>();
    settle();
    ok &= about && save(about, folder, "about_" + suffix);
    if (about) about->close();
  });
  window.onAbout();

  MessageBoxShow::setAnswerer([&](QMessageBox& box) {
    box.show();
    settle();
    ok &= save(&box, folder, "quit_" + suffix);
    return int(QMessageBox::Cancel);
  });
  window.onQuitApplication();
  MessageBoxShow::setAnswerer(nullptr);

  // The tray menu keeps the platform style: it has no parent.
  if (auto* tray = window.findChild<QSystemTrayIcon*>()) {
    if (QMenu* menu = tray->contextMenu()) {
      menu->popup(QPoint(20, 20));
      settle();
      auto* trayMenu = qobject_cast<TrayIconMenu*>(menu);
      if (trayMenu && trayMenu->deviceMenu()) {
        trayMenu->deviceMenu()->popup(QPoint(20 + menu->width(), 20));
        settle();
        ok &= save(trayMenu->deviceMenu(), folder, "traydevices_" + suffix);
        trayMenu->deviceMenu()->hide();
      }
      ok &= save(menu, folder, "traymenu_" + suffix);
      menu->hide();
    }
  }
  return ok ? 0 : 1;
}
