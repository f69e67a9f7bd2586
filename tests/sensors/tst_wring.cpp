#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

#include "logcapture.h"
#include "wring.h"

namespace {

using Reads = std::vector<std::optional<std::uint64_t>>;
using TjMax = std::vector<unsigned int>;

// A thermal status value whose digital readout is `readout`, other bits as given.
std::uint64_t thermStatus(unsigned readout, std::uint64_t otherBits = WRingDriver::kReadingValid) {
  return otherBits | (std::uint64_t(readout & 0x7F) << 16);
}

// The modprobe the driver finds first on PATH: records its arguments and, by mode,
// fails or makes the msr devices of two processors appear and disappear.
const char kFakeModprobe[] = R"(#!/bin/sh
echo "$*" >> "$FAKE_MODPROBE_LOG"
case "$FAKE_MODPROBE_MODE" in
  fail)
    echo "modprobe: FATAL: Module msr not found in directory /lib/modules/test" >&2
    exit 1 ;;
  load)
    if [ "$1" = "-r" ]; then
      rm -rf "$HOST_DEV/cpu" "$HOST_SYS/module/msr"
    else
      mkdir -p "$HOST_SYS/module/msr"
      for n in 0 1; do
        mkdir -p "$HOST_DEV/cpu/$n"
        cp "$FAKE_MSR_TEMPLATE" "$HOST_DEV/cpu/$n/msr"
      done
    fi ;;
esac
exit 0
)";

}  // namespace

Q_DECLARE_METATYPE(Reads)
Q_DECLARE_METATYPE(TjMax)

class TestWRing : public QObject {
  Q_OBJECT

  QTemporaryDir m_root;
  QString m_dev, m_sys, m_bin, m_callLog;
  std::optional<testsupport::LogCapture> m_log;

  QStringList errorLines() const { return m_log->lines().filter(QStringLiteral("] [Error   ] ")); }

  // A processor's msr device: the register at its offset, or a file too short to
  // read from when `value` is empty.
  void addProcessor(int n, std::optional<std::uint64_t> value) {
    QVERIFY(QDir().mkpath(QStringLiteral("%1/cpu/%2").arg(m_dev).arg(n)));
    writeMsr(QStringLiteral("%1/cpu/%2/msr").arg(m_dev).arg(n), value);
  }

