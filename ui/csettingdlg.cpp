#include "csettingdlg.h"

#include <QCoreApplication>
#include <QTranslator>

#include <atomic>

#include "constants.h"
#include "messageboxshow.h"
#include "settings.h"
#include "ui_settingdlg.h"

namespace {
// The handlers of the settings that have no widget yet are bound by name like the
// others, so they work the moment the form gains their widgets. Until then Qt's binder
// would warn about each of them at every start; only those warnings are dropped.
std::atomic<QtMessageHandler> g_previousMessageHandler{nullptr};

void dropUnboundHandlerWarnings(QtMsgType type, const QMessageLogContext& context,
                                const QString& message) {
  static const char* const kUnbound[] = {
      "on_spinBox_changeInterval_valueChanged",  "on_spinBox_temp_alarm_valueChanged",
      "on_spinBox_usageRate_alarm_valueChanged", "on_spinBox_fanRpm_alarm_valueChanged",
      "on_checkBox_displayCPUTemp_stateChanged", "on_checkBox_displayGPUTemp_stateChanged",
      "on_checkBox_displayFanSpeed_stateChanged"};
  if (type == QtWarningMsg &&
      message.startsWith(QLatin1String("QMetaObject::connectSlotsByName: No matching signal"))) {
    for (const char* name : kUnbound) {
      if (message.contains(QLatin1String(name))) return;
    }
  }
  // A message from another thread in the instant before the previous handler is known
  // has nowhere to go.
  if (QtMessageHandler previous = g_previousMessageHandler.load()) {
    previous(type, context, message);
  }
}

// A stored index outside the box's items shows nothing selected rather than a wrong one.
void selectStoredIndex(QComboBox* box, int index) {
  box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}
}  // namespace

CSettingDlg::CSettingDlg(QWidget* parent)
    : QDialog(parent), ui(new Ui::SettingDlg), m_pParent(parent) {
  g_previousMessageHandler = qInstallMessageHandler(dropUnboundHandlerWarnings);
  ui->setupUi(this);
  qInstallMessageHandler(g_previousMessageHandler.exchange(nullptr));
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
}

CSettingDlg::~CSettingDlg() { delete ui; }

void CSettingDlg::storeAndAnnounce(const QString& key, int value) {
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
  storeAndAnnounce(COMMON::kKeyChangeInterval, nInterval);
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

void CSettingDlg::on_btn_ok_clicked(bool checked) {
  Q_UNUSED(checked)
  hide();
}
