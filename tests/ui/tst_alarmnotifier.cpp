// Alarm notices: which samples start an alarm (a table), and what reaches a desktop
// notification service on a private session bus.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "alarmnotifier.h"
#include "constants.h"
#include "settings.h"

namespace {
COMMON::HardwareInfo sample(const char* cpu, const char* cpuUsage, const char* gpu,
                            const char* gpuUsage, const char* fan) {
  return {cpu, cpuUsage, gpu, gpuUsage, fan};
}

// The notification service of a desktop, reduced to recording what it is asked.
class NotificationService : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  QStringList received;  // "summary|body"

 public slots:
  uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
              const QStringList&, const QVariantMap&, int) {
    received << summary + QLatin1Char('|') + body;
    return uint(received.size());
  }
};
}  // namespace

using Item = AlarmTracker::Item;
Q_DECLARE_METATYPE(COMMON::HardwareInfo)

class TestAlarmNotifier : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    m_bus.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--session"), QStringLiteral("--nofork"),
                 QStringLiteral("--print-address")});
    QVERIFY2(m_bus.waitForStarted(10000), "dbus-daemon is installed by the project's scripts");
    QTRY_VERIFY_WITH_TIMEOUT(m_bus.canReadLine(), 10000);
    const QByteArray address = m_bus.readLine().trimmed();
    // Read by Qt when the session bus is first used, which is after this.
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    QDBusConnection service = QDBusConnection::connectToBus(QString::fromUtf8(address), "service");
    QVERIFY(service.isConnected());
    QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &m_service,
                                   QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
  }
  void cleanupTestCase() {
    QDBusConnection::disconnectFromBus("service");
    m_bus.kill();
    m_bus.waitForFinished(10000);
  }

  // Each row: samples in order (CPU temp, CPU use, GPU temp, GPU use, fan; 60 s apart
  // unless the row says otherwise) and the items noticed with each.
  void tracker_data() {
    QTest::addColumn<QList<COMMON::HardwareInfo>>("samples");
    QTest::addColumn<qint64>("stepMs");
    QTest::addColumn<QList<QList<int>>>("notices");
    const auto calm = sample("50", "10", "50", "10", "1000");
    QTest::newRow("at the threshold, not below")
        << QList<COMMON::HardwareInfo>{sample("89", "94", "89", "94", "301"),
                                       sample("90", "95", "90", "95", "300")}
        << qint64(60000)
        << QList<QList<int>>{{},
                             {Item::CpuTemperature, Item::CpuUsage, Item::GpuTemperature,
                              Item::GpuUsage, Item::FanRpm}};
    QTest::newRow("staying in alarm is one notice")
        << QList<COMMON::HardwareInfo>{sample("95", "10", "50", "10", "1000"),
                                       sample("96", "10", "50", "10", "1000")}
        << qint64(60000) << QList<QList<int>>{{Item::CpuTemperature}, {}};
    QTest::newRow("a new edge after the quiet period")
        << QList<COMMON::HardwareInfo>{sample("50", "10", "95", "10", "1000"), calm,
                                       sample("50", "10", "95", "10", "1000")}
        << qint64(AlarmTracker::kQuietMs / 2)
        << QList<QList<int>>{{Item::GpuTemperature}, {}, {Item::GpuTemperature}};
    QTest::newRow("a new edge within the quiet period")
        << QList<COMMON::HardwareInfo>{sample("50", "10", "95", "10", "1000"), calm,
                                       sample("50", "10", "95", "10", "1000")}
        << qint64(60000) << QList<QList<int>>{{Item::GpuTemperature}, {}, {}};
    QTest::newRow("missing values are never in alarm")
        << QList<COMMON::HardwareInfo>{sample("--", "--", "--", "--", "--"),
                                       sample("", "abc", "-", " ", "--")}
        << qint64(60000) << QList<QList<int>>{{}, {}};
  }
  void tracker() {
    QFETCH(QList<COMMON::HardwareInfo>, samples);
    QFETCH(qint64, stepMs);
    QFETCH(QList<QList<int>>, notices);
    AlarmTracker tracker;
    const AlarmThresholds thresholds{90, 95, 300};
    for (int i = 0; i < samples.size(); ++i) {
      QList<int> items;
      for (const AlarmTracker::Notice& notice : tracker.update(samples[i], thresholds, i * stepMs))
        items << notice.item;
      QCOMPARE(items, notices[i]);
    }
  }

  // One notification per rising edge, in the chosen unit; none while the value stays
  // in alarm; none while turned off. A later notice proves nothing came in between.
  void notificationsReachTheDesktop() {
    AlarmNotifier notifier(nullptr);
    qint64 now = 0;
    notifier.setClock([&now]() { return now; });
    notifier.onReadHardwareInfo(sample("92", "10", "50", "10", "1000"));
    QTRY_COMPARE(m_service.received.size(), 1);
    QCOMPARE(m_service.received.last(),
             QStringLiteral("报警：CPU温度|CPU温度为92℃，报警阈值90℃。"));

    notifier.onReadHardwareInfo(sample("93", "10", "50", "10", "1000"));
    notifier.onSettingInfoChanged(COMMON::kKeyTemperatureUnit, QStringLiteral("1"));
    notifier.onReadHardwareInfo(sample("93", "10", "91", "10", "1000"));
    QTRY_COMPARE(m_service.received.size(), 2);
    QCOMPARE(m_service.received.last(),
             QStringLiteral("报警：GPU温度|GPU温度为195℉，报警阈值194℉。"));

    notifier.onSettingInfoChanged(COMMON::kKeyAlarmNotifications, QStringLiteral("0"));
    notifier.onReadHardwareInfo(sample("93", "99", "91", "10", "1000"));
    notifier.onSettingInfoChanged(COMMON::kKeyAlarmNotifications, QStringLiteral("1"));
    notifier.onSettingInfoChanged(COMMON::kKeyFanRpmAlarm, QStringLiteral("500"));
    notifier.onReadHardwareInfo(sample("93", "99", "91", "10", "400"));
    QTRY_COMPARE(m_service.received.size(), 3);
    QCOMPARE(m_service.received.last(),
             QStringLiteral("报警：风扇转速|风扇转速为400RPM，报警阈值500RPM。"));
  }

 private:
  QTemporaryDir m_config;
  QProcess m_bus;
  NotificationService m_service;
};

QTEST_MAIN(TestAlarmNotifier)
#include "tst_alarmnotifier.moc"
