#include "alarmnotifier.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSystemTrayIcon>
#include <optional>

#include "constants.h"
#include "settings.h"
#include "valuenames.h"

QList<AlarmTracker::Notice> AlarmTracker::update(const COMMON::HardwareInfo& sample,
                                                 const AlarmThresholds& thresholds, qint64 nowMs) {
  struct Reading {
    Item item;
    const QString& text;
    int threshold;
    bool below;
  };
  const Reading readings[] = {
      {CpuTemperature, sample.strCPUTemperature, thresholds.temperature, false},
      {CpuUsage, sample.strCPUUsageRate, thresholds.usage, false},
      {GpuTemperature, sample.strGPUTemperature, thresholds.temperature, false},
      {GpuUsage, sample.strGPUUsageRate, thresholds.usage, false},
      {FanRpm, sample.strFanRpm, thresholds.fanRpm, true},
  };
  QList<Notice> notices;
  for (const Reading& reading : readings) {
    const std::optional<int> value = valuenames::reading(reading.text);
    const bool alarm =
        value && (reading.below ? *value <= reading.threshold : *value >= reading.threshold);
    const bool rising = alarm && !m_inAlarm[reading.item];
    m_inAlarm[reading.item] = alarm;
    if (!rising) continue;
    if (m_noticed[reading.item] && nowMs - m_lastNotice[reading.item] < kQuietMs) continue;
    m_noticed[reading.item] = true;
    m_lastNotice[reading.item] = nowMs;
    notices.append({reading.item, *value, reading.threshold});
  }
  return notices;
}

AlarmNotifier::AlarmNotifier(QSystemTrayIcon* tray, QObject* parent)
    : QObject(parent), m_tray(tray) {
  m_thresholds.temperature = COMMON::readIntSetting(COMMON::kKeyTemperatureAlarm);
  m_thresholds.usage = COMMON::readIntSetting(COMMON::kKeyUsageRateAlarm);
  m_thresholds.fanRpm = COMMON::readIntSetting(COMMON::kKeyFanRpmAlarm);
  m_enabled = COMMON::readIntSetting(COMMON::kKeyAlarmNotifications) != 0;
  m_temperatureUnit = COMMON::readIntSetting(COMMON::kKeyTemperatureUnit);
  auto started = std::make_shared<QElapsedTimer>();
  started->start();
  m_clock = [started]() { return started->elapsed(); };
}

void AlarmNotifier::onSettingInfoChanged(QString strSettingName, QString strSettingValue) {
  const int value = COMMON::clampSetting(strSettingName, strSettingValue.toInt());
  if (strSettingName == COMMON::kKeyTemperatureAlarm)
    m_thresholds.temperature = value;
  else if (strSettingName == COMMON::kKeyUsageRateAlarm)
    m_thresholds.usage = value;
  else if (strSettingName == COMMON::kKeyFanRpmAlarm)
    m_thresholds.fanRpm = value;
  else if (strSettingName == COMMON::kKeyAlarmNotifications)
    m_enabled = value != 0;
  else if (strSettingName == COMMON::kKeyTemperatureUnit)
    m_temperatureUnit = value;
}

void AlarmNotifier::onReadHardwareInfo(COMMON::HardwareInfo hardwareInfo) {
  // Tracked while turned off too, so that turning it on does not report an alarm that
  // began long ago as new.
  const QList<AlarmTracker::Notice> notices =
      m_tracker.update(hardwareInfo, m_thresholds, m_clock());
  if (!m_enabled) return;
  for (const AlarmTracker::Notice& notice : notices) announce(notice);
}

void AlarmNotifier::announce(const AlarmTracker::Notice& notice) {
  QString name, value, threshold;
  auto temperature = [this](int celsius) {
    return valuenames::temperatureText(celsius, m_temperatureUnit);
  };
  switch (notice.item) {
    case AlarmTracker::CpuTemperature:
    case AlarmTracker::GpuTemperature:
      name = valuenames::name(notice.item == AlarmTracker::CpuTemperature
                                  ? valuenames::CpuTemperature
                                  : valuenames::GpuTemperature);
      value = temperature(notice.value);
      threshold = temperature(notice.threshold);
      break;
    case AlarmTracker::CpuUsage:
    case AlarmTracker::GpuUsage:
      name = valuenames::name(notice.item == AlarmTracker::CpuUsage ? valuenames::CpuUsage
                                                                    : valuenames::GpuUsage);
      value = QString::number(notice.value) + QStringLiteral("%");
      threshold = QString::number(notice.threshold) + QStringLiteral("%");
      break;
    case AlarmTracker::FanRpm:
    case AlarmTracker::ItemCount:
      name = valuenames::name(valuenames::FanRpm);
      value = QString::number(notice.value) + valuenames::rpmUnit();
      threshold = QString::number(notice.threshold) + valuenames::rpmUnit();
      break;
  }
  const QString title = tr("报警：%1").arg(name);
  const QString body = tr("%1为%2，报警阈值%3。").arg(name, value, threshold);
  QPointer<QSystemTrayIcon> tray(m_tray);
  ui::platform::sendDesktopNotification(title, body, [tray, title, body]() {
    if (tray && tray->isVisible() && QSystemTrayIcon::isSystemTrayAvailable())
      tray->showMessage(title, body, QSystemTrayIcon::Warning);
  });
}
