// The main window wired to the real sampler, rotation, send thread, device manager and
// hot-plug source. The display simulator stands in for hidapi; devices come and go by
// rewriting its configuration file, which the polling hot-plug source notices.
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "caboutdlg.h"
#include "circulardisplaytimer.h"
#include "constants.h"
#include "csettingdlg.h"
#include "mainwindow.h"
#include "sendhiddatathread.h"
#include "settings.h"
#include "uitesthelpers.h"

namespace {

constexpr int kHotplugTimeoutMs = 30000;

// The desktop of the test has no notification area; a real one does.
class TrayDesktopWindow : public MainWindow {
 public:
  bool trayAvailable = true;

 protected:
  bool systemTrayAvailable() const override { return trayAvailable; }
};

class FakeUpgradeDialog : public UpgradeDialogInterface {
 public:
  explicit FakeUpgradeDialog(QWidget* parent) : parent(parent) { ++alive; }
  ~FakeUpgradeDialog() override { --alive; }
  void startCheckUpdate(bool bAutoCheck) override { calls.append(bAutoCheck); }

  QWidget* parent;
  QVector<bool> calls;
  static int alive;
};
int FakeUpgradeDialog::alive = 0;

COMMON::HardwareInfo sample(const QString& cpuT, const QString& cpuU, const QString& gpuT,
                            const QString& gpuU, const QString& fan) {
  return COMMON::HardwareInfo{cpuT, cpuU, gpuT, gpuU, fan};
}

}  // namespace

class TestMainWindow : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void formAndTitle_data();
  void formAndTitle();
  void valueDisplay_data();
  void valueDisplay();
  void rpmUnitInEachLanguage_data();
  void rpmUnitInEachLanguage();
  void settingsAreRouted();
  void noDeviceAtStart();
  void deviceArrivalAndRemoval();
  void devicesPresentAtStart();
  void aboutShowsTheFirstDevice();
  void trayDoubleClickOpensSettings();
  void closeHidesWhileTheTrayIconIsVisible();
  void quitAsksAndEndsOnlyOnConfirm();
  void updateDialogThroughTheFactory();
  void withoutNotificationAreaTheWindowShows();
  void toolTipTellsTheValues();

 private:
  void writeDevices(const QStringList& lines);
  QTableWidget* table() const;
  QStringList trayDevices() const;
  QString text(const char* lineEdit) const;

  QTemporaryDir m_root;
  QString m_devsimConfig;
  std::unique_ptr<TrayDesktopWindow> m_window;
};

void TestMainWindow::initTestCase() {
  QVERIFY(m_root.isValid());
  // Nothing of the machine's own: settings, sensors and devices all come from here.
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root.filePath("config")));
  QDir().mkpath(m_root.filePath("sys/module/msr"));  // no module loading from a test
  QDir().mkpath(m_root.filePath("proc"));
  QDir().mkpath(m_root.filePath("dev"));
  qputenv("HOST_SYS", QFile::encodeName(m_root.filePath("sys")));
  qputenv("HOST_PROC", QFile::encodeName(m_root.filePath("proc")));
  qputenv("HOST_DEV", QFile::encodeName(m_root.filePath("dev")));
  m_devsimConfig = m_root.filePath("devices.conf");
  qputenv("STELVOX_DEVSIM_CONFIG", QFile::encodeName(m_devsimConfig));
  writeDevices({});
}

void TestMainWindow::init() {
  QDir(m_root.filePath("config")).removeRecursively();
  writeDevices({});
}

void TestMainWindow::cleanup() {
  m_window.reset();
  MainWindow::setUpgradeDialogFactory(nullptr);
}

void TestMainWindow::writeDevices(const QStringList& lines) {
  // Written whole and renamed into place, so the simulator never reads half a file.
  const QString temporary = m_devsimConfig + QStringLiteral(".new");
  QFile file(temporary);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(lines.join(QLatin1Char('\n')).toUtf8() + "\n");
  file.close();
  QFile::remove(m_devsimConfig);
  QVERIFY(QFile::rename(temporary, m_devsimConfig));
}

QTableWidget* TestMainWindow::table() const {
  return m_window->findChild<QTableWidget*>(QStringLiteral("tableWidget_HIDDevicesTable"));
}

QStringList TestMainWindow::trayDevices() const {
  auto* tray = m_window->findChild<QSystemTrayIcon*>();
  auto* menu = qobject_cast<TrayIconMenu*>(tray->contextMenu());
  QStringList result;
  for (QAction* action : menu->deviceMenu()->actions()) result << action->text();
  return result;
}

