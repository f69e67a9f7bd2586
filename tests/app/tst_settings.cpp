#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include "constants.h"
#include "settings.h"
#include "settingswatcher.h"

using namespace COMMON;

class TestSettings : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_home;
  QString autostartFile() const {
    return m_home.path() + "/autostart/" +
           QFileInfo(QCoreApplication::applicationFilePath()).baseName() + ".desktop";
  }

 private slots:
  void init() {
    QVERIFY(m_home.isValid());
    qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit());
    QDir(m_home.path()).removeRecursively();
    QDir().mkpath(m_home.path());
  }

  void emptyStoreGivesDefaults_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("defaultValue");
    QTest::newRow("language") << kKeyLanguage << QVariant(kDefaultLanguage);
    QTest::newRow("startup") << kKeyStartup << QVariant(kDefaultStartup);
    QTest::newRow("unit") << kKeyTemperatureUnit << QVariant(kDefaultTemperatureUnit);
    QTest::newRow("interval") << kKeyChangeInterval << QVariant(kDefaultChangeInterval);
    QTest::newRow("fan alarm") << kKeyFanRpmAlarm << QVariant(kDefaultFanRpmAlarm);
    QTest::newRow("next upgrade") << kKeyNextUpgradeTime << QVariant(kNoUpgradeTime);
    QTest::newRow("upgrade version") << kKeyUpgradeVersion << QVariant(QString());
  }
  void emptyStoreGivesDefaults() {
    QFETCH(QString, key);
    QFETCH(QVariant, defaultValue);
    const QVariant value = readSetting(key, defaultValue);
    QCOMPARE(value.type(), QVariant::String);
    QCOMPARE(value.toString(), defaultValue.toString());
  }

  void storedValuesConvertLikeText_data() {
    QTest::addColumn<QVariant>("written");
    QTest::addColumn<int>("asInt");
    QTest::newRow("number") << QVariant(5) << 5;
    QTest::newRow("text abc") << QVariant(QStringLiteral("abc")) << 0;
    QTest::newRow("negative") << QVariant(-40) << -40;
    QTest::newRow("trailing garbage") << QVariant(QStringLiteral("12x")) << 0;
  }
  void storedValuesConvertLikeText() {
    QFETCH(QVariant, written);
    QFETCH(int, asInt);
    writeSetting(kKeyTemperatureUnit, written);
    QCOMPARE(readSetting(kKeyTemperatureUnit, kDefaultTemperatureUnit).toInt(), asInt);
  }

  // Ranged settings read back within range: the default for no number, else the bound.
  void rangedSettingsAreClamped_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("written");
    QTest::addColumn<int>("read");
    QTest::newRow("huge alarm") << kKeyTemperatureAlarm << QVariant(5000) << 120;
    QTest::newRow("negative fan alarm") << kKeyFanRpmAlarm << QVariant(-5) << 0;
    QTest::newRow("not a number") << kKeyUsageRateAlarm << QVariant(QStringLiteral("lots")) << 95;
    QTest::newRow("zero interval") << kKeyChangeInterval << QVariant(0) << 1000;
    QTest::newRow("display item 2") << kKeyDisplayFanRpm << QVariant(2) << 1;
    QTest::newRow("within range") << kKeyTemperatureAlarm << QVariant(85) << 85;
  }
  void rangedSettingsAreClamped() {
    QFETCH(QString, key);
    QFETCH(QVariant, written);
    QFETCH(int, read);
    writeSetting(key, written);
    QCOMPARE(readIntSetting(key), read);
  }

  // Edits of the file by someone else are announced once each, after a burst settles;
  // a file that does not parse changes nothing.
  void handEditsAreAnnounced() {
    writeSetting(kKeyTemperatureAlarm, 80);
    SettingsWatcher watcher;
    QSignalSpy announced(&watcher, &SettingsWatcher::settingInfoChanged);
    for (int alarm = 81; alarm <= 85; ++alarm) writeSetting(kKeyTemperatureAlarm, alarm);
    writeSetting(kKeyDisplayFanRpm, 0);
    QTRY_COMPARE(announced.size(), 2);
    QCOMPARE(announced.at(0), (QVariantList{kKeyDisplayFanRpm, "0"}));
    QCOMPARE(announced.at(1), (QVariantList{kKeyTemperatureAlarm, "85"}));

    // Announced elsewhere already (the dialog): not again.
    watcher.noteAnnounced(kKeyUsageRateAlarm, QStringLiteral("70"));
    writeSetting(kKeyUsageRateAlarm, 70);
    writeSetting(kKeyFanRpmAlarm, 400);
    QTRY_COMPARE(announced.size(), 3);
    QCOMPARE(announced.last(), (QVariantList{kKeyFanRpmAlarm, "400"}));

    QFile damaged(platform::settingsFilePath());
    QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
    damaged.write("[General]\nfan%20rpm%20alarm=900\nnot a setting line\n");
    damaged.close();
    watcher.check();
    QCOMPARE(announced.size(), 3);
  }

  void nextUpgradeTimeRoundTripsAs64Bit() {
    const qint64 due = 4102444800LL + 12345;  // beyond 32 bits
    writeSetting(kKeyNextUpgradeTime, QVariant(due));
    bool ok = false;
    QCOMPARE(readSetting(kKeyNextUpgradeTime, kNoUpgradeTime).toLongLong(&ok), due);
    QVERIFY(ok);
    writeSetting(kKeyNextUpgradeTime, QVariant(int(kNoUpgradeTime)));
    QCOMPARE(readSetting(kKeyNextUpgradeTime, 0).toLongLong(), kNoUpgradeTime);
  }

  void storeLivesUnderXdgConfigHome() {
    writeSetting(kKeyLanguage, 1);
    QVERIFY(
        QFile::exists(m_home.path() + "/Ostrel/" + QCoreApplication::applicationName() + ".conf"));
    QCOMPARE(readSetting(kKeyLanguage, 2).toInt(), 1);
  }

  void corruptStoreReadsDefaults() {
    QDir().mkpath(m_home.path() + "/Ostrel");
    QFile f(platform::settingsFilePath());
    QVERIFY(f.open(QIODevice::WriteOnly));
    static const char garbage[] = "\x00\xff[[[=\n\"language=\n=7\x01\n";
    f.write(QByteArray(garbage, sizeof garbage - 1) + QByteArray(4096, '\xfe'));
    f.close();
    QCOMPARE(readSetting(kKeyChangeInterval, 2000).toInt(), 2000);
    writeSetting(kKeyChangeInterval, 3000);  // must not crash; may or may not stick
  }

  void unwritableStoreLosesWritesSilently() {
    // A configuration "folder" that is a plain file can never hold the store.
    QFile blocker(m_home.path() + "/blocked");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("XDG_CONFIG_HOME", blocker.fileName().toLocal8Bit());
    writeSetting(kKeyLanguage, 0);
    QCOMPARE(readSetting(kKeyLanguage, 2).toInt(), 2);
    applyAutoStart(0);  // silent as well
  }

  void translationFileFollowsLanguage_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("file");
    QTest::newRow("0") << 0 << ":/zh_CN.qm";
    QTest::newRow("1") << 1 << ":/zh_TW.qm";
    QTest::newRow("2") << 2 << ":/eg_EN.qm";
    QTest::newRow("7") << 7 << ":/zh_CN.qm";
    QTest::newRow("-1") << -1 << ":/zh_CN.qm";
  }
  void translationFileFollowsLanguage() {
    QFETCH(int, language);
    QFETCH(QString, file);
    QCOMPARE(translationFile(language), file);
  }

  void autostartRegistersTheRunningExecutable() {
    applyAutoStart(0);
    QVERIFY(QFile::exists(autostartFile()));
    QCOMPARE(platform::registeredAutoStartPath(
                 QFileInfo(QCoreApplication::applicationFilePath()).baseName()),
             QCoreApplication::applicationFilePath());
    QFile f(autostartFile());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QVERIFY(text.startsWith("[Desktop Entry]\n"));
    QVERIFY(text.contains("\nType=Application\n"));
    QVERIFY(text.contains("\nX-GNOME-Autostart-enabled=true\n"));
  }

  void autostartLeavesAnExactEntryAlone() {
    applyAutoStart(0);
    QFile f(autostartFile());
    QVERIFY(f.open(QIODevice::Append));
    f.write("X-Marker=kept\n");
    f.close();
    applyAutoStart(0);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll().contains("X-Marker=kept"));
  }

  void autostartRewritesOnLetterCaseDifference() {
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).baseName();
    platform::registerAutoStart(name, QCoreApplication::applicationFilePath().toUpper());
    applyAutoStart(0);
    QCOMPARE(platform::registeredAutoStartPath(name), QCoreApplication::applicationFilePath());
  }

  void autostartRemovedOnAnyOtherChoice() {
    applyAutoStart(0);
    applyAutoStart(1);
    QVERIFY(!QFile::exists(autostartFile()));
    applyAutoStart(5);  // nothing to remove: silent
    QVERIFY(!QFile::exists(autostartFile()));
  }

  void autostartPathsSurviveQuoting_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("plain") << "/opt/stelvox/bin/stelvox";
    QTest::newRow("spaces") << "/home/a b/My Apps/stelvox";
    QTest::newRow("quote and dollar") << "/tmp/x\"y$z/stelvox";
    QTest::newRow("backslash and percent") << "/tmp/back\\slash/100%/stelvox";
  }
  void autostartPathsSurviveQuoting() {
    QFETCH(QString, path);
    platform::registerAutoStart(QStringLiteral("probe"), path);
    QCOMPARE(platform::registeredAutoStartPath(QStringLiteral("probe")), path);
  }
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  app.setApplicationName(COMMON::kApplicationName);
  TestSettings test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_settings.moc"
