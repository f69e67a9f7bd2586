// The sampler as the program runs it: the real sensor library over a copy of a
// recorded AMD desktop that the test changes between passes, the msr device tree of
// the driver, and a stand-in CPU-usage helper.
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "cpuusage.h"
#include "fixturetree.h"
#include "hardwareinforeader.h"
#include "wring.h"

Q_DECLARE_METATYPE(COMMON::HardwareInfo)

namespace {
QString sampleText(const COMMON::HardwareInfo& info) {
  return QStringList{info.strCPUTemperature, info.strCPUUsageRate, info.strGPUTemperature,
                     info.strGPUUsageRate, info.strFanRpm}
      .join(' ');
}
}  // namespace

class TestHardwareInfoReader : public QObject {
  Q_OBJECT

  QTemporaryDir m_root;
  QString hwmon(const QString& file) const { return m_root.path() + "/sys/class/hwmon/" + file; }

  // One pass run directly; returns the sample it emitted.
  QString pass() {
    auto reader = HardwareInfoReader::instance();
    QSignalSpy spy(reader.data(), &HardwareInfoReader::signalsGetHardwareInfo);
    reader->onReadHardwareInfo();
    if (spy.count() != 1) return QStringLiteral("emitted %1 times").arg(spy.count());
    return sampleText(qvariant_cast<COMMON::HardwareInfo>(spy.at(0).at(0)));
  }

  // The thermal status register of processor 0 with `readout` degrees below the maximum.
  bool writeMsr(int readout) {
    QByteArray content(0x19C + 8, '\0');
    const quint32 low = quint32(readout) << 16 | quint32(WRingDriver::kReadingValid);
    for (int i = 0; i < 4; ++i) content[0x19C + i] = char((low >> (8 * i)) & 0xff);
    return fixtures::writeFile(m_root.path() + "/dev/cpu/0/msr", content);
  }

 private slots:
  void initTestCase() {
    qRegisterMetaType<COMMON::HardwareInfo>();
    QVERIFY(fixtures::copyTree("amd-desktop", m_root.path()));
    // A processor whose register cannot be read: the driver gives 0, nothing is loaded.
    QVERIFY(fixtures::writeFile(m_root.path() + "/dev/cpu/0/msr", ""));
    fixtures::useRoots(m_root.path());
    cpuusage::setHelperPath(m_root.path() + "/no-such-helper");
    QCOMPARE(HardwareInfoReader::instance()->currentHardwareInfo().strCPUUsageRate, QString("--"));
  }

  void instanceIsProcessWide() {
    QCOMPARE(HardwareInfoReader::instance().data(), HardwareInfoReader::instance().data());
  }

  void firstPassCombinesTheLibraryEntries() {
    // CPU 48.5 from k10temp's Tctl; no CPU fan, so the board's 1065; amdgpu edge 52 at 17 %.
    QCOMPARE(pass(), QString("48 -- 52 17 1065"));
  }

  void cpuTemperatureSlewsTowardANewReading() {
    QVERIFY(fixtures::writeFile(hwmon("hwmon1/temp1_input"), "50000\n"));
    QVERIFY(fixtures::writeFile(hwmon("hwmon1/temp3_input"), "50000\n"));
    QStringList seen;
    for (int i = 0; i < 4; ++i) seen << pass().section(' ', 0, 0);
    // 48.98, 49.46, 49.94, 50
    QCOMPARE(seen, QStringList({"48", "49", "49", "50"}));
  }

  void driverTemperatureWinsWhileTheLibraryStateAdvances() {
    QVERIFY(writeMsr(40));
    QCOMPARE(pass().section(' ', 0, 0), QString("60"));
    QCOMPARE(pass().section(' ', 0, 0), QString("60"));
    QVERIFY(fixtures::writeFile(m_root.path() + "/dev/cpu/0/msr", ""));
    QCOMPARE(pass().section(' ', 0, 0), QString("50"));  // the limiter reached 50 meanwhile
  }

  void cpuUsageFromTheHelperWhenTheLibraryHasNone() {
    const QString helper = m_root.path() + "/helper.sh";
    QVERIFY(fixtures::writeFile(helper,
                                "#!/bin/sh\n"
                                "printf '\"(PDH-CSV 4.0)\",\"%s\"\\r\\n' \"$1\"\n"
                                "printf '\"12/08/2026 03:00:00.000\",\"37.400000\"\\r\\n'\n"));
    QVERIFY(QFile::setPermissions(helper, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    cpuusage::setHelperPath(helper);
    // Each pass starts the helper when it is not running; its line arrives through the
    // event loop, and the library has no load that would override it.
    QTRY_COMPARE_WITH_TIMEOUT(
        (pass(), HardwareInfoReader::instance()->currentHardwareInfo().strCPUUsageRate),
        QString("37"), 20000);
    QCOMPARE(pass().section(' ', 1, 1), QString("37"));
  }

  void cpuUsageFromTheLibraryLoad() {
    const QString stat = m_root.path() + "/proc/stat";
    QFile in(stat);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QByteArray text = in.readAll();
    in.close();
    // Every processor 40 ticks busy of 100, the total line four times that.
    text.replace("cpu  40000 ", "cpu  40160 ").replace("320000 ", "320240 ");
    text.replace("cpu0 10000 30 4000 80000 ", "cpu0 10040 30 4000 80060 ");
    text.replace("cpu1 10000 30 4000 80000 ", "cpu1 10040 30 4000 80060 ");
    text.replace("cpu2 10000 30 4000 80000 ", "cpu2 10040 30 4000 80060 ");
    text.replace("cpu3 10000 30 4000 80000 ", "cpu3 10040 30 4000 80060 ");
    QVERIFY(fixtures::writeFile(stat, text));
    // A library load in 1 to 100 wins over the helper's value.
    QCOMPARE(pass().section(' ', 1, 1), QString("40"));
    QCOMPARE(pass().section(' ', 1, 1), QString("40"));  // no new ticks: the load stays
  }

  void sourcesWithoutValuesGivePlaceholders() {
    QVERIFY(fixtures::writeFile(hwmon("hwmon2/device/power/runtime_status"), "suspended\n"));
    QVERIFY(fixtures::writeFile(hwmon("hwmon3/fan1_input"), "0\n"));
    QVERIFY(fixtures::writeFile(hwmon("hwmon3/fan2_input"), "garbage\n"));
    const QString sample = pass();
    QCOMPARE(sample.section(' ', 2), QString("-- -- --"));
    QVERIFY(fixtures::writeFile(hwmon("hwmon2/device/power/runtime_status"), "active\n"));
    QVERIFY(fixtures::writeFile(hwmon("hwmon3/fan2_input"), "880\n"));
    QCOMPARE(pass().section(' ', 2), QString("52 17 880"));
  }

  void startRunsAPassAtOnceThenOnTheTimer() {
    auto reader = HardwareInfoReader::instance();
    QSignalSpy spy(reader.data(), &HardwareInfoReader::signalsGetHardwareInfo);
    reader->start(100);
    QCOMPARE(spy.count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 3, 20000);
    // A second start runs its pass but keeps the running timer.
    const int before = spy.count();
    reader->start(60000);
    QVERIFY(spy.count() > before);
    QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= before + 3, 20000);
  }
};

QTEST_GUILESS_MAIN(TestHardwareInfoReader)
#include "tst_hardwareinforeader.moc"
