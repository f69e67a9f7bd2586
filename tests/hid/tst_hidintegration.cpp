// The display link end to end: the real hidapi library with devsim put in front of it by
// LD_PRELOAD, as `make run` does, and the polling hot-plug source.
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <memory>

#include "circulardisplaytimer.h"
#include "hiddevicesmanager.h"
#include "hidtestsupport.h"
#include "hotplug.h"
#include "sendhiddatathread.h"

using hidtest::writeDevices;

namespace {

struct Frame {
  qint64 ms = 0;
  QString line;
};

QList<Frame> framesOf(const QString& log, const QString& path) {
  QList<Frame> frames;
  for (const QString& line : hidtest::readLog(log)) {
    const QStringList words = line.split(' ');
    if (words.size() > 3 && words[1] == path && words[2] == "frame")
      frames.append({words[0].toLongLong(), line});
  }
  return frames;
}

}  // namespace

class TestHIDIntegration : public QObject {
  Q_OBJECT

  QTemporaryDir m_dir;
  QString m_config;
  QString m_log;
  QString m_screen;

 private slots:
  void initTestCase() {
    QVERIFY(m_dir.isValid());
    QVERIFY2(qEnvironmentVariable("LD_PRELOAD").contains("devsim"),
             "run through ctest: the simulator must be preloaded");
    m_config = m_dir.filePath("devices.conf");
    m_log = m_dir.filePath("frames.log");
    m_screen = m_dir.filePath("screen.txt");
    qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toLocal8Bit());
    qputenv("STELVOX_DEVSIM_CONFIG", m_config.toLocal8Bit());
    qputenv("STELVOX_DEVSIM_LOG", m_log.toLocal8Bit());
    qputenv("STELVOX_DEVSIM_SCREEN", m_screen.toLocal8Bit());
  }

  void streamsToTwoDevices() {
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim0 serial=A0001 hw=1.2 fw=3.4",
                                    "/dev/hidraw-sim1 serial=A0002"}));
    HIDDevicesManager manager;
    manager.scanDevices();
    QCOMPARE(manager.devices().keys(), QStringList({"/DEV/HIDRAW-SIM0", "/DEV/HIDRAW-SIM1"}));
    QCOMPARE(manager.devices().first().firmwareVersion, "3.4");

    CircularDisplayTimer::instance()->start();
    auto thread = std::make_unique<SendHIDDataThread>();
    thread->onSetHardwareData({"47", "23", "61", "8", "1450"});
    thread->setDevices(manager.devices());
    thread->start();
    QTRY_VERIFY_WITH_TIMEOUT(framesOf(m_log, "/dev/hidraw-sim0").size() >= 6 &&
                                 framesOf(m_log, "/dev/hidraw-sim1").size() >= 6,
                             60000);
    thread.reset();

    for (const char* path : {"/dev/hidraw-sim0", "/dev/hidraw-sim1"}) {
      const QList<Frame> frames = framesOf(m_log, path);
      QList<qint64> gaps;
      for (int i = 0; i < frames.size(); ++i) {
        // "A15" devices are only ever told 0x01 while an item is enabled, and no alarm.
        QVERIFY2(frames[i].line.contains("item=0x01 unit=0 alarm=0x00 cpu=47 cpu_usage=23 gpu=61 "
                                         "gpu_usage=8 fan=1450 reply=accepted"),
                 qPrintable(frames[i].line));
        QVERIFY(frames[i].line.contains("raw=2001000000002f17003d0805aa" + QString(52 * 2, '0')));
        if (i > 0) gaps << frames[i].ms - frames[i - 1].ms;
      }
      std::sort(gaps.begin(), gaps.end());
      // 500 ms of rest plus the pass; the machine is loaded, so the upper bound is loose.
      QVERIFY2(gaps.first() >= 450, qPrintable(QString::number(gaps.first())));
      QVERIFY2(gaps[gaps.size() / 2] <= 2000, qPrintable(QString::number(gaps[gaps.size() / 2])));
    }

    QFile screen(m_screen);
    QVERIFY(screen.open(QIODevice::ReadOnly));
    const QString shown = QString::fromUtf8(screen.readAll());
    QVERIFY2(
        shown.contains(QRegularExpression("/dev/hidraw-sim1  \\[A0002\\]  CPU temperature +47 °C")),
        qPrintable(shown));
  }

  void pollingFollowsArrivalAndDeparture() {
    qputenv("STELVOX_HOTPLUG", "poll");
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim2"}));
    HIDHotplugMonitor monitor;
    QVERIFY(monitor.start());
    QCOMPARE(monitor.source(), HIDHotplugMonitor::Source::Poll);
    QSignalSpy arrived(&monitor, &HIDHotplugMonitor::deviceArrived);
    QSignalSpy removed(&monitor, &HIDHotplugMonitor::deviceRemoved);

    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim2", "/dev/hidraw-sim3 pid=0B20"}));
    QVERIFY(arrived.wait(20000));
    QCOMPARE(arrived.first().at(0).toString(), "/dev/hidraw-sim3");
    QCOMPARE(arrived.first().at(1).value<ushort>(), ushort(0x2E3C));
    QCOMPARE(arrived.first().at(2).value<ushort>(), ushort(0x0B20));

    HIDDevicesManager manager;
    manager.scanDevices();
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim3 pid=0B20"}));
    QVERIFY(removed.wait(20000));
    QCOMPARE(removed.first().at(0).toString(), "/dev/hidraw-sim2");
    manager.handleRemoval(removed.first().at(0).toString());
    QVERIFY(manager.devices().isEmpty());
    QCOMPARE(arrived.size(), 1);
  }
};

QTEST_GUILESS_MAIN(TestHIDIntegration)
#include "tst_hidintegration.moc"
