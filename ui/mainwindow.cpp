#include "mainwindow.h"

#include <QCloseEvent>
#include <QFile>
#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QTableWidgetItem>
#include <QTimer>

#include <utility>

#include "alarmnotifier.h"
#include "caboutdlg.h"
#include "circulardisplaytimer.h"
#include "constants.h"
#include "csettingdlg.h"
#include "hardwareinforeader.h"
#include "hidrecognizer.h"
#include "historypane.h"
#include "hotplug.h"
#include "messageboxshow.h"
#include "rslogger.h"
#include "sendhiddatathread.h"
#include "settings.h"
#include "settingswatcher.h"
#include "ui_mainwindow.h"
#include "uiresources.h"
#include "valuenames.h"

namespace {
MainWindow::UpgradeDialogFactory& upgradeDialogFactory() {
  static MainWindow::UpgradeDialogFactory factory;
  return factory;
}

const QString kStyleSheetPath = QStringLiteral(":/Resource/QssConfig/Application.qss");
// How often a desktop that started without a notification area is asked again.
constexpr int kTrayWaitMs = 5000;

// A line edit lays its text out again and repaints on every setText, an unchanged text
// included, and most readings are the same from one pass to the next.
void showText(QLineEdit* edit, const QString& text) {
  if (edit->text() != text) edit->setText(text);
}
}  // namespace

void MainWindow::setUpgradeDialogFactory(UpgradeDialogFactory factory) {
  upgradeDialogFactory() = std::move(factory);
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::MainWindow) {
  initUiResources();
  ui->setupUi(this);

  setMinimumSize(960, 580);
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(tr("设备监测软件") + QStringLiteral("（") + COMMON::kProgramVersion +
                 QStringLiteral("）"));
  setWindowIcon(QIcon(QStringLiteral(":/Resource/favicon.ico")));
  ui->tableWidget_HIDDevicesTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Identifiers and versions stay readable in full; the path takes the remaining width.
  for (int column = 0; column < 5; ++column) {
    ui->tableWidget_HIDDevicesTable->horizontalHeader()->setSectionResizeMode(
        column, QHeaderView::ResizeToContents);
  }
  m_nTemperatureUnit =
      COMMON::readSetting(COMMON::kKeyTemperatureUnit, COMMON::kDefaultTemperatureUnit).toInt();

  // The recent history, between the values and the device table.
  m_pHistoryPane = new HistoryPane(this);
  ui->verticalLayout_2->insertWidget(1, m_pHistoryPane);
  ui->verticalLayout_2->setStretch(0, 3);
  ui->verticalLayout_2->setStretch(1, 5);
  ui->verticalLayout_2->setStretch(2, 4);

  loadAppStyleSheet();

  m_pTrayIcon = new QSystemTrayIcon(this);
  m_trayIconMenu.initMenu(false);
  m_pTrayIcon->setContextMenu(&m_trayIconMenu);
  m_pTrayIcon->setIcon(QIcon(QStringLiteral(":/Resource/favicon.ico")));
  m_pTrayIcon->setToolTip(tr("设备检测软件 - 监测中"));
  m_pTrayIcon->setVisible(true);
  connect(m_pTrayIcon, &QSystemTrayIcon::activated, this, &MainWindow::onTrayIconActived);
  connect(&m_trayIconMenu, &TrayIconMenu::sigSetting, this, &MainWindow::onSetting);
  connect(&m_trayIconMenu, &TrayIconMenu::sigCheckUpdate, this, &MainWindow::onCheckUpdate);
  connect(&m_trayIconMenu, &TrayIconMenu::sigAbout, this, &MainWindow::onAbout);
  connect(&m_trayIconMenu, &TrayIconMenu::sigClose, this, &MainWindow::onQuitApplication);

  m_pAlarmNotifier = new AlarmNotifier(m_pTrayIcon, this);

  HardwareInfoReader* reader = HardwareInfoReader::instance().data();
  connect(reader, &HardwareInfoReader::signalsGetHardwareInfo, this,
          &MainWindow::onReadHardwareInfo);
  connect(reader, &HardwareInfoReader::signalsGetHardwareInfo, m_pAlarmNotifier,
          &AlarmNotifier::onReadHardwareInfo);
  connect(reader, &HardwareInfoReader::signalsGetHardwareInfo, m_pHistoryPane,
          &HistoryPane::onReadHardwareInfo);
  reader->start(1500);

  CircularDisplayTimer::instance()->start();

  m_pSendHIDDataThread = new SendHIDDataThread(this);
  connect(reader, &HardwareInfoReader::signalsGetHardwareInfo, m_pSendHIDDataThread,
          &SendHIDDataThread::onSetHardwareData);
  m_pSendHIDDataThread->start(QThread::InheritPriority);

  // Device arrival and removal: the native event hook on Windows, the hot-plug source
  // elsewhere. The source starts before the scan so that nothing plugged in meanwhile is
  // missed; a device seen by both is simply recognised twice. The identify exchanges run
  // on workers and their results come back here one by one.
  m_hidDevicesManager.registerNotify(static_cast<quintptr>(winId()));
  m_pRecognizer = new HIDRecognizer(this);
  connect(m_pRecognizer, &HIDRecognizer::identified, this, &MainWindow::onDeviceIdentified);
  m_pHotplugMonitor = new HIDHotplugMonitor(this);
  connect(m_pHotplugMonitor, &HIDHotplugMonitor::deviceArrived, this,
          &MainWindow::onHotplugArrived);
  connect(m_pHotplugMonitor, &HIDHotplugMonitor::deviceRemoved, this,
          &MainWindow::onHotplugRemoved);
  m_pHotplugMonitor->start();
  m_pRecognizer->scanDevices();

  refreshDeviceList();

  if (const UpgradeDialogFactory& factory = upgradeDialogFactory()) {
    m_pUpgradeDialog = factory(this);
    if (m_pUpgradeDialog) m_pUpgradeDialog->startCheckUpdate(true);
  }

  m_pSettingDlg = new CSettingDlg(this);
  connectSettingDialog(m_pSettingDlg);

  // A hand edit of the settings file reaches the same receivers as a dialog change.
  m_pSettingsWatcher = new SettingsWatcher(this);
  connectSettingSource(m_pSettingsWatcher);
  connect(m_pSettingsWatcher, &SettingsWatcher::settingInfoChanged, m_pSettingDlg,
          &CSettingDlg::onSettingInfoChanged);
  connect(m_pSettingDlg, &CSettingDlg::settingInfoChanged, m_pSettingsWatcher,
          &SettingsWatcher::noteAnnounced);
}

