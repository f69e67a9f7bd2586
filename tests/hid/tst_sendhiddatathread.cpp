// The send thread against simulated devices (devsim linked in place of hidapi).
#include <QDateTime>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <memory>

#include "circulardisplaytimer.h"
#include "constants.h"
#include "hidtestsupport.h"
#include "sendhiddatathread.h"
#include "settings.h"

using hidtest::writeDevices;

namespace {

HIDDeviceInfo device(const QString& path, const QString& pid = QStringLiteral("A15")) {
  HIDDeviceInfo info;
  info.vid = QStringLiteral("2E3C");
  info.pid = pid;
  info.path = path.toUpper();
  info.openPath = path;
  return info;
}

HIDDeviceTable table(const QList<HIDDeviceInfo>& devices) {
  HIDDeviceTable result;
  for (const HIDDeviceInfo& info : devices) result.insert(info.path, info);
  return result;
}

// Frame lines of one device in the simulator's log.
QStringList framesOf(const QString& log, const QString& path) {
  return hidtest::readLog(log).filter(
      QRegularExpression("^\\d+ " + QRegularExpression::escape(path) + " frame "));
}

QString field(const QString& line, const QString& name) {
  const QRegularExpressionMatch match = QRegularExpression("\\b" + name + "=(\\S+)").match(line);
  return match.captured(1);
}

}  // namespace

class TestSendHIDDataThread : public QObject {
  Q_OBJECT

  hidtest::SimulatorFiles m_files;
  const QString& m_config = m_files.config;
  const QString& m_log = m_files.log;

 private slots:
  void initTestCase() {
    QVERIFY(m_files.setUp());
    // Position 0 (CPU temperature) enabled: the rotation answers 0x01 until it moves.
    QCOMPARE(CircularDisplayTimer::instance()->currentItem(), quint8(0x01));
  }
  void init() { QFile::remove(m_log); }

  void passCarriesTheSample_data() {
    QTest::addColumn<QStringList>("settings");  // name=value pairs
    QTest::addColumn<QStringList>("sample");
    QTest::addColumn<QString>("expected");  // fields of the frame line
    QTest::newRow("celsius")
        << QStringList() << QStringList({"45", "12", "50", "3", "1200"})
        << "item=0x01 unit=0 alarm=0x00 cpu=45 cpu_usage=12 gpu=50 gpu_usage=3 fan=1200";
    QTest::newRow("fahrenheit caps cpu only")
        << QStringList({"temperature unit=1"}) << QStringList({"95", "0", "95", "0", "0"})
        << "item=0x01 unit=1 alarm=0x00 cpu=199 cpu_usage=0 gpu=203 gpu_usage=0 fan=0";
    QTest::newRow("no-value marker is 0")
        << QStringList() << QStringList({"--", "--", "--", "--", "--"})
        << "item=0x01 unit=0 alarm=0x00 cpu=0 cpu_usage=0 gpu=0 gpu_usage=0 fan=0";
    QTest::newRow("no-value marker is 0 in fahrenheit too, not 32")
        << QStringList({"temperature unit=1"}) << QStringList({"--", "--", "--", "--", "--"})
        << "item=0x01 unit=1 alarm=0x00 cpu=0 cpu_usage=0 gpu=0 gpu_usage=0 fan=0";
    QTest::newRow("setting names are case-sensitive")
        << QStringList({"Temperature Unit=1", "temperature  unit=1"})
        << QStringList({"36", "0", "36", "0", "0"})
        << "item=0x01 unit=0 alarm=0x00 cpu=36 cpu_usage=0 gpu=36 gpu_usage=0 fan=0";
    QTest::newRow("unit value not a number is celsius")
        << QStringList({"temperature unit=1", "temperature unit=F"})
        << QStringList({"36", "0", "36", "0", "0"})
        << "item=0x01 unit=0 alarm=0x00 cpu=36 cpu_usage=0 gpu=36 gpu_usage=0 fan=0";
  }
  void passCarriesTheSample() {
    QFETCH(QStringList, settings);
    QFETCH(QStringList, sample);
    QFETCH(QString, expected);
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim0", "/dev/hidraw-sim1"}));
    SendHIDDataThread thread;
    for (const QString& pair : qAsConst(settings))
      thread.onSettingValueChanged(pair.section('=', 0, 0), pair.section('=', 1));
    thread.onSetHardwareData({sample[0], sample[1], sample[2], sample[3], sample[4]});
    thread.setDevices(table({device("/dev/hidraw-sim0"), device("/dev/hidraw-sim1")}));
    thread.sendDataToHIDDevice();
    for (const char* path : {"/dev/hidraw-sim0", "/dev/hidraw-sim1"}) {
      const QStringList frames = framesOf(m_log, path);
      QCOMPARE(frames.size(), 1);
      QVERIFY2(frames.first().contains(expected), qPrintable(frames.first()));
    }
  }

