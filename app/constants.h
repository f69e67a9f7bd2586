// Named constants shared by every module of the program.
#pragma once

#include <QByteArray>
#include <QString>

#include "buildconfig.h"

namespace COMMON {

// Program and device identity.
inline const QString kProgramVersion = QStringLiteral("V1.0.0.27");
inline const QString kPlaceholder = QStringLiteral("--");
inline const QString kApplicationName = QStringLiteral("Stelvox");
inline const QString kProductLineCode = QStringLiteral("ZRT");
inline const QString kDeviceProductId = QStringLiteral("A15");
inline const QString kDeviceVendorId = QStringLiteral("2E3C");

// Update server, configured at build time.
inline const QString kUpdateDirectory = QStringLiteral("/ZRT");
inline const QString kUpdateServerHost = QStringLiteral(STELVOX_UPDATE_HOST);
inline const QString kUpdateAccountName = QStringLiteral(STELVOX_UPDATE_USER);
inline const QString kUpdateAccountPassword = QStringLiteral(STELVOX_UPDATE_PASSWORD);
constexpr quint16 kUpdateServerPort = 8887;
// The release operators' minisign public key (base64 line); empty: releases not verified.
inline const QByteArray kUpdatePublicKey = QByteArrayLiteral(STELVOX_UPDATE_PUBLIC_KEY);

// Setting keys: the value names in the settings store, exactly as stored.
inline const QString kKeyLanguage = QStringLiteral("language");
inline const QString kKeyStartup = QStringLiteral("startup");
inline const QString kKeyTemperatureUnit = QStringLiteral("temperature unit");
inline const QString kKeyChangeInterval = QStringLiteral("change interval");
inline const QString kKeyDisplayCpuTemperature = QStringLiteral("display cpu temperature");
inline const QString kKeyDisplayGpuTemperature = QStringLiteral("display gpu temperature");
inline const QString kKeyDisplayFanRpm = QStringLiteral("display fan rpm");
inline const QString kKeyTemperatureAlarm = QStringLiteral("temperature alarm");
inline const QString kKeyUsageRateAlarm = QStringLiteral("usage rate alarm");
inline const QString kKeyFanRpmAlarm = QStringLiteral("fan rpm alarm");
inline const QString kKeyAlarmNotifications = QStringLiteral("alarm notifications");
inline const QString kKeyNextUpgradeTime = QStringLiteral("next upgrade time");
inline const QString kKeyUpgradeVersion = QStringLiteral("upgrade version");

// Defaults every reader of a key uses.
constexpr int kDefaultLanguage = 2;
constexpr int kDefaultStartup = 0;
constexpr int kDefaultTemperatureUnit = 0;
constexpr int kDefaultChangeInterval = 2000;
constexpr int kDefaultDisplayItem = 1;
constexpr int kDefaultTemperatureAlarm = 90;
constexpr int kDefaultUsageRateAlarm = 95;
constexpr int kDefaultFanRpmAlarm = 300;
constexpr int kDefaultAlarmNotifications = 1;
constexpr qint64 kNoUpgradeTime = 998;

// Values of the "language" setting.
enum LanguageIndex { SimplifiedChinese = 0, TraditionalChinese = 1, English = 2 };

}  // namespace COMMON