  static void writeMsr(const QString& path, std::optional<std::uint64_t> value) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    if (!value) return;
    const std::uint64_t registerValue = *value;
    QVERIFY(file.seek(WRingDriver::kThermStatusRegister));
    QCOMPARE(file.write(reinterpret_cast<const char*>(&registerValue), 8), qint64(8));
  }

  QStringList modprobeCalls() const {
    QFile file(m_callLog);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }

 private slots:
  void initTestCase() {
    QVERIFY(m_root.isValid());
    m_bin = m_root.filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(m_bin));
    QFile script(m_bin + QStringLiteral("/modprobe"));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(kFakeModprobe);
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // The real modprobe must never be reached from here.
    qputenv("PATH", m_bin.toLocal8Bit() + ':' + qgetenv("PATH"));
    const QString tmpl = m_root.filePath(QStringLiteral("msr-template"));
    writeMsr(tmpl, thermStatus(35));
    qputenv("FAKE_MSR_TEMPLATE", tmpl.toLocal8Bit());
  }

  void init() {
    static int round = 0;
    const QString base = m_root.filePath(QStringLiteral("case%1").arg(++round));
    m_dev = base + QStringLiteral("/dev");
    m_sys = base + QStringLiteral("/sys");
    m_callLog = base + QStringLiteral("/modprobe.log");
    QVERIFY(QDir().mkpath(m_dev));
    QVERIFY(QDir().mkpath(m_sys + QStringLiteral("/module")));
    qputenv("HOST_DEV", m_dev.toLocal8Bit());
    qputenv("HOST_SYS", m_sys.toLocal8Bit());
    qputenv("FAKE_MODPROBE_LOG", m_callLog.toLocal8Bit());
    qputenv("FAKE_MODPROBE_MODE", "fail");
    m_log.emplace();
  }

  void cleanup() { m_log.reset(); }

  void temperatureFromThermStatus_data() {
    QTest::addColumn<quint64>("value");
    QTest::addColumn<uint>("celsius");
    QTest::newRow("readout 0") << quint64(thermStatus(0)) << 100u;
    QTest::newRow("readout 40") << quint64(thermStatus(40)) << 60u;
    QTest::newRow("readout 99") << quint64(thermStatus(99)) << 1u;
    // Status flags below the field, bits 23..31 and the whole high word are not read.
    QTest::newRow("other bits ignored") << quint64(thermStatus(40, 0xFFFFFFFF'FF80FFFFull)) << 60u;
    // A readout past the assumed maximum must not wrap round to billions of degrees.
    QTest::newRow("readout 100") << quint64(thermStatus(100)) << 0u;
    QTest::newRow("readout 127") << quint64(thermStatus(127)) << 0u;
  }
  void temperatureFromThermStatus() {
    QFETCH(quint64, value);
    QFETCH(uint, celsius);
    QCOMPARE(WRingDriver::temperatureFromThermStatus(value), celsius);
  }

  void averageTemperature_data() {
    QTest::addColumn<Reads>("reads");
    QTest::addColumn<TjMax>("tjMax");
    QTest::addColumn<uint>("celsius");
    QTest::newRow("four processors")
        << Reads{thermStatus(40), thermStatus(42), thermStatus(44), thermStatus(46)} << TjMax{}
        << 57u;
    QTest::newRow("two of four failed")
        << Reads{thermStatus(40), std::nullopt, thermStatus(40), std::nullopt} << TjMax{} << 30u;
    QTest::newRow("integer division") << Reads{thermStatus(40), thermStatus(41)} << TjMax{} << 59u;
    QTest::newRow("all failed") << Reads{std::nullopt, std::nullopt} << TjMax{} << 0u;
    QTest::newRow("no processors") << Reads{} << TjMax{} << 0u;
    QTest::newRow("valid bit clear: left out")
        << Reads{thermStatus(40), thermStatus(90, 0)} << TjMax{} << 60u;
    QTest::newRow("only invalid readings") << Reads{thermStatus(40, 0)} << TjMax{} << 0u;
    QTest::newRow("each processor's TjMax")
        << Reads{thermStatus(40), thermStatus(40)} << TjMax{90, 105} << 57u;
    QTest::newRow("readout past a low TjMax") << Reads{thermStatus(95)} << TjMax{90} << 0u;
  }
  void averageTemperature() {
    QFETCH(Reads, reads);
    QFETCH(TjMax, tjMax);
    QFETCH(uint, celsius);
    QCOMPARE(WRingDriver::averageTemperature(reads, tjMax), celsius);
  }

  void tjMaxFromTemperatureTarget_data() {
    QTest::addColumn<Reads>("target");  // one register value, or none
    QTest::addColumn<uint>("tjMax");
    QTest::newRow("unreadable") << Reads{std::nullopt} << 100u;
    QTest::newRow("90") << Reads{0x005A0000ull} << 90u;
    QTest::newRow("105 with offset bits") << Reads{0x0F690000ull | 0xFFFF} << 105u;
    QTest::newRow("zero") << Reads{0ull} << 100u;
    QTest::newRow("implausible 255") << Reads{0x00FF0000ull} << 100u;
  }
  void tjMaxFromTemperatureTarget() {
    QFETCH(Reads, target);
    QFETCH(uint, tjMax);
    QCOMPARE(WRingDriver::tjMaxFromTemperatureTarget(target.front()), tjMax);
  }

  void temperatureTargetIsReadFromTheDevice() {
    addProcessor(0, thermStatus(40));
    addProcessor(1, thermStatus(40));
    QFile target(m_dev + QStringLiteral("/cpu/1/msr"));
    QVERIFY(target.open(QIODevice::ReadWrite));
    const std::uint64_t tjMax90 = 90u << 16;
    QVERIFY(target.seek(WRingDriver::kTemperatureTargetRegister));
    QCOMPARE(target.write(reinterpret_cast<const char*>(&tjMax90), 8), qint64(8));
    target.close();
    WRingDriver driver;
    QVERIFY(driver.InitializeWRing());
    QCOMPARE(driver.readProcessorTemperature(), 55u);  // (60 + 50) / 2
  }

  void readsEveryProcessorDevice() {
    addProcessor(0, thermStatus(40));
    addProcessor(1, thermStatus(42, 0x88000000'80000001ull));
    addProcessor(2, thermStatus(44));
    addProcessor(3, thermStatus(46));
    WRingDriver driver;
    QCOMPARE(driver.readProcessorTemperature(), 0u);  // not open yet
    QVERIFY(driver.InitializeWRing());
    QCOMPARE(driver.readProcessorTemperature(), 57u);
    // The registers are read anew on every call.
    writeMsr(m_dev + QStringLiteral("/cpu/0/msr"), thermStatus(20));
    QCOMPARE(driver.readProcessorTemperature(), 62u);
    QVERIFY(errorLines().isEmpty());
    // Devices already there: no module was loaded, so none is unloaded.
    driver.RemoveWRingService();
    QCOMPARE(driver.readProcessorTemperature(), 0u);
    QCOMPARE(modprobeCalls(), QStringList());
  }

  void failedReadsCountInTheDivisor() {
    addProcessor(0, thermStatus(40));
    addProcessor(1, std::nullopt);
    addProcessor(2, thermStatus(40));
    addProcessor(3, std::nullopt);
    WRingDriver driver;
    QVERIFY(driver.InitializeWRing());
    QCOMPARE(driver.readProcessorTemperature(), 30u);
  }

  void unopenableProcessorCountsAsFailedRead() {
    addProcessor(0, thermStatus(40));
    addProcessor(1, thermStatus(40));
    QVERIFY(QDir().mkpath(m_dev + QStringLiteral("/cpu/2")));  // no device node
    WRingDriver driver;
    QVERIFY(driver.InitializeWRing());
    QCOMPARE(driver.readProcessorTemperature(), 40u);
    QCOMPARE(errorLines().size(), 1);
    QVERIFY2(errorLines()[0].contains(QStringLiteral("HardwareInfoReader::OpenWRingDriver(): ")),
             qPrintable(errorLines()[0]));
    QVERIFY(errorLines()[0].contains(m_dev + QStringLiteral("/cpu/2/msr")));
  }

  void missingDeviceGivesZeroAndOneErrorLine() {
    WRingDriver driver;
    QVERIFY(!driver.InitializeWRing());
    QCOMPARE(driver.readProcessorTemperature(), 0u);
    QCOMPARE(modprobeCalls(), QStringList{QStringLiteral("msr")});
    QCOMPARE(errorLines().size(), 1);
    const QString line = errorLines()[0];
    QVERIFY2(line.contains(QStringLiteral("HardwareInfoReader::InitializeWRing(): ")),
             qPrintable(line));
    QVERIFY2(line.contains(m_dev + QStringLiteral("/cpu/0/msr")), qPrintable(line));
    QVERIFY2(line.contains(QStringLiteral("Module msr not found")), qPrintable(line));
    // Nothing was loaded, so nothing is unloaded.
    driver.RemoveWRingService();
    QCOMPARE(modprobeCalls().size(), 1);
  }

  void openFailureIsLoggedWithThePath() {
    if (geteuid() == 0) QSKIP("root opens any file; the permission case needs another user");
    addProcessor(0, thermStatus(40));
    QVERIFY(QFile::setPermissions(m_dev + QStringLiteral("/cpu/0/msr"), QFile::Permissions()));
    WRingDriver driver;
    QVERIFY(!driver.InitializeWRing());
    QCOMPARE(driver.readProcessorTemperature(), 0u);
    QCOMPARE(errorLines().size(), 1);
    QVERIFY(errorLines()[0].contains(QStringLiteral("HardwareInfoReader::OpenWRingDriver(): ")));
    QVERIFY(errorLines()[0].contains(QStringLiteral("last error code: 13 (") + m_dev));
    QVERIFY(modprobeCalls().isEmpty());
  }

  void loadsTheModuleAndUnloadsOnlyWhatItLoaded() {
    qputenv("FAKE_MODPROBE_MODE", "load");
    {
      WRingDriver driver;
      QVERIFY(driver.InitializeWRing());
      QCOMPARE(driver.readProcessorTemperature(), 65u);
      QVERIFY(errorLines().isEmpty());
      driver.RemoveWRingService();
      QCOMPARE(driver.readProcessorTemperature(), 0u);
      QCOMPARE(modprobeCalls(), (QStringList{QStringLiteral("msr"), QStringLiteral("-r msr")}));
      driver.RemoveWRingService();  // already undone
      QCOMPARE(modprobeCalls().size(), 2);
    }
    QCOMPARE(modprobeCalls().size(), 2);
  }

  void moduleLoadedWithoutDevicesIsNotLoadedAgain() {
    QVERIFY(QDir().mkpath(m_sys + QStringLiteral("/module/msr")));
    WRingDriver driver;
    QVERIFY(!driver.InitializeWRing());
    QVERIFY(modprobeCalls().isEmpty());
    QCOMPARE(errorLines().size(), 1);
    driver.RemoveWRingService();
    QVERIFY(modprobeCalls().isEmpty());
  }

  void reinitialisingUnloadsFirst() {
    qputenv("FAKE_MODPROBE_MODE", "load");
    WRingDriver driver;
    QVERIFY(driver.InitializeWRing());
    QVERIFY(driver.InitializeWRing());
    QCOMPARE(modprobeCalls(),
             (QStringList{QStringLiteral("msr"), QStringLiteral("-r msr"), QStringLiteral("msr")}));
    QCOMPARE(driver.readProcessorTemperature(), 65u);
  }
};

QTEST_GUILESS_MAIN(TestWRing)
#include "tst_wring.moc"
