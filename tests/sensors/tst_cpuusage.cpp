#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>

#include "cpuusage.h"
#include "helperprocess.h"
#include "logcapture.h"

namespace {

const QString kUtility = QStringLiteral("\\Processor Information(_Total)\\% Processor Utility");
const QString kTime = QStringLiteral("\\Processor(_Total)\\% Processor Time");
const QByteArray kHeader =
    "\"(PDH-CSV 4.0)\",\"\\\\HOST\\Processor(_Total)\\% Processor Time\"\r\n";

QByteArray dataLine(const QByteArray& value) {
  return "\"12/08/2026 03:00:00.000\",\"" + value + "\"\r\n";
}

// The parser's input as the helper's pipe gives it, opened as the sampler opens it.
struct FeedDevice : cpuusage::FeedDevice {
  FeedDevice() { open(QIODevice::ReadOnly); }
};

QString helperBinary() {
  return qEnvironmentVariable("STELVOX_BINARY_DIR") + QStringLiteral("/bin/stelvox-cpuload");
}

}  // namespace

using helpertest::processAlive;

Q_DECLARE_METATYPE(std::optional<int>)

class TestCpuUsage : public QObject {
  Q_OBJECT

  std::optional<testsupport::LogCapture> m_quiet;

 private slots:
  void initTestCase() {
    // Unreadable values are logged; keep the output to the test's own lines.
    m_quiet.emplace();
  }
  void cleanupTestCase() { m_quiet.reset(); }

