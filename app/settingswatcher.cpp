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
      m_watcher(new QFileSystemWatcher(this)),
      m_path(COMMON::platform::settingsFilePath()) {
  QSettings store(m_path, QSettings::NativeFormat);
  for (const QString& key : COMMON::rangedSettingKeys())
    m_known[key] = COMMON::intSettingValue(key, store.value(key));
  m_debounce.setSingleShot(true);
  m_debounce.setInterval(kDebounceMs);
  connect(&m_debounce, &QTimer::timeout, this, &SettingsWatcher::check);
  // The store is replaced by a rename on every write, which ends a watch on the file
  // itself; the folder's watch sees the new file arrive.
  connect(m_watcher, &QFileSystemWatcher::fileChanged, &m_debounce, qOverload<>(&QTimer::start));
  connect(m_watcher, &QFileSystemWatcher::directoryChanged, &m_debounce,
          qOverload<>(&QTimer::start));
  watch();
}

void SettingsWatcher::watch() {
  const QString folder = QFileInfo(m_path).absolutePath();
  if (!m_watcher->directories().contains(folder) && QFileInfo(folder).isDir())
    m_watcher->addPath(folder);
  if (!m_watcher->files().contains(m_path) && QFileInfo::exists(m_path)) m_watcher->addPath(m_path);
}

void SettingsWatcher::noteAnnounced(QString strSettingName, QString strSettingValue) {
  if (m_known.contains(strSettingName))
    m_known[strSettingName] = COMMON::clampSetting(strSettingName, strSettingValue.toInt());
}

void SettingsWatcher::check() {
  watch();
  // One read of the file for all keys. A file that does not parse (a half-written or
  // damaged one) changes nothing.
  QSettings store(m_path, QSettings::NativeFormat);
  store.allKeys();
  if (store.status() != QSettings::NoError) {
    RSLogger::instance()->writeLog(
        RSLogger::LevelWarning,
        QStringLiteral("The settings file could not be read; its changes are ignored. (%1)")
            .arg(m_path),
        "SettingsWatcher::check");
    return;
  }
  for (const QString& key : COMMON::rangedSettingKeys()) {
    const int value = COMMON::intSettingValue(key, store.value(key));
    if (m_known.value(key) == value) continue;
    m_known[key] = value;
    emit settingInfoChanged(key, QString::number(value, 10));
  }
}