  void otherProductsGetTheRotationItem() {
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim2 pid=0B20"}));
    SendHIDDataThread thread;
    thread.onSetHardwareData({"40", "10", "91", "10", "300"});
    thread.setDevices(table({device("/dev/hidraw-sim2", "B20")}));
    auto& rotation = *CircularDisplayTimer::instance();
    const quint8 shown = rotation.currentItem();
    QStringList items;
    for (int i = 0; i < 3; ++i) {
      rotation.onChangeData();
      thread.sendDataToHIDDevice();
    }
    const QStringList frames = framesOf(m_log, "/dev/hidraw-sim2");
    QCOMPARE(frames.size(), 3);
    // Three advances over {0x01, 0x04, 0x10} come back to where they started.
    QCOMPARE(rotation.currentItem(), shown);
    for (const QString& frame : frames) items << field(frame, "item") + "/" + field(frame, "alarm");
    QVERIFY2(items.contains("0x04/0x04"), qPrintable(items.join(' ')));  // 91 >= 90
    QVERIFY2(items.contains("0x10/0x10"), qPrintable(items.join(' ')));  // 300 <= 300
    QVERIFY2(items.contains("0x01/0x00"), qPrintable(items.join(' ')));
  }

  void failuresAreLoggedAndTheRestServed_data() {
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("logged");  // empty: nothing
    // Paths as the system spells them: "/DEV/HIDRAW3" names no file on Linux.
    const QString where = " VID: 2E3C, PID: A15, Device Path: /dev/hidraw-sim3!";
    QTest::newRow("cannot open") << "fail=open"
                                 << "=== Open HID device fail, path: /dev/hidraw-sim3 ===";
    QTest::newRow("write fails") << "fail=write"
                                 << "";
    QTest::newRow("read fails") << "fail=read"
                                << ">>> Send data to HID device fail. [simulated read failure]! "
                                   "<<<\n" +
                                       where;
    QTest::newRow("never answers") << "fail=silent-frames"
                                   << ">>> Send data to HID device fail. [no reply within 500 "
                                      "ms]! <<<\n" +
                                          where;
    QTest::newRow("rejects") << "fail=reject"
                             << ">>> Send data to HID device fail! reply error.<<<\n" + where;
    QTest::newRow("gone") << "absent"
                          << "=== Open HID device fail, path: /dev/hidraw-sim3 ===";
  }
  void failuresAreLoggedAndTheRestServed() {
    QFETCH(QString, options);
    QFETCH(QString, logged);
    QStringList devices{"/dev/hidraw-sim4"};
    if (options != "absent") devices << "/dev/hidraw-sim3 " + options;
    QVERIFY(writeDevices(m_config, devices));
    hidtest::LogCapture capture;
    auto thread = std::make_unique<SendHIDDataThread>();
    thread->setDevices(table({device("/dev/hidraw-sim3"), device("/dev/hidraw-sim4")}));
    thread->sendDataToHIDDevice();
    thread.reset();  // handles live as long as their device is served
    const QStringList lines = capture.lines().filter("SendHIDDataThread::sendDataToHIDDevice");
    if (logged.isEmpty()) {
      QVERIFY2(lines.isEmpty(), qPrintable(lines.join('\n')));
    } else {
      QCOMPARE(lines.size(), 1);
      QVERIFY2(lines.first().contains("[Error   ]"), qPrintable(lines.first()));
      QVERIFY2(lines.first().endsWith(logged), qPrintable(lines.first()));
    }
    QCOMPARE(framesOf(m_log, "/dev/hidraw-sim4").size(), 1);  // the next device still served
    const QStringList all = hidtest::readLog(m_log);
    QCOMPARE(all.filter(" open").size() - all.filter(" open-fail").size(),
             all.filter(" close").size());
  }

  void emptyTableSendsNothing() {
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim5"}));
    hidtest::LogCapture capture;
    SendHIDDataThread thread;
    thread.sendDataToHIDDevice();
    QVERIFY(hidtest::readLog(m_log).isEmpty());
    QVERIFY(capture.lines().filter("SendHIDDataThread").isEmpty());
  }

  void thresholdsFollowSettings() {
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim6 pid=0B20"}));
    SendHIDDataThread thread;
    thread.onSettingValueChanged(COMMON::kKeyFanRpmAlarm, "1000");
    thread.onSetHardwareData({"40", "10", "40", "10", "900"});
    thread.setDevices(table({device("/dev/hidraw-sim6", "B20")}));
    auto& rotation = *CircularDisplayTimer::instance();
    while (rotation.currentItem() != 0x10) rotation.onChangeData();
    thread.sendDataToHIDDevice();
    const QStringList frames = framesOf(m_log, "/dev/hidraw-sim6");
    QCOMPARE(frames.size(), 1);
    QCOMPARE(field(frames.first(), "alarm"), "0x10");
  }

