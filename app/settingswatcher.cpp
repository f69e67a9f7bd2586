#include "settingswatcher.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSettings>

#include "rslogger.h"
#include "settings.h"

namespace {
// A burst of writes (an editor saving, a tool rewriting many keys) is read once.
constexpr int kDebounceMs = 300;
}  // namespace

SettingsWatcher::SettingsWatcher(QObject* parent)
    : QObject(parent),
      watcher_(new QFileSystemWatcher(this)),
      path_(COMMON::platform::settingsFilePath()) {
  QSettings store(path_, QSettings::NativeFormat);
  for (const QString& key : COMMON::rangedSettingKeys())
    known_[key] = COMMON::intSettingValue(key, store.value(key));
  debounce_.setSingleShot(true);
  debounce_.setInterval(kDebounceMs);
  connect(&debounce_, &QTimer::timeout, this, &SettingsWatcher::check);
  // The store is replaced by a rename on every write, which ends a watch on the file
  // itself; the folder's watch sees the new file arrive.
  connect(watcher_, &QFileSystemWatcher::fileChanged, &debounce_, qOverload<>(&QTimer::start));
  connect(watcher_, &QFileSystemWatcher::directoryChanged, &debounce_, qOverload<>(&QTimer::start));
  watch();
}

void SettingsWatcher::watch() {
  const QString folder = QFileInfo(path_).absolutePath();
  if (!watcher_->directories().contains(folder) && QFileInfo(folder).isDir())
    watcher_->addPath(folder);
  if (!watcher_->files().contains(path_) && QFileInfo::exists(path_)) watcher_->addPath(path_);
}

void SettingsWatcher::noteAnnounced(QString strSettingName, QString strSettingValue) {
  if (known_.contains(strSettingName))
    known_[strSettingName] = COMMON::clampSetting(strSettingName, strSettingValue.toInt());
}

void SettingsWatcher::check() {
  watch();
  // One read of the file for all keys. A file that does not parse (a half-written or
  // damaged one) changes nothing.
  QSettings store(path_, QSettings::NativeFormat);
  store.allKeys();
  if (store.status() != QSettings::NoError) {
    RSLogger::instance()->writeLog(
        RSLogger::LevelWarning,
        QStringLiteral("The settings file could not be read; its changes are ignored. (%1)")
            .arg(path_),
        "SettingsWatcher::check");
    return;
  }
  for (const QString& key : COMMON::rangedSettingKeys()) {
    const int value = COMMON::intSettingValue(key, store.value(key));
    if (known_.value(key) == value) continue;
    known_[key] = value;
    emit settingInfoChanged(key, QString::number(value, 10));
  }
}
