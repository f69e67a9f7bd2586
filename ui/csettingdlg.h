// Language, start with the desktop session, temperature unit, the display rotation
// (period and items) and the alarms (thresholds, desktop notifications). Each choice is
// stored the moment it is made; those that act at once are announced through
// settingInfoChanged.
#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class SettingDlg;
}

class CSettingDlg : public QDialog {
  Q_OBJECT

 public:
  // Also re-applies the stored start-up choice, so every start keeps the autostart entry
  // in line with the setting (and with where the program now lives).
  explicit CSettingDlg(QWidget* parent);
  ~CSettingDlg() override;

 public slots:
  // Shows a value changed elsewhere (a hand edit of the settings file) without
  // storing or announcing it again.
  void onSettingInfoChanged(QString strSettingName, QString strSettingValue);

 signals:
  void settingInfoChanged(QString strSettingName, QString strSettingValue);

 private slots:
  void on_cmb_language_activated(int index);
  void on_cmb_start_up_activated(int index);
  void on_cmb_temperature_unit_activated(int index);
  // The rotation period is shown in seconds and stored in milliseconds.
  void on_spinBox_changeInterval_valueChanged(int nInterval);
  void on_spinBox_temp_alarm_valueChanged(int nTemperatureAlarm);
  void on_spinBox_usageRate_alarm_valueChanged(int nUsageRateAlarm);
  void on_spinBox_fanRpm_alarm_valueChanged(int nFanRpmAlarm);
  void on_checkBox_displayCPUTemp_stateChanged(int nValue);
  void on_checkBox_displayGPUTemp_stateChanged(int nValue);
  void on_checkBox_displayFanSpeed_stateChanged(int nValue);
  void on_checkBox_alarmNotify_stateChanged(int nValue);
  void on_btn_ok_clicked(bool checked);

 private:
  void storeAndAnnounce(const QString& key, int value);
  // Puts a ranged setting's value into its widget, signals blocked.
  void showSetting(const QString& key, int value);

  Ui::SettingDlg* ui;
};
