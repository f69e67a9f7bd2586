// Language, start with the desktop session, and temperature unit. Each choice is stored
// the moment it is made; the unit change is announced through settingInfoChanged.
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

 signals:
  void settingInfoChanged(QString strSettingName, QString strSettingValue);

 private slots:
  void on_cmb_language_activated(int index);
  void on_cmb_start_up_activated(int index);
  void on_cmb_temperature_unit_activated(int index);
  // The form offers no widgets for these yet; the handlers keep the store and the
  // announcement consistent for when it does.
  void on_spinBox_changeInterval_valueChanged(int nInterval);
  void on_spinBox_temp_alarm_valueChanged(int nTemperatureAlarm);
  void on_spinBox_usageRate_alarm_valueChanged(int nUsageRateAlarm);
  void on_spinBox_fanRpm_alarm_valueChanged(int nFanRpmAlarm);
  void on_checkBox_displayCPUTemp_stateChanged(int nValue);
  void on_checkBox_displayGPUTemp_stateChanged(int nValue);
  void on_checkBox_displayFanSpeed_stateChanged(int nValue);
  void on_btn_ok_clicked(bool checked);

 private:
  void storeAndAnnounce(const QString& key, int value);

  Ui::SettingDlg* ui;
  QWidget* m_pParent;
};