QString TestMainWindow::text(const char* lineEdit) const {
  return m_window->findChild<QLineEdit*>(QLatin1String(lineEdit))->text();
}

void TestMainWindow::formAndTitle_data() {
  QTest::addColumn<QString>("catalogue");
  QTest::addColumn<QString>("title");
  QTest::addColumn<QString>("fanLabel");
  QTest::addColumn<QString>("lastHeader");
  QTest::newRow("simplified") << ":/zh_CN.qm"
                              << "设备监测软件（V1.0.0.27）"
                              << "风扇转速(转)"
                              << "设备路径";
  QTest::newRow("traditional") << ":/zh_TW.qm"
                               << "設備監測軟體（V1.0.0.27）"
                               << "風扇轉速(轉)"
                               << "設備路徑";
  QTest::newRow("English") << ":/eg_EN.qm"
                           << "Device Monitor Application（V1.0.0.27）"
                           << "Fan RPM"
                           << "Device Path";
}

void TestMainWindow::formAndTitle() {
  QFETCH(QString, catalogue);
  QFETCH(QString, title);
  QFETCH(QString, fanLabel);
  QFETCH(QString, lastHeader);
  ScopedCatalogue scope(catalogue);
  QVERIFY(scope.loaded);
  m_window = std::make_unique<TrayDesktopWindow>();
  QCOMPARE(m_window->windowTitle(), title);
  QCOMPARE(m_window->objectName(), QStringLiteral("MainWindow"));
  QCOMPARE(m_window->minimumSize(), QSize(960, 580));
  QVERIFY(!m_window->styleSheet().isEmpty());
  QCOMPARE(m_window->findChild<QLabel*>("label_5")->text(), fanLabel);
  QCOMPARE(table()->columnCount(), 6);
  QCOMPARE(table()->horizontalHeaderItem(5)->text(), lastHeader);
  QCOMPARE(table()->horizontalHeaderItem(0)->text(), QStringLiteral("UUID"));
  QCOMPARE(table()->editTriggers(), QAbstractItemView::NoEditTriggers);
  QVERIFY(table()->verticalHeader()->isHidden());
  auto* tray = m_window->findChild<QSystemTrayIcon*>();
  QVERIFY(tray && tray->isVisible());
  QVERIFY(!tray->icon().isNull());
}

void TestMainWindow::valueDisplay_data() {
  QTest::addColumn<int>("unit");
  QTest::addColumn<QString>("temperature");
  QTest::addColumn<QString>("shown");
  QTest::newRow("Celsius 45") << 0 << "45"
                              << "45℃";
  QTest::newRow("Fahrenheit 45") << 1 << "45"
                                 << "113℉";
  QTest::newRow("Celsius --") << 0 << "--"
                              << "--℃";
  QTest::newRow("Fahrenheit --") << 1 << "--"
                                 << "32℉";
  QTest::newRow("Fahrenheit 37 truncates") << 1 << "37"
                                           << "98℉";
  QTest::newRow("unit 5 is Fahrenheit") << 5 << "25"
                                        << "77℉";
}

void TestMainWindow::valueDisplay() {
  QFETCH(int, unit);
  QFETCH(QString, temperature);
  QFETCH(QString, shown);
  COMMON::writeSetting(COMMON::kKeyTemperatureUnit, unit);
  m_window = std::make_unique<TrayDesktopWindow>();
  m_window->onReadHardwareInfo(sample(temperature, "37", temperature, "--", "1200"));
  QCOMPARE(text("lineEdit_CPUTemperature"), shown);
  QCOMPARE(text("lineEdit_GPUTemperature"), shown);
  QCOMPARE(text("lineEdit_CPUUsageRate"), QStringLiteral("37%"));
  QCOMPARE(text("lineEdit_GPUUsageRate"), QStringLiteral("--%"));
  QCOMPARE(text("lineEdit_FanRpm"), QStringLiteral("1200RPM"));
  QCOMPARE(MainWindow::celsiusToFahrenheit(-1), 31);
}

void TestMainWindow::rpmUnitInEachLanguage_data() {
  QTest::addColumn<QString>("catalogue");
  QTest::addColumn<QString>("shown");
  QTest::newRow("simplified") << ":/zh_CN.qm"
                              << "860转/分";
  QTest::newRow("traditional") << ":/zh_TW.qm"
                               << "860轉/分";
  QTest::newRow("English") << ":/eg_EN.qm"
                           << "860RPM";
}

