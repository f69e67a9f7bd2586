// The settings store: every setting is read and written through these calls,
// each opening the store, doing one operation and closing it again.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

namespace COMMON {

// Returns the stored value as text (or the default as text); callers convert.
QVariant readSetting(const QString& key, const QVariant& defaultValue);
// Failures (unwritable file or folder) are lost silently.
void writeSetting(const QString& key, const QVariant& value);

// The settings that are whole numbers with a range: those the user sets in the
// settings dialog and that act at once. Each is announced under its key when it
// changes.
const QStringList& rangedSettingKeys();
// `value` brought into the key's range (unknown keys pass unchanged).
int clampSetting(const QString& key, int value);
// A ranged setting as stored: its default where the stored text is no number (or there
// is none), the nearest bound where it is out of range.
int readIntSetting(const QString& key);
// The same for a value already read from the store.
int intSettingValue(const QString& key, const QVariant& stored);

// The translation catalogue resource for a "language" value.
QString translationFile(int language);

// 0 registers the running executable to start at log-on; anything else removes it.
void applyAutoStart(int startupChoice);

// Platform seam: where the store lives and how autostart is recorded.
namespace platform {
QString settingsFilePath();
// The executable path currently registered for autostart, empty when none.
QString registeredAutoStartPath(const QString& entryName);
void registerAutoStart(const QString& entryName, const QString& executablePath);
void unregisterAutoStart(const QString& entryName);
}  // namespace platform

}  // namespace COMMON