  void pauseAndResume() {
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim7"}));
    SendHIDDataThread thread;
    thread.setDevices(table({device("/dev/hidraw-sim7")}));
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(framesOf(m_log, "/dev/hidraw-sim7").size() >= 2, 20000);
    thread.pauseSending();
    QVERIFY(thread.isPaused());
    // A pass under way and its rest may still finish; after that nothing more is sent.
    // (Only the absence of frames is checked here, which no signal can announce.)
    QTest::qWait(2500);
    const int paused = framesOf(m_log, "/dev/hidraw-sim7").size();
    QTest::qWait(1500);
    QCOMPARE(framesOf(m_log, "/dev/hidraw-sim7").size(), paused);
    thread.resumeSending();
    QTRY_VERIFY_WITH_TIMEOUT(framesOf(m_log, "/dev/hidraw-sim7").size() > paused, 20000);
  }

  void destructionWhilePaused() {
    QElapsedTimer clock;
    auto thread = std::make_unique<SendHIDDataThread>();
    thread->pauseSending();
    thread->start();
    clock.start();
    thread.reset();
    QVERIFY(clock.elapsed() < 5000);
  }

  // A device that takes frames but never answers must not hold up the program's exit.
  void destructionWhileADeviceNeverAnswers() {
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim8 fail=silent-frames"}));
    auto thread = std::make_unique<SendHIDDataThread>();
    thread->setDevices(table({device("/dev/hidraw-sim8")}));
    thread->start();
    QTRY_VERIFY_WITH_TIMEOUT(framesOf(m_log, "/dev/hidraw-sim8").size() >= 1, 20000);
    QElapsedTimer clock;
    clock.start();
    thread.reset();
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
  }

  // Devices that never answer or stall their writes cost the others nothing: each healthy
  // display keeps about two frames a second, the GUI thread's calls never wait for device
  // I/O (nothing is sent or read under the mutex), and a stalled write does not hold up
  // the exit.
  void eachDisplayAtItsOwnPace() {
    const QStringList healthy{"/dev/hidraw-sim20", "/dev/hidraw-sim23"};
    const QString stalling = "/dev/hidraw-sim22";
    QVERIFY(writeDevices(m_config, {healthy[0], "/dev/hidraw-sim21 fail=silent-frames",
                                    stalling + " write-delay=3000", healthy[1]}));
    auto thread = std::make_unique<SendHIDDataThread>();
    thread->setDevices(table(
        {device(healthy[0]), device("/dev/hidraw-sim21"), device(stalling), device(healthy[1])}));
    // What the sampler and the settings dialog do on the GUI thread, timed.
    qint64 longestCall = 0;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] {
      QElapsedTimer call;
      call.start();
      thread->onSetHardwareData({"40", "10", "40", "10", "900"});
      thread->onSettingValueChanged(COMMON::kKeyFanRpmAlarm, "300");
      longestCall = qMax(longestCall, call.elapsed());
    });
    probe.start(10);
    thread->start();
    QTRY_VERIFY_WITH_TIMEOUT(
        framesOf(m_log, healthy[0]).size() >= 9 && framesOf(m_log, healthy[1]).size() >= 9, 30000);
    probe.stop();
    QVERIFY2(longestCall < 100, qPrintable(QString::number(longestCall)));

    for (const QString& path : healthy) {
      QList<qint64> gaps;
      const QStringList frames = framesOf(m_log, path);
      for (int i = 1; i < frames.size(); ++i)
        gaps << frames[i].section(' ', 0, 0).toLongLong() -
                    frames[i - 1].section(' ', 0, 0).toLongLong();
      std::sort(gaps.begin(), gaps.end());
      qInfo("%s: frame gaps %lld to %lld ms, median %lld ms", qPrintable(path), gaps.first(),
            gaps.last(), gaps[gaps.size() / 2]);
      QVERIFY2(gaps.first() >= 400, qPrintable(QString::number(gaps.first())));
      QVERIFY2(gaps[gaps.size() / 2] <= 750, qPrintable(QString::number(gaps[gaps.size() / 2])));
    }

    const qint64 leaving = QDateTime::currentMSecsSinceEpoch();
    QElapsedTimer clock;
    clock.start();
    thread.reset();
    const qint64 exitMs = clock.elapsed();
    qInfo("destruction took %lld ms", exitMs);
    QVERIFY2(exitMs < 300, qPrintable(QString::number(exitMs)));
    // The stalled write ends on its own later, and its link then closes the device.
    QTRY_VERIFY_WITH_TIMEOUT(hidtest::readLog(m_log).filter(stalling + " close").size() == 1,
                             10000);
    const QStringList stalled = framesOf(m_log, stalling);
    QVERIFY(!stalled.isEmpty());
    QVERIFY2(stalled.last().section(' ', 0, 0).toLongLong() >= leaving,
             "the exit was not measured during a stalled write");
  }
};

QTEST_GUILESS_MAIN(TestSendHIDDataThread)
#include "tst_sendhiddatathread.moc"