void MainWindow::ensureReachable(bool notificationArea) {
  if (notificationArea) return;
  RSLogger::instance()->writeLog(
      RSLogger::LevelInfo,
      QStringLiteral("The desktop has no notification area: the main window stays open."),
      "MainWindow::ensureReachable");
  showNormal();
  if (m_pTrayWait) return;
  m_pTrayWait = new QTimer(this);
  connect(m_pTrayWait, &QTimer::timeout, this, [this]() {
    if (!systemTrayAvailable()) return;
    m_pTrayWait->stop();
    RSLogger::instance()->writeLog(
        RSLogger::LevelInfo,
        QStringLiteral("A notification area appeared: the tray icon is in it."),
        "MainWindow::ensureReachable");
  });
  m_pTrayWait->start(kTrayWaitMs);
}

MainWindow::~MainWindow() {
  delete ui;
  delete m_pUpgradeDialog;
  delete m_pSettingDlg;
}

void MainWindow::loadAppStyleSheet() {
  QFile file(kStyleSheetPath);
  if (!file.open(QIODevice::ReadOnly)) {
    RSLogger::instance()->writeLog(
        RSLogger::LevelError,
        QStringLiteral("Load application stylesheet file failed.  (%1)").arg(kStyleSheetPath),
        "MainWindow::LoadAppStyleSheet");
    return;
  }
  setStyleSheet(QString::fromUtf8(file.readAll()));
  file.close();
}

// Everything that acts on a setting at once hears each source of changes: the dialog,
// and the watch on the settings file.
template <typename Source>
void MainWindow::connectSettingSource(Source* source) {
  connect(source, &Source::settingInfoChanged, this, &MainWindow::onSettingInfoChanged);
  connect(source, &Source::settingInfoChanged, m_pSendHIDDataThread,
          &SendHIDDataThread::onSettingValueChanged);
  connect(source, &Source::settingInfoChanged, m_pAlarmNotifier,
          &AlarmNotifier::onSettingInfoChanged);
  connect(source, &Source::settingInfoChanged, m_pHistoryPane, &HistoryPane::onSettingInfoChanged);
}

void MainWindow::connectSettingDialog(CSettingDlg* dialog) { connectSettingSource(dialog); }

