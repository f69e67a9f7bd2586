#include "csettingdlg.h"

#include <QCoreApplication>
#include <QTranslator>

#include "constants.h"
#include "messageboxshow.h"
#include "settings.h"
#include "ui_settingdlg.h"

namespace {
// A stored index outside the box's items shows nothing selected rather than a wrong one.
void selectStoredIndex(QComboBox* box, int index) {
  box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}
}  // namespace

CSettingDlg::CSettingDlg(QWidget* parent) : QDialog(parent), ui(new Ui::SettingDlg) {
  ui->setupUi(this);
  setMinimumSize(400, 200);
  setAttribute(Qt::WA_QuitOnClose, false);
  setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);

  selectStoredIndex(ui->cmb_language,
                    COMMON::readSetting(COMMON::kKeyLanguage, COMMON::kDefaultLanguage).toInt());

  const int startup = COMMON::readSetting(COMMON::kKeyStartup, COMMON::kDefaultStartup).toInt();
  selectStoredIndex(ui->cmb_start_up, startup);
  COMMON::writeSetting(COMMON::kKeyStartup, startup);
  COMMON::applyAutoStart(startup);

  selectStoredIndex(
      ui->cmb_temperature_unit,
      COMMON::readSetting(COMMON::kKeyTemperatureUnit, COMMON::kDefaultTemperatureUnit).toInt());

  // Values out of range (a hand edit) show clamped; they are stored only when changed.
  for (const QString& key : COMMON::rangedSettingKeys())
    if (key != COMMON::kKeyTemperatureUnit) showSetting(key, COMMON::readIntSetting(key));
}

void CSettingDlg::showSetting(const QString& key, int value) {
  auto check = [value](QCheckBox* box) {
    const QSignalBlocker blocker(box);
    box->setChecked(value != 0);
  };
  auto spin = [](QSpinBox* box, int shown) {
    const QSignalBlocker blocker(box);
    box->setValue(shown);
  };
  if (key == COMMON::kKeyTemperatureUnit) {
    const QSignalBlocker blocker(ui->cmb_temperature_unit);
    selectStoredIndex(ui->cmb_temperature_unit, value);
  } else if (key == COMMON::kKeyChangeInterval) {
    spin(ui->spinBox_changeInterval, (value + 500) / 1000);
  } else if (key == COMMON::kKeyTemperatureAlarm) {
    spin(ui->spinBox_temp_alarm, value);
  } else if (key == COMMON::kKeyUsageRateAlarm) {
    spin(ui->spinBox_usageRate_alarm, value);
  } else if (key == COMMON::kKeyFanRpmAlarm) {
    spin(ui->spinBox_fanRpm_alarm, value);
  } else if (key == COMMON::kKeyDisplayCpuTemperature) {
    check(ui->checkBox_displayCPUTemp);
  } else if (key == COMMON::kKeyDisplayGpuTemperature) {
    check(ui->checkBox_displayGPUTemp);
  } else if (key == COMMON::kKeyDisplayFanRpm) {
    check(ui->checkBox_displayFanSpeed);
  } else if (key == COMMON::kKeyAlarmNotifications) {
    check(ui->checkBox_alarmNotify);
  }
}

void CSettingDlg::onSettingInfoChanged(QString strSettingName, QString strSettingValue) {
  showSetting(strSettingName, strSettingValue.toInt());
}

CSettingDlg::~CSettingDlg() { delete ui; }

void CSettingDlg::storeAndAnnounce(const QString& key, int value) {
  value = COMMON::clampSetting(key, value);
  COMMON::writeSetting(key, QVariant(value));
  emit settingInfoChanged(key, QString::number(value, 10));
}

void CSettingDlg::on_cmb_language_activated(int index) {
  MessageBoxShow box(this, QMessageBox::Question);
  const int answer =
      box.question(tr("温馨提示"), tr("更改语言需要重新启动才能生效，是否确认更改？"));
  if (answer == QMessageBox::Ok) {
    // The new language shows in this dialog for the moment before the program ends;
    // it applies everywhere from the next start.
    QTranslator translator;
    if (translator.load(COMMON::translationFile(index))) {
      QCoreApplication::installTranslator(&translator);
      ui->retranslateUi(this);
      QCoreApplication::removeTranslator(&translator);
    }
    COMMON::writeSetting(COMMON::kKeyLanguage, index);
    QCoreApplication::quit();
    return;
  }
  selectStoredIndex(ui->cmb_language,
                    COMMON::readSetting(COMMON::kKeyLanguage, COMMON::kDefaultLanguage).toInt());
}

void CSettingDlg::on_cmb_start_up_activated(int index) {
  COMMON::writeSetting(COMMON::kKeyStartup, index);
  COMMON::applyAutoStart(index);
}

void CSettingDlg::on_cmb_temperature_unit_activated(int index) {
  storeAndAnnounce(COMMON::kKeyTemperatureUnit, index);
}

void CSettingDlg::on_spinBox_changeInterval_valueChanged(int nInterval) {
  storeAndAnnounce(COMMON::kKeyChangeInterval, nInterval * 1000);
}

void CSettingDlg::on_spinBox_temp_alarm_valueChanged(int nTemperatureAlarm) {
  storeAndAnnounce(COMMON::kKeyTemperatureAlarm, nTemperatureAlarm);
}

void CSettingDlg::on_spinBox_usageRate_alarm_valueChanged(int nUsageRateAlarm) {
  storeAndAnnounce(COMMON::kKeyUsageRateAlarm, nUsageRateAlarm);
}

void CSettingDlg::on_spinBox_fanRpm_alarm_valueChanged(int nFanRpmAlarm) {
  storeAndAnnounce(COMMON::kKeyFanRpmAlarm, nFanRpmAlarm);
}

void CSettingDlg::on_checkBox_displayCPUTemp_stateChanged(int nValue) {
  storeAndAnnounce(COMMON::kKeyDisplayCpuTemperature, nValue);
}

void CSettingDlg::on_checkBox_displayGPUTemp_stateChanged(int nValue) {
  storeAndAnnounce(COMMON::kKeyDisplayGpuTemperature, nValue);
}

void CSettingDlg::on_checkBox_displayFanSpeed_stateChanged(int nValue) {
  storeAndAnnounce(COMMON::kKeyDisplayFanRpm, nValue);
}

void CSettingDlg::on_checkBox_alarmNotify_stateChanged(int nValue) {
  storeAndAnnounce(COMMON::kKeyAlarmNotifications, nValue);
}

void CSettingDlg::on_btn_ok_clicked(bool checked) {
  Q_UNUSED(checked)
  hide();
}