  void parseLine_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<std::optional<int>>("value");
    const std::optional<int> none;
    QTest::newRow("value line") << dataLine("5.468750") << std::optional<int>(5);
    QTest::newRow("half rounds up") << dataLine("99.500000") << std::optional<int>(100);
    QTest::newRow("below half") << dataLine("0.499999") << std::optional<int>(0);
    QTest::newRow("exactly half") << dataLine("0.500000") << std::optional<int>(1);
    QTest::newRow("100 percent has 10 chars") << dataLine("100.000000") << none;
    QTest::newRow("header") << kHeader << none;
    QTest::newRow("blank") << QByteArray("\r\n") << none;
    QTest::newRow("empty field") << dataLine("") << none;
    QTest::newRow("no comma") << QByteArray("12.5\n") << std::optional<int>(13);
    QTest::newRow("line feed only") << QByteArray("\"t\",\"7.25\"\n") << std::optional<int>(7);
    QTest::newRow("spaces") << dataLine(" 42 ") << std::optional<int>(42);
    QTest::newRow("nine characters") << dataLine("12.345678") << std::optional<int>(12);
    // Out of range values still count as the line's value; the caller rejects them.
    QTest::newRow("negative half") << dataLine("-0.5") << std::optional<int>(-1);
    QTest::newRow("above 100") << dataLine("100.5") << std::optional<int>(101);
    QTest::newRow("huge") << dataLine("1e30") << std::optional<int>(101);
    QTest::newRow("hugely negative") << dataLine("-1e30") << std::optional<int>(-1);
    // Text that is no number is passed over rather than read as 0 percent.
    QTest::newRow("not a number") << dataLine("abc") << none;
    QTest::newRow("nan") << dataLine("nan") << none;
    QTest::newRow("inf") << dataLine("inf") << none;
    QTest::newRow("high bytes") << dataLine("\xff\xfe") << none;
    QTest::newRow("NUL ends the line")
        << QByteArray("\"t\",\"7.0\0\",\"99\"\n", 16) << std::optional<int>(7);
    QTest::newRow("NUL first") << QByteArray("\0\"5\"\n", 5) << none;
  }
  void parseLine() {
    QFETCH(QByteArray, line);
    QFETCH(std::optional<int>, value);
    QCOMPARE(cpuusage::parseLine(line), value);
  }

  void readRate_data() {
    QTest::addColumn<QByteArray>("pending");
    QTest::addColumn<std::optional<int>>("value");
    const std::optional<int> none;
    QTest::newRow("nothing pending") << QByteArray() << none;
    QTest::newRow("one line") << dataLine("5.468750") << std::optional<int>(5);
    QTest::newRow("header and blank only") << kHeader + "\r\n" << none;
    QTest::newRow("header then value")
        << kHeader + "\r\n" + dataLine("37.1") << std::optional<int>(37);
    QTest::newRow("last of two wins")
        << dataLine("20.0") + dataLine("30.0") << std::optional<int>(30);
    QTest::newRow("100 percent passed over")
        << dataLine("20.0") + dataLine("100.000000") << std::optional<int>(20);
    QTest::newRow("last value out of range") << dataLine("20.0") + dataLine("150") << none;
    QTest::newRow("garbage after value") << dataLine("20.0") + "nonsense\n"
                                         << std::optional<int>(20);
    QTest::newRow("unfinished line waits") << QByteArray("\"t\",\"5.46") << none;
    QTest::newRow("complete then unfinished")
        << dataLine("20.0") + "\"t\",\"9" << std::optional<int>(20);
    QTest::newRow("long complete line") << QByteArray(300000, 'x') + ",\"3.0\"\n"
                                        << std::optional<int>(3);
    QTest::newRow("zero") << dataLine("0.000000") << std::optional<int>(0);
  }
  void readRate() {
    QFETCH(QByteArray, pending);
    QFETCH(std::optional<int>, value);
    FeedDevice device;
    device.feed(pending);
    QCOMPARE(cpuusage::readRate(device), value);
  }

  void partialLineIsReadWhenComplete() {
    FeedDevice device;
    device.feed("\"12/08/2026 03:00:00.000\",\"5.46");
    QCOMPARE(cpuusage::readRate(device), std::optional<int>());
    device.feed("8750\"\r\n");
    QCOMPARE(cpuusage::readRate(device), std::optional<int>(5));
    QCOMPARE(cpuusage::readRate(device), std::optional<int>());
  }

  void runawayLineIsDroppedWithItsTail() {
    FeedDevice device;
    device.feed(QByteArray(200000, '7'));
    QCOMPARE(cpuusage::readRate(device), std::optional<int>());
    QCOMPARE(device.bytesAvailable(), 0);  // nothing held on to
    // The end of that line would otherwise read as a value.
    device.feed("7\",\"8\"\n");
    QCOMPARE(cpuusage::readRate(device), std::optional<int>());
    device.feed(dataLine("12.0"));
    QCOMPARE(cpuusage::readRate(device), std::optional<int>(12));
  }

  void arbitraryBytesNeverGiveAnInvalidValue() {
    QRandomGenerator random(20261208);
    FeedDevice device;
    const QByteArray alphabet("0123456789.,\"\r\n\0-e+ xnaif", 26);
    for (int round = 0; round < 3000; ++round) {
      QByteArray chunk(int(random.bounded(40)), '\0');
      for (char& c : chunk) c = alphabet[int(random.bounded(alphabet.size()))];
      device.feed(chunk);
      const std::optional<int> value = cpuusage::readRate(device);
      if (value) QVERIFY2(*value >= 0 && *value <= 100, qPrintable(QString::number(*value)));
    }
  }

  void unreadableDeviceGivesNothing() {
    cpuusage::HelperProcess neverStarted;
    QCOMPARE(cpuusage::readRate(neverStarted), std::optional<int>());
  }

  void counterPath_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("counter");
    QTest::newRow("6.1") << "6.1" << kTime;
    QTest::newRow("8.1") << "8.1" << kTime;
    QTest::newRow("9") << "9" << kTime;
    QTest::newRow("10") << "10" << kUtility;
    QTest::newRow("11") << "11" << kUtility;
    QTest::newRow("10.0.19045") << "10.0.19045" << kUtility;
    QTest::newRow("empty") << "" << kTime;
    QTest::newRow("unknown") << "unknown" << kTime;
  }
  void counterPath() {
    QFETCH(QString, version);
    QFETCH(QString, counter);
    QCOMPARE(cpuusage::counterPath(version), counter);
  }

  void systemVersionIsTheKernelMajor() {
    const QString version = sensors::platform::systemVersionText();
    bool ok = false;
    QVERIFY2(version.toInt(&ok, 10) > 0 && ok, qPrintable(version));
    QVERIFY(QSysInfo::kernelVersion().startsWith(version + QLatin1Char('.')));
  }

  void helperDefaultsToBesideTheProgram() {
    cpuusage::setHelperPath(QString());
    QCOMPARE(cpuusage::helperPath(),
             QCoreApplication::applicationDirPath() + QStringLiteral("/stelvox-cpuload"));
  }

  void missingHelperIsRetriedWithoutHarm() {
    cpuusage::setHelperPath(QStringLiteral("/nonexistent/stelvox-cpuload"));
    cpuusage::HelperProcess process;
    for (int attempt = 0; attempt < 3; ++attempt) {
      cpuusage::startProcess(process);
      QVERIFY(!process.isRunning());
      QCOMPARE(process.processId(), 0);
      process.fetch();
      QCOMPARE(cpuusage::readRate(process), std::optional<int>());
    }
  }

  void startsTheHelperOnceAndReadsIt() {
    // A still machine: the helper reports 0, never the 100 percent that a busy build
    // machine would show and the parser passes over.
    QTemporaryDir proc;
    QFile stat(proc.filePath(QStringLiteral("stat")));
    QVERIFY(stat.open(QIODevice::WriteOnly));
    stat.write("cpu  100 0 100 800 0 0 0 0 0 0\n");
    stat.close();
    qputenv("HOST_PROC", proc.path().toLocal8Bit());
    cpuusage::setHelperPath(helperBinary());
    cpuusage::HelperProcess process;
    cpuusage::startProcess(process);
    QVERIFY(process.isRunning());
    QCOMPARE(process.program(), helperBinary());
    QCOMPARE(process.arguments(),
             QStringList{cpuusage::counterPath(sensors::platform::systemVersionText())});
    QCOMPARE(process.openMode(), QIODevice::ReadWrite);
    const qint64 pid = process.processId();
    cpuusage::startProcess(process);  // running: left alone
    QCOMPARE(process.processId(), pid);

    std::optional<int> value;
    // The macro evaluates its condition once more at the end: keep the first value.
    QTRY_VERIFY_WITH_TIMEOUT(
        (value = value ? value : (process.fetch(), cpuusage::readRate(process))).has_value(),
        15000);
    QCOMPARE(*value, 0);
    process.close();
    QVERIFY(!process.isRunning());
    QVERIFY(!processAlive(pid));
    cpuusage::setHelperPath(QString());
    qunsetenv("HOST_PROC");
  }
};

QTEST_GUILESS_MAIN(TestCpuUsage)
#include "tst_cpuusage.moc"