// The fixed title, then the five values in the chosen unit, so that a glance at the
// notification area tells them.
void MainWindow::updateToolTip() {
  if (m_lastSample.strCPUTemperature.isEmpty()) return;  // no sample yet
  auto temperature = [this](const QString& text) {
    const std::optional<int> celsius = valuenames::reading(text);
    return celsius ? valuenames::temperatureText(*celsius, m_nTemperatureUnit) : text;
  };
  const std::pair<valuenames::Value, QString> values[] = {
      {valuenames::CpuTemperature, temperature(m_lastSample.strCPUTemperature)},
      {valuenames::CpuUsage, m_lastSample.strCPUUsageRate + QStringLiteral("%")},
      {valuenames::GpuTemperature, temperature(m_lastSample.strGPUTemperature)},
      {valuenames::GpuUsage, m_lastSample.strGPUUsageRate + QStringLiteral("%")},
      {valuenames::FanRpm, m_lastSample.strFanRpm + valuenames::rpmUnit()}};
  QString toolTip = tr("设备检测软件 - 监测中");
  for (const auto& [value, text] : values)
    toolTip += QLatin1Char('\n') + valuenames::name(value) + QStringLiteral(": ") + text;
  // Each change goes out to the notification area (a bus message on some desktops).
  if (m_pTrayIcon->toolTip() != toolTip) m_pTrayIcon->setToolTip(toolTip);
}

int MainWindow::celsiusToFahrenheit(int celsius) { return hidreport::toFahrenheit(celsius); }

QString MainWindow::trayEntryFor(const HIDDeviceInfo& device) {
  if (device.vid != COMMON::kDeviceVendorId || device.pid != COMMON::kDeviceProductId) {
    return QString();
  }
  return QStringLiteral("%1(%2)").arg(COMMON::kProductLineCode, device.uuid);
}

void MainWindow::onReadHardwareInfo(COMMON::HardwareInfo hardwareInfo) {
  m_nCPUTemperature = hardwareInfo.strCPUTemperature.toInt();
  m_nCPUUsageRate = hardwareInfo.strCPUUsageRate.toInt();
  m_nGPUTemperature = hardwareInfo.strGPUTemperature.toInt();
  m_nGPUUsageRate = hardwareInfo.strGPUUsageRate.toInt();
  m_nFanRpm = hardwareInfo.strFanRpm.toInt();

  if (m_nTemperatureUnit != 0) {
    const QString fahrenheit = QStringLiteral("℉");
    showText(ui->lineEdit_CPUTemperature,
             QString::number(celsiusToFahrenheit(m_nCPUTemperature)) + fahrenheit);
    showText(ui->lineEdit_GPUTemperature,
             QString::number(celsiusToFahrenheit(m_nGPUTemperature)) + fahrenheit);
  } else {
    const QString celsius = QStringLiteral("℃");
    showText(ui->lineEdit_CPUTemperature, hardwareInfo.strCPUTemperature + celsius);
    showText(ui->lineEdit_GPUTemperature, hardwareInfo.strGPUTemperature + celsius);
  }
  showText(ui->lineEdit_CPUUsageRate, hardwareInfo.strCPUUsageRate + QStringLiteral("%"));
  showText(ui->lineEdit_GPUUsageRate, hardwareInfo.strGPUUsageRate + QStringLiteral("%"));
  showText(ui->lineEdit_FanRpm, hardwareInfo.strFanRpm + tr("RPM"));
  m_lastSample = hardwareInfo;
  updateToolTip();
}

void MainWindow::onQuitApplication() {
  MessageBoxShow box(this, QMessageBox::Question);
  if (box.question(tr("温馨提示"), tr("您确认要退出程序？")) == QMessageBox::Ok) {
    m_pTrayIcon->hide();
    close();
  }
}

void MainWindow::onTrayIconActived(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::DoubleClick) onSetting();
}

void MainWindow::onCheckUpdate() {
  if (m_pUpgradeDialog) m_pUpgradeDialog->startCheckUpdate(false);
}

void MainWindow::onAbout() {
  const HIDDeviceTable devices = m_hidDevicesManager.devices();
  const HIDDeviceInfo* first = devices.isEmpty() ? nullptr : &devices.first();
  if (m_pAboutDlg) {
    m_pAboutDlg->setDeviceInfo(first);
    m_pAboutDlg->showNormal();
    m_pAboutDlg->activateWindow();
    return;
  }
  m_pAboutDlg = new CAboutDlg(this);
  m_pAboutDlg->setDeviceInfo(first);
  m_pAboutDlg->exec();
}