void TestMainWindow::rpmUnitInEachLanguage() {
  QFETCH(QString, catalogue);
  QFETCH(QString, shown);
  ScopedCatalogue scope(catalogue);
  m_window = std::make_unique<TrayDesktopWindow>();
  m_window->onReadHardwareInfo(sample("40", "5", "50", "6", "860"));
  QCOMPARE(text("lineEdit_FanRpm"), shown);
}

void TestMainWindow::settingsAreRouted() {
  m_window = std::make_unique<TrayDesktopWindow>();
  auto* dialog = m_window->findChild<CSettingDlg*>();
  QVERIFY(dialog);
  const auto rotation = CircularDisplayTimer::instance();

  // The unit choice applies from the next sample on.
  m_window->onReadHardwareInfo(sample("45", "1", "45", "1", "1"));
  QCOMPARE(text("lineEdit_CPUTemperature"), QStringLiteral("45℃"));
  auto* unit = dialog->findChild<QComboBox*>("cmb_temperature_unit");
  unit->setCurrentIndex(1);
  emit unit->activated(1);
  QCOMPARE(text("lineEdit_CPUTemperature"), QStringLiteral("45℃"));
  m_window->onReadHardwareInfo(sample("45", "1", "45", "1", "1"));
  QCOMPARE(text("lineEdit_CPUTemperature"), QStringLiteral("113℉"));

  dialog->findChild<QSpinBox*>("spinBox_changeInterval")->setValue(4);  // seconds
  QCOMPARE(rotation->interval(), 4000);
  QVERIFY(
      QMetaObject::invokeMethod(dialog, "on_checkBox_displayFanSpeed_stateChanged", Q_ARG(int, 0)));
  QCOMPARE(rotation->itemMask() & hidreport::FAN_RPM, 0);
  QVERIFY(
      QMetaObject::invokeMethod(dialog, "on_checkBox_displayFanSpeed_stateChanged", Q_ARG(int, 2)));
  QCOMPARE(rotation->itemMask() & hidreport::FAN_RPM, int(hidreport::FAN_RPM));
  QVERIFY(
      QMetaObject::invokeMethod(dialog, "on_checkBox_displayCPUTemp_stateChanged", Q_ARG(int, 0)));
  QCOMPARE(rotation->itemMask() & hidreport::CPU_TEMPERATURE, 0);
  QVERIFY(
      QMetaObject::invokeMethod(dialog, "on_checkBox_displayCPUTemp_stateChanged", Q_ARG(int, 2)));
  QVERIFY(
      QMetaObject::invokeMethod(dialog, "on_checkBox_displayGPUTemp_stateChanged", Q_ARG(int, 0)));
  QCOMPARE(rotation->itemMask() & hidreport::GPU_TEMPERATURE, 0);
  QVERIFY(
      QMetaObject::invokeMethod(dialog, "on_checkBox_displayGPUTemp_stateChanged", Q_ARG(int, 2)));
  rotation->setInterval(COMMON::kDefaultChangeInterval);

  // Names are compared exactly.
  m_window->onSettingInfoChanged(QStringLiteral("Temperature Unit"), QStringLiteral("0"));
  m_window->onReadHardwareInfo(sample("45", "1", "45", "1", "1"));
  QCOMPARE(text("lineEdit_CPUTemperature"), QStringLiteral("113℉"));
}

void TestMainWindow::noDeviceAtStart() {
  m_window = std::make_unique<TrayDesktopWindow>();
  QCOMPARE(table()->rowCount(), 0);
  QCOMPARE(trayDevices(), QStringList{"无"});
  auto* thread = m_window->findChild<SendHIDDataThread*>();
  QVERIFY(thread && thread->isRunning());
  QVERIFY(thread->isPaused());
  QVERIFY(!CircularDisplayTimer::instance()->isActive());
}

