// Recognition of display devices against simulated ones (devsim linked in place of hidapi).
#include <unistd.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "hiddevicesmanager.h"
#include "hidrecognizer.h"
#include "hidtestsupport.h"

using hidtest::writeDevices;

class TestHIDDevicesManager : public QObject {
  Q_OBJECT

  hidtest::SimulatorFiles m_files;
  const QString& m_config = m_files.config;
  const QString& m_log = m_files.log;

 private slots:
  void initTestCase() { QVERIFY(m_files.setUp()); }
  void init() { QFile::remove(m_log); }

  void recordTexts() {
    QVERIFY(
        writeDevices(m_config, {"/dev/hidraw-Sim0 hw=1.10 fw=2.0 uuid=000F10FFFFFFFFFFFFFFFFFF"}));
    HIDDevicesManager manager;
    manager.scanDevices();
    QCOMPARE(manager.devices().size(), 1);
    const HIDDeviceInfo info = manager.devices().first();
    QCOMPARE(manager.devices().firstKey(), "/DEV/HIDRAW-SIM0");
    QCOMPARE(info.uuid, "0F10" + QString(18, 'F'));
    QCOMPARE(info.uuid.size(), 22);
    QCOMPARE(info.vid, "2E3C");
    QCOMPARE(info.pid, "A15");
    QCOMPARE(info.path, "/DEV/HIDRAW-SIM0");
    QCOMPARE(info.openPath, "/dev/hidraw-Sim0");
    QCOMPARE(info.hardwareVersion, "1.10");
    QCOMPARE(info.firmwareVersion, "2.0");
  }

  void uuidWithoutZeroPadding() {
    std::array<std::uint8_t, 12> id{0x05, 0xA0, 0x00, 0x10, 0x01, 0xFF, 0, 0, 0, 0, 0, 0xAB};
    QCOMPARE(HIDDevicesManager::uuidText(id), "5A00101FF00000AB");
  }

  // Which interfaces the start-up scan stores, and what it logs for the others.
  void scanOutcomes_data() {
    QTest::addColumn<QString>("options");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<QString>("logged");
    QTest::newRow("answers") << "" << true << "";
    QTest::newRow("other vendor") << "vid=046D" << false << "";
    QTest::newRow("other product") << "pid=0A16" << false << "";
    QTest::newRow("cannot open") << "fail=open" << false << "";
    QTest::newRow("wrong report id") << "fail=bad-report" << false << "";
    QTest::newRow("write fails")
        << "fail=write" << false
        << "[Warnning] HIDDevicesManager::recognize(): Invalid HID device！Write data to device "
           "fail: simulated write failure, device path: /dev/hidraw-sim1!";
    QTest::newRow("read fails")
        << "fail=read" << false
        << "[Warnning] HIDDevicesManager::recognize(): Read HID device data fail: simulated read "
           "failure, device path: /dev/hidraw-sim1!";
    QTest::newRow("never answers")
        << "fail=silent" << false
        << QStringLiteral(
               "Read HID device data fail: no reply within %1 ms, device path: "
               "/dev/hidraw-sim1!")
               .arg(HIDDevicesManager::kReplyTimeoutMs);
    QTest::newRow("answers late") << "delay=1200" << true << "";
    QTest::newRow("no serial string") << "serial=none" << false << "";
    QTest::newRow("frames rejected later") << "fail=reject" << true << "";
  }
  void scanOutcomes() {
    QFETCH(QString, options);
    QFETCH(bool, stored);
    QFETCH(QString, logged);
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim1 " + options}));
    hidtest::LogCapture capture;
    HIDDevicesManager manager;
    QElapsedTimer clock;
    clock.start();
    manager.scanDevices();
    QVERIFY2(clock.elapsed() < 5000, "recognition must not stall the GUI thread");
    QCOMPARE(manager.devices().contains("/DEV/HIDRAW-SIM1"), stored);
    const QStringList recognizeLines = capture.lines().filter("HIDDevicesManager::recognize");
    if (logged.isEmpty()) {
      QVERIFY2(recognizeLines.isEmpty(), qPrintable(recognizeLines.join('\n')));
    } else {
      QCOMPARE(recognizeLines.size(), 1);
      QVERIFY2(recognizeLines.first().endsWith(logged), qPrintable(recognizeLines.first()));
    }
    // Every handle that was opened is closed again.
    const QStringList frames = hidtest::readLog(m_log);
    QCOMPARE(frames.filter(" open").size() - frames.filter(" open-fail").size(),
             frames.filter(" close").size());
  }

