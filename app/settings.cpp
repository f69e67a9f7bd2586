#include "settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "constants.h"

namespace COMMON {

namespace {
// A fresh store object per operation, so a write is visible to the next read at
// once and nothing lingers in memory.
class Store {
 public:
  Store() : settings_(platform::settingsFilePath(), QSettings::NativeFormat) {
    settings_.setIniCodec("UTF-8");
  }
  QSettings& operator*() { return settings_; }

 private:
  QSettings settings_;
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