void TestMainWindow::deviceArrivalAndRemoval() {
  m_window = std::make_unique<TrayDesktopWindow>();
  auto* thread = m_window->findChild<SendHIDDataThread*>();
  QCOMPARE(table()->rowCount(), 0);

  writeDevices({"/dev/hidraw-sim7 hw=2.0 fw=1.3 uuid=1A2B3C4D5E6F7A8B9CADBECF"});
  QTRY_COMPARE_WITH_TIMEOUT(table()->rowCount(), 1, kHotplugTimeoutMs);
  QCOMPARE(table()->item(0, 0)->text(), QStringLiteral("1A2B3C4D5E6F7A8B9CADBECF"));
  QCOMPARE(table()->item(0, 1)->text(), QStringLiteral("2E3C"));
  QCOMPARE(table()->item(0, 2)->text(), QStringLiteral("A15"));
  QCOMPARE(table()->item(0, 3)->text(), QStringLiteral("2.0"));
  QCOMPARE(table()->item(0, 4)->text(), QStringLiteral("1.3"));
  QCOMPARE(table()->item(0, 5)->text(), QStringLiteral("/dev/hidraw-sim7"));
  QCOMPARE(trayDevices(), QStringList{"ZRT(1A2B3C4D5E6F7A8B9CADBECF)"});
  QVERIFY(!thread->isPaused());
  QVERIFY(CircularDisplayTimer::instance()->isActive());

  writeDevices({});
  QTRY_COMPARE_WITH_TIMEOUT(table()->rowCount(), 0, kHotplugTimeoutMs);
  QCOMPARE(trayDevices(), QStringList{"无"});
  QVERIFY(thread->isPaused());
  QVERIFY(!CircularDisplayTimer::instance()->isActive());
}

void TestMainWindow::devicesPresentAtStart() {
  // Listed in key order (the upper-case path), whatever the order they were found in.
  writeDevices({"/dev/hidraw-sim2 uuid=BBBBBBBBBBBBBBBBBBBBBBBB",
                "/dev/hidraw-sim1 uuid=AAAAAAAAAAAAAAAAAAAAAAAA",
                "/dev/hidraw-sim3 pid=0A16 uuid=CCCCCCCCCCCCCCCCCCCCCCCC"});
  m_window = std::make_unique<TrayDesktopWindow>();
  // Recognised beside the event loop, one refresh per device found.
  QTRY_COMPARE_WITH_TIMEOUT(table()->rowCount(), 2, kHotplugTimeoutMs);
  QCOMPARE(table()->item(0, 5)->text(), QStringLiteral("/dev/hidraw-sim1"));
  QCOMPARE(table()->item(1, 5)->text(), QStringLiteral("/dev/hidraw-sim2"));
  QCOMPARE(trayDevices(),
           (QStringList{"ZRT(AAAAAAAAAAAAAAAAAAAAAAAA)", "ZRT(BBBBBBBBBBBBBBBBBBBBBBBB)"}));
  QVERIFY(!m_window->findChild<SendHIDDataThread*>()->isPaused());
  QVERIFY(CircularDisplayTimer::instance()->isActive());
}

void TestMainWindow::aboutShowsTheFirstDevice() {
  writeDevices({"/dev/hidraw-sim9 hw=3.1 fw=4.2", "/dev/hidraw-sim4 hw=2.0 fw=1.7"});
  m_window = std::make_unique<TrayDesktopWindow>();
  QTRY_COMPARE_WITH_TIMEOUT(table()->rowCount(), 2, kHotplugTimeoutMs);

  QString hardware, firmware;
  whenModalOpens([&](QWidget* modal) {
    hardware = modal->findChild<QLabel*>("lbl_hardware_vv")->text();
    firmware = modal->findChild<QLabel*>("lbl_firmware_vv")->text();
    modal->close();
  });
  m_window->onAbout();
  QCOMPARE(hardware, QStringLiteral("V2.0"));
  QCOMPARE(firmware, QStringLiteral("V1.7"));

  // Later requests show the same dialog without a modal loop, with the current device.
  auto* about = m_window->findChild<CAboutDlg*>();
  QVERIFY(about && !about->isVisible());
  writeDevices({});
  QTRY_COMPARE_WITH_TIMEOUT(table()->rowCount(), 0, kHotplugTimeoutMs);
  m_window->onAbout();
  QVERIFY(about->isVisible());
  QCOMPARE(m_window->findChildren<CAboutDlg*>().size(), 1);
  QCOMPARE(about->findChild<QLabel*>("lbl_hardware_vv")->text(), QStringLiteral("--"));
  QCOMPARE(about->findChild<QLabel*>("lbl_software_vv")->text(), COMMON::kProgramVersion);
}

void TestMainWindow::trayDoubleClickOpensSettings() {
  m_window = std::make_unique<TrayDesktopWindow>();
  auto* tray = m_window->findChild<QSystemTrayIcon*>();
  auto* dialog = m_window->findChild<CSettingDlg*>();
  emit tray->activated(QSystemTrayIcon::Trigger);
  emit tray->activated(QSystemTrayIcon::Context);
  QVERIFY(!dialog->isVisible());
  emit tray->activated(QSystemTrayIcon::DoubleClick);
  QVERIFY(dialog->isVisible());
  QVERIFY(!m_window->isVisible());
  // The tray menu's settings entry leads to the same dialog.
  dialog->hide();
  emit qobject_cast<TrayIconMenu*>(tray->contextMenu())->sigSetting();
  QVERIFY(dialog->isVisible());
}

