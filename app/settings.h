// The settings store: every setting is read and written through these calls,
// each opening the store, doing one operation and closing it again.
#pragma once

#include <QString>
#include <QVariant>

namespace COMMON {

// Returns the stored value as text (or the default as text); callers convert.
QVariant readSetting(const QString& key, const QVariant& defaultValue);
// Failures (unwritable file or folder) are lost silently.
void writeSetting(const QString& key, const QVariant& value);

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
