// Tells the person at the computer when a value enters alarm: a desktop notification
// (or the tray icon's message where the desktop has no notification service) naming
// the value, the reading and the threshold, in the chosen language and unit.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <functional>

#include "hardwareinfo.h"

class QSystemTrayIcon;

struct AlarmThresholds {
  int temperature = 90;  // degrees Celsius, CPU and GPU
  int usage = 95;        // percent, CPU and GPU
  int fanRpm = 300;      // at or below
};

// Which values entered alarm with a sample. A value is in alarm at or above its
// threshold (the fan at or below); a missing value ("--") never is. Each item is
// announced on its rising edge, at most once per quiet period.
class AlarmTracker {
 public:
  enum Item { CpuTemperature, CpuUsage, GpuTemperature, GpuUsage, FanRpm, ItemCount };
  static constexpr qint64 kQuietMs = 5 * 60 * 1000;

  struct Notice {
    Item item;
    int value;      // as sampled (degrees Celsius, percent, rpm)
    int threshold;  // the same unit
  };
  QList<Notice> update(const COMMON::HardwareInfo& sample, const AlarmThresholds& thresholds,
                       qint64 nowMs);

 private:
  bool m_inAlarm[ItemCount] = {};
  qint64 m_lastNotice[ItemCount] = {};
  bool m_noticed[ItemCount] = {};
};

class AlarmNotifier : public QObject {
  Q_OBJECT

 public:
  // `tray` shows the message where no notification service answers; may be null.
  explicit AlarmNotifier(QSystemTrayIcon* tray, QObject* parent = nullptr);
  // Milliseconds of a monotonic clock; tests move it.
  void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

 public slots:
  void onReadHardwareInfo(COMMON::HardwareInfo hardwareInfo);
  void onSettingInfoChanged(QString strSettingName, QString strSettingValue);

 private:
  void announce(const AlarmTracker::Notice& notice);

  QSystemTrayIcon* m_tray;
  AlarmTracker m_tracker;
  AlarmThresholds m_thresholds;
  bool m_enabled = true;
  int m_temperatureUnit = 0;
  std::function<qint64()> m_clock;
};

namespace ui::platform {
// Hands one notification to the desktop's notification service without waiting for
// it; `fallback` runs when there is none or it refuses.
void sendDesktopNotification(const QString& title, const QString& body,
                             std::function<void()> fallback);
}  // namespace ui::platform
