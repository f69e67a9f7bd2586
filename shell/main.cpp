// The program's entry point: crash handler first, then the single-instance guard,
// the interface language and the hidden main window living in the notification area.
#include <QByteArray>
#include <QDir>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTextCodec>
#include <QTimer>
#include <QTranslator>
#include <memory>

#include "constants.h"
#include "crashhandler.h"
#include "cupgradedialog.h"
#include "hardwareinforeader.h"
#include "mainwindow.h"
#include "messageboxshow.h"
#include "qsingleapplication.h"
#include "rslogger.h"
#include "settings.h"
#include "startupreport.h"

namespace {

// How often to check that no module has taken the fatal signals from the crash handler.
constexpr int kCrashHandlerCheckMs = 30000;

void installTranslator(QTranslator& translator) {
  const int language = COMMON::readSetting(COMMON::kKeyLanguage, COMMON::kDefaultLanguage).toInt();
  // A missing catalogue leaves the simplified-Chinese source texts.
  translator.load(COMMON::translationFile(language), QString(), QString(), QString());
  QCoreApplication::installTranslator(&translator);
}

// The crash handler starts the program again in this mode, in a process of its own,
// so that nothing of the kind runs in the crashed one: tell the user where the dump is.
int showCrashMessage(int& argc, char** argv, const QString& dumpPath) {
  qunsetenv(CrashHandler::kMessageVariable);
  QApplication app(argc, argv);
  app.setOrganizationName(QStringLiteral("Morrowick"));
  app.setApplicationName(COMMON::kApplicationName);
  QTextCodec::setCodecForLocale(QTextCodec::codecForName("utf-8"));
  QTranslator translator;
  installTranslator(translator);
  MessageBoxShow box(nullptr, QMessageBox::Critical);
  box.information(QObject::tr("错误提示"),
                  QObject::tr("当前应用程序遇到异常错误退出!\n生成异常文件:%1").arg(dumpPath));
  return 0;
}

void logStartup(bool notificationArea) {
  const QString executable = QCoreApplication::applicationFilePath();
  QString dumps = CrashHandler::dumpParentFolder(QCoreApplication::applicationDirPath());
  if (dumps.isEmpty()) dumps = QDir::currentPath();
  const auto& log = RSLogger::instance();
  log->writeLog(RSLogger::LevelInfo,
                COMMON::startupLine(executable, RSLogger::defaultFolder(),
                                    dumps + QStringLiteral("/DumpCrashes")),
                "main");
  log->writeLog(RSLogger::LevelInfo,
                COMMON::platform::notificationAreaDescription(notificationArea), "main");
}

// The first pass runs inside the window's constructor, before the helper has reported
// a CPU usage; the second one, 1.5 s later, is the one worth reporting.
void logFirstValues(const MainWindow& window) {
  auto connection = std::make_shared<QMetaObject::Connection>();
  *connection = QObject::connect(
      HardwareInfoReader::instance().data(), &HardwareInfoReader::signalsGetHardwareInfo, &window,
      [connection, &window](COMMON::HardwareInfo sample) {
        QObject::disconnect(*connection);
        RSLogger::instance()->writeLog(
            RSLogger::LevelInfo,
            COMMON::firstSampleLine(
                {sample.strCPUTemperature, sample.strCPUUsageRate, sample.strGPUTemperature,
                 sample.strGPUUsageRate, sample.strFanRpm},
                window.displayCount()),
            "main");
      });
}

}  // namespace

int main(int argc, char* argv[]) {
  // Every window here is plain widgets. Without this, Qt's X11 platform loads the whole
  // OpenGL driver stack (tens of MiB resident) that nothing uses; a choice made in the
  // environment stays.
  if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION")) qputenv("QT_XCB_GL_INTEGRATION", "none");

  const QByteArray dumpPath = qgetenv(CrashHandler::kMessageVariable);
  if (!dumpPath.isEmpty()) return showCrashMessage(argc, argv, QString::fromLocal8Bit(dumpPath));

  CrashHandler::install();

  QSingleApplication app(argc, argv);
  QTextCodec::setCodecForLocale(QTextCodec::codecForName("utf-8"));
  QTranslator translator;
  installTranslator(translator);
  if (app.isRunning()) return 0;
  app.quitOnTerminationRequest();

  // The update dialog lives in a subsystem above the window's; the window builds it.
  MainWindow::setUpgradeDialogFactory([](QWidget* parent) { return new CUpgradeDialog(parent); });

  int result = 0;
  {
    // Asked once, before the window registers its icon, while nobody waits on us.
    const bool notificationArea = QSystemTrayIcon::isSystemTrayAvailable();
    logStartup(notificationArea);
    MainWindow window;
    app.setMainWindow(&window);
    window.hide();
    window.ensureReachable(notificationArea);
    logFirstValues(window);

    // The window has loaded hidapi, udev, the sensor library and maybe NVML; any of
    // them may have put its own fatal-signal handlers in place of ours.
    CrashHandler::reassert();
    QTimer crashHandlerCheck;
    QObject::connect(&crashHandlerCheck, &QTimer::timeout, []() { CrashHandler::reassert(); });
    crashHandlerCheck.start(kCrashHandlerCheckMs);

    result = app.exec();
    app.setMainWindow(nullptr);
  }
  return result;
}