  // Ten silent interfaces and two that stall the identify write arrive together with one
  // that answers: the exchanges run beside the event loop, which keeps turning.
  void recognitionLeavesTheEventLoopFree() {
    QStringList lines{"/dev/hidraw-sim30"};
    for (int i = 0; i < 10; ++i) lines << QStringLiteral("/dev/hidraw-sim4%1 fail=silent").arg(i);
    lines << "/dev/hidraw-sim51 write-delay=2000"
          << "/dev/hidraw-sim52 write-delay=2000"
          << "/dev/hidraw-sim53";
    QVERIFY(writeDevices(m_config, lines));
    auto capture = std::make_unique<hidtest::LogCapture>();
    HIDDevicesManager manager;
    HIDRecognizer recognizer;
    int results = 0;
    connect(&recognizer, &HIDRecognizer::identified, this, [&](const HIDIdentifyResult& result) {
      manager.applyIdentifyResult(result);
      ++results;
    });
    qint64 worstDelay = 0;
    QElapsedTimer sinceLast;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this,
            [&] { worstDelay = qMax(worstDelay, sinceLast.restart() - probe.interval()); });
    sinceLast.start();
    probe.start(5);
    for (const QString& line : qAsConst(lines))
      recognizer.recognize(line.section(' ', 0, 0), 0x2E3C, 0x0A15);
    recognizer.forget("/dev/hidraw-sim53");  // unplugged meanwhile
    QTRY_COMPARE_WITH_TIMEOUT(results, 13, 20000);
    probe.stop();
    QCOMPARE(manager.devices().keys(),
             QStringList({"/DEV/HIDRAW-SIM30", "/DEV/HIDRAW-SIM51", "/DEV/HIDRAW-SIM52"}));
    QCOMPARE(capture->count("Read HID device data fail: no reply within"), 10);
    capture.reset();
    qInfo("longest event-loop delay while recognising: %lld ms", worstDelay);
    QVERIFY2(worstDelay < 250, qPrintable(QString::number(worstDelay)));
  }

  // A node this user may not open: one warning with the remedy, again after a replug only.
  void permissionWarningOncePerPlugIn() {
    QTemporaryDir nodes;
    const QString node = nodes.filePath("hidraw-denied");
    QFile file(node);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(file.setPermissions({}));
    QVERIFY(writeDevices(m_config, {node + " fail=open"}));
    hidtest::LogCapture capture;
    HIDDevicesManager manager;
    {
      // Root may open anything: look at the node as an ordinary user would.
      const bool root = ::geteuid() == 0;
      if (root) QVERIFY(::seteuid(65534) == 0);
      const auto restore = qScopeGuard([root] {
        if (root && ::seteuid(0) != 0) qFatal("cannot return to root");
      });
      QVERIFY(!manager.handleArrival(node, 0x2E3C, 0x0A15));
      QVERIFY(!manager.handleArrival(node, 0x2E3C, 0x0A15));
      manager.handleRemoval(node);
      QVERIFY(!manager.handleArrival(node, 0x2E3C, 0x0A15));
    }
    const QStringList warnings = capture.lines().filter("No permission to open HID device " + node);
    QCOMPARE(warnings.size(), 2);
    QVERIFY2(warnings.first().contains("71-stelvox.rules"), qPrintable(warnings.first()));
  }

  void missingSerialStillArrivesByNotification() {
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim2 serial=none"}));
    HIDDevicesManager manager;
    manager.scanDevices();
    QVERIFY(manager.devices().isEmpty());
    QVERIFY(manager.handleArrival("/dev/hidraw-sim2", 0x2E3C, 0x0A15));
    QCOMPARE(manager.devices().keys(), QStringList({"/DEV/HIDRAW-SIM2"}));
  }

  void failingInterfaceBesideAnsweringOne() {
    QVERIFY(writeDevices(
        m_config, {"/dev/hidraw-sim3 interface=0 fail=write", "/dev/hidraw-sim4 interface=2"}));
    hidtest::LogCapture capture;
    HIDDevicesManager manager;
    QVERIFY(!manager.handleArrival("/dev/hidraw-sim3", 0x2E3C, 0x0A15));
    QVERIFY(manager.handleArrival("/dev/hidraw-sim4", 0x2E3C, 0x0A15));
    QCOMPARE(manager.devices().keys(), QStringList({"/DEV/HIDRAW-SIM4"}));
    QCOMPARE(capture.count("Write data to device fail"), 1);
  }

  void nullPathLooksUpInterfaceTwo() {
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim5 interface=0", "/dev/hidraw-sim6 interface=2",
                                    "/dev/hidraw-sim7 interface=2"}));
    HIDDevicesManager manager;
    QVERIFY(manager.recognize(0x2E3C, 0x0A15, nullptr));
    QCOMPARE(manager.devices().keys(), QStringList({"/DEV/HIDRAW-SIM6"}));

    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim5 interface=0"}));
    HIDDevicesManager none;
    QVERIFY(!none.recognize(0x2E3C, 0x0A15, nullptr));
  }

  void arrivalOfAKnownPathOverwrites() {
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim8 fw=1.0"}));
    HIDDevicesManager manager;
    manager.scanDevices();
    QCOMPARE(manager.devices().size(), 1);
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim8 fw=3.1"}));
    // Paths are opened as the system spells them; another spelling is another node.
    QVERIFY(!manager.handleArrival("/DEV/HIDRAW-SIM8", 0x2E3C, 0x0A15));
    QCOMPARE(manager.devices().first().firmwareVersion, "1.0");
    QVERIFY(manager.handleArrival("/dev/hidraw-sim8", 0x2E3C, 0x0A15));
    QCOMPARE(manager.devices().size(), 1);
    QCOMPARE(manager.devices().first().firmwareVersion, "3.1");
  }

  void removals() {
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim9", "/dev/hidraw-sim10"}));
    HIDDevicesManager manager;
    manager.scanDevices();
    QCOMPARE(manager.devices().size(), 2);
    manager.handleRemoval("/dev/hidraw-unknown");
    QCOMPARE(manager.devices().size(), 2);
    manager.handleRemoval("/dev/HIDRAW-sim9");  // compared without regard to case
    QCOMPARE(manager.devices().keys(), QStringList({"/DEV/HIDRAW-SIM10"}));
  }

  void windowsMessagesReachTheTable() {
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim11"}));
    HIDDevicesManager manager;
    manager.scanDevices();
    DeviceChange removal;
    removal.kind = DeviceChange::Removal;
    removal.path = "/DEV/HIDRAW-SIM11";
    manager.applyDeviceChange(removal);
    QVERIFY(manager.devices().isEmpty());
  }

  void damagedSimulatorLinesAreSkipped() {
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim14 fail=explode", "/dev/hidraw-sim15 hw=1.x",
                                    "/dev/hidraw-sim16 uuid=12", "# a comment", "",
                                    "/dev/hidraw-sim17 serial=OK1"}));
    HIDDevicesManager manager;
    manager.scanDevices();
    QCOMPARE(manager.devices().keys(), QStringList({"/DEV/HIDRAW-SIM17"}));
  }

  void tableOrderIsByKey() {
    QVERIFY(writeDevices(m_config, {"/dev/hidraw-sim13", "/dev/hidraw-sim12", "/dev/hidraw-a"}));
    HIDDevicesManager manager;
    manager.scanDevices();
    QCOMPARE(manager.devices().keys(),
             QStringList({"/DEV/HIDRAW-A", "/DEV/HIDRAW-SIM12", "/DEV/HIDRAW-SIM13"}));
  }
};

QTEST_GUILESS_MAIN(TestHIDDevicesManager)
#include "tst_hiddevicesmanager.moc"