void MainWindow::onSetting() {
  if (m_pSettingDlg) {
    m_pSettingDlg->showNormal();
    m_pSettingDlg->activateWindow();
    return;
  }
  CSettingDlg dialog(this);
  connectSettingDialog(&dialog);
  dialog.exec();
  dialog.disconnect(this);
  dialog.disconnect(m_pSendHIDDataThread);
}

void MainWindow::onSettingInfoChanged(QString strSettingName, QString strSettingValue) {
  const int value = COMMON::clampSetting(strSettingName, strSettingValue.toInt(nullptr, 10));
  const auto rotation = CircularDisplayTimer::instance();
  const auto toggle = [&rotation, value](quint8 item) {
    if (value == 0) {
      rotation->removeItem(item);
    } else {
      rotation->addItem(item);
    }
  };
  if (strSettingName == COMMON::kKeyChangeInterval) {
    rotation->setInterval(value);
  } else if (strSettingName == COMMON::kKeyTemperatureUnit) {
    m_nTemperatureUnit = value;
    updateToolTip();
  } else if (strSettingName == COMMON::kKeyDisplayCpuTemperature) {
    toggle(hidreport::CPU_TEMPERATURE);
  } else if (strSettingName == COMMON::kKeyDisplayGpuTemperature) {
    toggle(hidreport::GPU_TEMPERATURE);
  } else if (strSettingName == COMMON::kKeyDisplayFanRpm) {
    toggle(hidreport::FAN_RPM);
  }
}

void MainWindow::refreshDeviceList() {
  const auto rotation = CircularDisplayTimer::instance();
  if (!m_hidDevicesManager.devices().isEmpty()) {
    if (!rotation->isActive()) rotation->start();
    if (m_pSendHIDDataThread->isRunning()) m_pSendHIDDataThread->resumeSending();
  } else {
    if (m_pSendHIDDataThread->isRunning()) m_pSendHIDDataThread->pauseSending();
    if (rotation->isActive()) rotation->stop();
  }
  m_pSendHIDDataThread->setDevices(m_hidDevicesManager.devices());
  showDeviceTable();
}

void MainWindow::showDeviceTable() {
  QTableWidget* table = ui->tableWidget_HIDDevicesTable;
  table->clearContents();
  table->setRowCount(0);

  QStringList trayEntries;
  const HIDDeviceTable devices = m_hidDevicesManager.devices();
  int row = 0;
  for (const HIDDeviceInfo& device : devices) {
    table->insertRow(row);
    // Linux device paths are case-sensitive: show the one that names the real node.
    const QString shownPath = device.nodePath();
    const QString cells[] = {
        device.uuid, device.vid, device.pid, device.hardwareVersion, device.firmwareVersion,
        shownPath};
    for (int column = 0; column < 6; ++column) {
      table->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    const QString entry = trayEntryFor(device);
    if (!entry.isEmpty()) trayEntries.append(entry);
    ++row;
  }
  m_trayIconMenu.updateDeviceMenu(trayEntries);
}

void MainWindow::onHotplugArrived(const QString& path, ushort vendorId, ushort productId) {
  m_pRecognizer->recognize(path, vendorId, productId);
}

void MainWindow::onDeviceIdentified(const HIDIdentifyResult& result) {
  const int before = m_hidDevicesManager.devices().size();
  m_hidDevicesManager.applyIdentifyResult(result);
  if (m_hidDevicesManager.devices().size() != before) refreshDeviceList();
}

void MainWindow::onHotplugRemoved(const QString& path) {
  m_pRecognizer->forget(path);
  const int before = m_hidDevicesManager.devices().size();
  m_hidDevicesManager.handleRemoval(path);
  if (m_hidDevicesManager.devices().size() != before) refreshDeviceList();
}

bool MainWindow::nativeEvent(const QByteArray& eventType, void* message, long* result) {
  const int before = m_hidDevicesManager.devices().size();
  const bool handled = m_hidDevicesManager.handleDeviceChange(eventType, message, result);
  if (m_hidDevicesManager.devices().size() != before) refreshDeviceList();
  return handled;
}

bool MainWindow::systemTrayAvailable() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

void MainWindow::closeEvent(QCloseEvent* event) {
  if (m_pTrayIcon->isVisible() && systemTrayAvailable()) {
    hide();
    event->ignore();
    return;
  }
  event->accept();
}