void TestMainWindow::closeHidesWhileTheTrayIconIsVisible() {
  m_window = std::make_unique<TrayDesktopWindow>();
  bool closed = true;
  QVERIFY(!endsTheProgram([&]() {
    m_window->show();
    closed = m_window->close();
  }));
  QVERIFY(!closed);
  QVERIFY(!m_window->isVisible());

  // Without a notification area a hidden window could not be reached again: close quits.
  m_window->trayAvailable = false;
  QVERIFY(endsTheProgram([&]() {
    m_window->show();
    m_window->close();
  }));
}

void TestMainWindow::quitAsksAndEndsOnlyOnConfirm() {
  m_window = std::make_unique<TrayDesktopWindow>();
  auto* tray = m_window->findChild<QSystemTrayIcon*>();
  auto* menu = qobject_cast<TrayIconMenu*>(tray->contextMenu());

  ScopedAnswerer answerer(QMessageBox::Cancel);
  QVERIFY(!endsTheProgram([menu]() { emit menu->sigClose(); }));
  QCOMPARE(answerer.boxes.size(), 1);
  QCOMPARE(answerer.boxes[0].title, QStringLiteral("温馨提示"));
  QCOMPARE(answerer.boxes[0].text, QStringLiteral("您确认要退出程序？"));
  QCOMPARE(answerer.boxes[0].icon, QMessageBox::Question);
  QCOMPARE(answerer.boxes[0].parent, m_window.get());
  QVERIFY(tray->isVisible());

  // Confirmed while the window is hidden: the icon goes and the program ends.
  answerer.setAnswer(QMessageBox::Ok);
  QVERIFY(!m_window->isVisible());
  QVERIFY(endsTheProgram([menu]() { emit menu->sigClose(); }));
  QVERIFY(!tray->isVisible());
}

void TestMainWindow::updateDialogThroughTheFactory() {
  // Without a factory the tray's update entry does nothing.
  m_window = std::make_unique<TrayDesktopWindow>();
  m_window->onCheckUpdate();
  m_window.reset();

  FakeUpgradeDialog* created = nullptr;
  MainWindow::setUpgradeDialogFactory([&created](QWidget* parent) {
    created = new FakeUpgradeDialog(parent);
    return created;
  });
  m_window = std::make_unique<TrayDesktopWindow>();
  QVERIFY(created);
  QCOMPARE(created->parent, m_window.get());
  QCOMPARE(created->calls, QVector<bool>{true});
  auto* tray = m_window->findChild<QSystemTrayIcon*>();
  emit qobject_cast<TrayIconMenu*>(tray->contextMenu())->sigCheckUpdate();
  QCOMPARE(created->calls, (QVector<bool>{true, false}));
  QCOMPARE(FakeUpgradeDialog::alive, 1);
  m_window.reset();
  QCOMPARE(FakeUpgradeDialog::alive, 0);
}

void TestMainWindow::withoutNotificationAreaTheWindowShows() {
  m_window = std::make_unique<TrayDesktopWindow>();
  m_window->hide();
  m_window->ensureReachable(true);
  QVERIFY(!m_window->isVisible());  // a desktop with an area: only the icon
  m_window.reset();

  m_window = std::make_unique<TrayDesktopWindow>();
  m_window->trayAvailable = false;
  m_window->hide();
  m_window->ensureReachable(false);
  QVERIFY(m_window->isVisible());
}

void TestMainWindow::toolTipTellsTheValues() {
  m_window = std::make_unique<TrayDesktopWindow>();
  auto* tray = m_window->findChild<QSystemTrayIcon*>();
  QVERIFY(tray->toolTip().startsWith(QStringLiteral("设备检测软件 - 监测中")));
  m_window->onReadHardwareInfo(sample("45", "12", "--", "17", "1065"));
  QCOMPARE(tray->toolTip(), QStringLiteral("设备检测软件 - 监测中\nCPU温度: 45℃\nCPU使用率: 12%\n"
                                           "GPU温度: --\nGPU使用率: 17%\n风扇转速: 1065RPM"));
  m_window->onSettingInfoChanged(COMMON::kKeyTemperatureUnit, QStringLiteral("1"));
  QVERIFY2(tray->toolTip().contains(QStringLiteral("CPU温度: 113℉\n")),
           qPrintable(tray->toolTip()));
  QVERIFY(tray->toolTip().contains(QStringLiteral("GPU温度: --\n")));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
