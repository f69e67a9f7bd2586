#include "settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <vector>

#include "constants.h"

namespace COMMON {

namespace {
// A fresh store object per operation, so a write is visible to the next read at
// once and nothing lingers in memory.
class Store {
 public:
  Store() : m_settings(platform::settingsFilePath(), QSettings::NativeFormat) {
    m_settings.setIniCodec("UTF-8");
  }
  QSettings& operator*() { return m_settings; }

 private:
  QSettings m_settings;
};
}  // namespace

QVariant readSetting(const QString& key, const QVariant& defaultValue) {
  Store store;
  return QVariant((*store).value(key, defaultValue).toString());
}

void writeSetting(const QString& key, const QVariant& value) {
  Store store;
  (*store).setValue(key, value);
  (*store).sync();
}

namespace {
struct Range {
  const QString& key;
  int minimum, maximum, fallback;
};

// Each range spans every value a display or a user could sensibly want; the stored
// values of earlier versions (defaults) lie inside.
const std::vector<Range>& ranges() {
  static const std::vector<Range> kRanges = {
      {kKeyTemperatureUnit, 0, 1, kDefaultTemperatureUnit},
      {kKeyChangeInterval, 1000, 60000, kDefaultChangeInterval},
      {kKeyDisplayCpuTemperature, 0, 1, kDefaultDisplayItem},
      {kKeyDisplayGpuTemperature, 0, 1, kDefaultDisplayItem},
      {kKeyDisplayFanRpm, 0, 1, kDefaultDisplayItem},
      {kKeyTemperatureAlarm, 30, 120, kDefaultTemperatureAlarm},
      {kKeyUsageRateAlarm, 1, 100, kDefaultUsageRateAlarm},
      {kKeyFanRpmAlarm, 0, 10000, kDefaultFanRpmAlarm},
      {kKeyAlarmNotifications, 0, 1, kDefaultAlarmNotifications},
  };
  return kRanges;
}

const Range* rangeOf(const QString& key) {
  for (const Range& range : ranges())
    if (range.key == key) return &range;
  return nullptr;
}
}  // namespace

const QStringList& rangedSettingKeys() {
  static const QStringList kKeys = [] {
    QStringList keys;
    for (const Range& range : ranges()) keys << range.key;
    return keys;
  }();
  return kKeys;
}

int clampSetting(const QString& key, int value) {
  const Range* range = rangeOf(key);
  if (!range) return value;
  // A display item is on for any value but 0, as it always was.
  if (range->maximum == 1 && key != kKeyTemperatureUnit) return value != 0 ? 1 : 0;
  return qBound(range->minimum, value, range->maximum);
}

int intSettingValue(const QString& key, const QVariant& stored) {
  const Range* range = rangeOf(key);
  const int fallback = range ? range->fallback : 0;
  bool ok = false;
  const int value = stored.toString().trimmed().toInt(&ok, 10);
  return clampSetting(key, ok ? value : fallback);
}

int readIntSetting(const QString& key) {
  return intSettingValue(key, readSetting(key, QVariant()));
}

QString translationFile(int language) {
  switch (language) {
    case TraditionalChinese:
      return QStringLiteral(":/zh_TW.qm");
    case English:
      return QStringLiteral(":/eg_EN.qm");
    default:
      return QStringLiteral(":/zh_CN.qm");
  }
}

void applyAutoStart(int startupChoice) {
  const QString entryName = QFileInfo(QCoreApplication::applicationFilePath()).baseName();
  if (entryName.isEmpty()) return;
  if (startupChoice != 0) {
    platform::unregisterAutoStart(entryName);
    return;
  }
  const QString executable = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
  const QString current = platform::registeredAutoStartPath(entryName);
  if (!current.isEmpty() && current == executable) return;
  platform::registerAutoStart(entryName, executable);
}

}  // namespace COMMON
