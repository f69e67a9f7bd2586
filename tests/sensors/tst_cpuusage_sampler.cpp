// The real helper started by the real sampler: its value reaches the sample, it is
// started once and again after it died, and no helper outlives the program, whether
// the program ends or is killed.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <optional>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "cpuusage.h"
#include "fixturetree.h"
#include "hardwareinforeader.h"
#include "helperprocess.h"
#include "logcapture.h"

using helpertest::helperBinary;
using helpertest::nextLine;
using helpertest::processAlive;

using fixtures::writeFile;

class TestCpuUsageSampler : public QObject {
  Q_OBJECT

  std::optional<testsupport::LogCapture> m_quiet;

  QTemporaryDir m_root;

  QString rate() const {
    return HardwareInfoReader::instance()->currentHardwareInfo().strCPUUsageRate;
  }

 private slots:
  void initTestCase() {
    QVERIFY(QFile::exists(helperBinary()));
    // A machine standing still: the library finds no load, so every value in the
    // usage field comes from the helper, which reports 0 for a still /proc/stat.
    QVERIFY(writeFile(m_root.filePath("proc/stat"),
                      "cpu  100 0 100 800 0 0 0 0 0 0\ncpu0 100 0 100 800 0 0 0 0 0 0\n"));
    // The msr module counts as loaded but has no devices: nothing is loaded or read.
    QVERIFY(QDir().mkpath(m_root.filePath("sys/module/msr")));
    QVERIFY(QDir().mkpath(m_root.filePath("dev")));
    qputenv("HOST_PROC", m_root.filePath("proc").toLocal8Bit());
    qputenv("HOST_SYS", m_root.filePath("sys").toLocal8Bit());
    qputenv("HOST_DEV", m_root.filePath("dev").toLocal8Bit());
    // Orphaned helpers of the killed program come to this process to be reaped.
    QCOMPARE(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    m_quiet.emplace();
  }

  void cleanupTestCase() { m_quiet.reset(); }

  void helperValueReachesTheSample() {
    cpuusage::setHelperPath(helperBinary());
    auto reader = HardwareInfoReader::instance();
    auto* helper = reader->findChild<cpuusage::HelperProcess*>();
    QVERIFY(helper);
    QCOMPARE(rate(), QStringLiteral("--"));
    reader->start(300);
    QTRY_COMPARE_WITH_TIMEOUT(rate(), QStringLiteral("0"), 30000);

    // Started once, not again by every pass while it runs.
    const qint64 pid = helper->processId();
    QVERIFY(processAlive(pid));
    QSignalSpy passes(reader.data(), &HardwareInfoReader::signalsGetHardwareInfo);
    QTRY_VERIFY_WITH_TIMEOUT(passes.size() >= 3, 30000);
    QCOMPARE(helper->processId(), pid);

    // A helper that dies is started again by a later pass; the value keeps its text.
    ::kill(pid_t(pid), SIGKILL);
    QTRY_VERIFY_WITH_TIMEOUT(helper->isRunning() && helper->processId() != pid, 30000);
    QCOMPARE(rate(), QStringLiteral("0"));
  }

  void noHelperLeftAfterTheProgram_data() {
    QTest::addColumn<bool>("killed");
    QTest::newRow("ends") << false;
    QTest::newRow("is killed") << true;
  }
  void noHelperLeftAfterTheProgram() {
    QFETCH(bool, killed);
    QProcess program;
    program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tst_cpuusage_child"),
                  {helperBinary()});
    QVERIFY(program.waitForStarted(10000));
    const qint64 pid = nextLine(program).trimmed().toLongLong();
    QVERIFY2(pid > 0, program.readAllStandardError().constData());
    QVERIFY(processAlive(pid));
    if (killed)
      program.kill();
    else
      program.closeWriteChannel();  // the program quits and releases its sampler
    QVERIFY(program.waitForFinished(30000));
    if (!killed) {
      QCOMPARE(program.exitStatus(), QProcess::NormalExit);
      QCOMPARE(program.exitCode(), 0);
    }
    int status = 0;
    pid_t reaped = 0;  // the macro checks its condition once more after success
    QTRY_VERIFY_WITH_TIMEOUT(reaped == pid_t(pid) || !processAlive(pid) ||
                                 (reaped = ::waitpid(pid_t(pid), &status, WNOHANG)) == pid_t(pid),
                             30000);
    QVERIFY(!processAlive(pid));
  }
};

QTEST_GUILESS_MAIN(TestCpuUsageSampler)
#include "tst_cpuusage_sampler.moc"
