// The root of the running program: creates and wires the sampler, the display rotation,
// the HID sending thread, the device manager, the update and settings dialogs and the
// tray icon; shows the latest sample and the recognised display devices.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QSystemTrayIcon>

#include <functional>

#include "hardwareinfo.h"
#include "hiddevicesmanager.h"
#include "trayiconmenu.h"
#include "upgradedialoginterface.h"

class AlarmNotifier;
class HistoryPane;
class CAboutDlg;
class CSettingDlg;
class QTimer;
class SettingsWatcher;
class HIDHotplugMonitor;
class HIDRecognizer;
class SendHIDDataThread;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Builds the update dialog (a child of `parent`, deleted by the window). The entry point
  // installs it before creating the window; without one the window runs without update
  // checks.
  using UpgradeDialogFactory = std::function<UpgradeDialogInterface*(QWidget* parent)>;
  static void setUpgradeDialogFactory(UpgradeDialogFactory factory);

  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // Pauses or resumes sending and the rotation to match the device table, hands the
  // sending thread a copy of the table and refills the table view and the tray list.
  void refreshDeviceList();
  void showDeviceTable();
  // How many display devices are recognised.
  int displayCount() const { return m_hidDevicesManager.devices().size(); }

  // Where the desktop had no notification area at start (`notificationArea`, asked before
  // the window registered its icon), the window shows at once and one log line says why,
  // since nothing else would lead to the program; Qt docks the icon when an area appears,
  // and the log says so. The entry point calls it after hiding the window.
  void ensureReachable(bool notificationArea);

  // c * 9 / 5 + 32 in integers, truncating toward zero.
  static int celsiusToFahrenheit(int celsius);
  // The label of a display device in the tray list, or empty for other devices.
  static QString trayEntryFor(const HIDDeviceInfo& device);

 public slots:
  void onReadHardwareInfo(COMMON::HardwareInfo hardwareInfo);
  void onQuitApplication();
  void onTrayIconActived(QSystemTrayIcon::ActivationReason reason);
  void onCheckUpdate();
  void onAbout();
  void onSetting();
  void onSettingInfoChanged(QString strSettingName, QString strSettingValue);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;
  // Whether the desktop shows notification-area icons; without one, hiding the window on
  // close would leave no way back to the program.
  virtual bool systemTrayAvailable() const;

 private:
  void onHotplugArrived(const QString& path, ushort vendorId, ushort productId);
  void onHotplugRemoved(const QString& path);
  void onDeviceIdentified(const HIDIdentifyResult& result);
  void loadAppStyleSheet();
  void connectSettingDialog(CSettingDlg* dialog);
  template <typename Source>
  void connectSettingSource(Source* source);
  void updateToolTip();

  Ui::MainWindow* ui;
  CSettingDlg* m_pSettingDlg = nullptr;
  CAboutDlg* m_pAboutDlg = nullptr;
  UpgradeDialogInterface* m_pUpgradeDialog = nullptr;
  TrayIconMenu m_trayIconMenu;
  QSystemTrayIcon* m_pTrayIcon = nullptr;
  int m_nCPUTemperature = 0;
  int m_nCPUUsageRate = 0;
  int m_nGPUTemperature = 0;
  int m_nGPUUsageRate = 0;
  int m_nFanRpm = 0;
  int m_nTemperatureUnit = 0;
  SendHIDDataThread* m_pSendHIDDataThread = nullptr;
  HIDDevicesManager m_hidDevicesManager;
  HIDHotplugMonitor* m_pHotplugMonitor = nullptr;
  AlarmNotifier* m_pAlarmNotifier = nullptr;
  HistoryPane* m_pHistoryPane = nullptr;
  SettingsWatcher* m_pSettingsWatcher = nullptr;
  QTimer* m_pTrayWait = nullptr;
  COMMON::HardwareInfo m_lastSample;
  HIDRecognizer* m_pRecognizer = nullptr;
};
