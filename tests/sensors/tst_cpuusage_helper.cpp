#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>
#include <ctime>
#include <string>

#include "cpuload.h"
#include "helperprocess.h"

using helpertest::helperBinary;
using helpertest::processAlive;

namespace {

// A /proc/stat as the kernel writes it, with the aggregate line given.
QByteArray procStat(const QByteArray& cpuFields) {
  return "cpu  " + cpuFields + "\ncpu0 1 2 3 4 5 6 7 8 0 0\nintr 12345 0 0\nctxt 99\n";
}

}  // namespace

class TestCpuLoadHelper : public QObject {
  Q_OBJECT

  QTemporaryDir m_proc;

  void writeStat(const QByteArray& cpuFields) {
    QSaveFile file(m_proc.filePath(QStringLiteral("stat")));  // replaced whole, never half-read
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(procStat(cpuFields));
    QVERIFY(file.commit());
  }

  // The next line the process writes, empty if none comes in time.
 private slots:
  void initTestCase() {
    QVERIFY(QFile::exists(helperBinary()));
    QCOMPARE(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    qputenv("HOST_PROC", m_proc.path().toLocal8Bit());
  }

  void lines() {
    QCOMPARE(cpuload::headerLine("box", "\\Processor(_Total)\\% Processor Time"),
             std::string("\"(PDH-CSV 4.0)\",\"\\\\box\\Processor(_Total)\\% Processor Time\"\n"));
    QCOMPARE(cpuload::headerLine("box", "odd\"name\nhere"),
             std::string("\"(PDH-CSV 4.0)\",\"\\\\box\\odd\"\"name here\"\n"));
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 8;
    t.tm_hour = 3;
    t.tm_min = 4;
    t.tm_sec = 5;
    char buffer[96];
    size_t n = cpuload::sampleLine(buffer, sizeof buffer, t, 7, 5.46875);
    QCOMPARE(std::string(buffer, n), std::string("\"12/08/2026 03:04:05.007\",\"5.468750\"\n"));
    n = cpuload::sampleLine(buffer, sizeof buffer, t, 999, 100.0);
    QCOMPARE(std::string(buffer, n), std::string("\"12/08/2026 03:04:05.999\",\"100.000000\"\n"));
    QCOMPARE(cpuload::sampleLine(buffer, 10, t, 0, 1.0), size_t(0));  // does not fit
  }

  // The helper run against a scripted /proc/stat: each line reports the share of busy
  // time between the stat it read a second earlier and the one it reads now.
  void reportsScriptedSequence() {
    writeStat("100 0 100 800 0 0 0 0 0 0");
    QProcess helper;
    helper.start(helperBinary(), {QStringLiteral("\\Processor(_Total)\\% Processor Time")});
    QVERIFY(helper.waitForStarted(10000));
    QVERIFY(helpertest::nextLine(helper).startsWith("\"(PDH-CSV 4.0)\",\"\\\\"));

    struct Step {
      QByteArray stat;
      QByteArray percent;
    };
    const Step steps[] = {
        {"150 0 150 900 0 0 0 0 0 0", "50.000000"},
        {"150 0 150 1200 100 0 0 0 0 0", "0.000000"},        // iowait is idle time
        {"450 0 150 1200 100 0 0 100 100 0", "100.000000"},  // guest inside user
        {"450 0 150 1200 100 0 0 100 100 0", "0.000000"},    // no time passed
        {"453 0 153 1204 98 0 0 100 100 0", "75.000000"},    // iowait went back
    };
    const QRegularExpression shape(
        QLatin1String(R"re(^"\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3}","([0-9.]+)"\n$)re"));
    for (const Step& step : steps) {
      writeStat(step.stat);
      const QByteArray line = helpertest::nextLine(helper);
      const QRegularExpressionMatch match = shape.match(QString::fromLatin1(line));
      QVERIFY2(match.hasMatch(), line.constData());
      QCOMPARE(match.captured(1).toLatin1(), step.percent);
    }
    helper.kill();
    helper.waitForFinished(10000);
  }

  void endsWhenItsOutputIsClosed() {
    writeStat("1 1 1 1");
    // The reader goes away after two lines while the parent shell waits on.
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("{ \"$0\" counter; echo \"helper exit $?\" >&2; } | head -n 2"),
                 helperBinary()});
    QVERIFY(shell.waitForStarted(10000));
    QVERIFY(shell.waitForFinished(15000));
    QCOMPARE(shell.readAllStandardOutput().count('\n'), 2);
    QCOMPARE(shell.readAllStandardError(), QByteArray("helper exit 0\n"));
  }

  void endsWhenItsParentIsKilled() {
    writeStat("1 1 1 1");
    // A shell stands in for the program: it starts the helper, tells its process id
    // and waits. The helper's input is not the parent's pipe here and its output stays
    // read, so only the parent's death can end it, although it inherits SIGTERM ignored.
    QProcess parent;
    parent.start(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
         QStringLiteral("trap '' TERM; \"$0\" counter & echo $!; exec sleep 600"), helperBinary()});
    QVERIFY(parent.waitForStarted(10000));
    const qint64 pid = helpertest::nextLine(parent).trimmed().toLongLong();
    QVERIFY(pid > 0);
    QVERIFY(helpertest::nextLine(parent).startsWith("\"(PDH-CSV 4.0)\""));  // it is up and watching
    QVERIFY(processAlive(pid));
    ::kill(pid_t(parent.processId()), SIGKILL);
    QVERIFY(parent.waitForFinished(10000));
    // As the subreaper, this test adopts the orphan and learns how it ended.
    int status = 0;
    pid_t reaped = 0;  // the macro checks its condition once more after success
    QTRY_VERIFY_WITH_TIMEOUT(
        reaped == pid_t(pid) || (reaped = ::waitpid(pid_t(pid), &status, WNOHANG)) == pid_t(pid),
        15000);
    QVERIFY(WIFSIGNALED(status));
    QCOMPARE(WTERMSIG(status), SIGTERM);
  }

  // The program holds the writing end of the helper's input; when that goes (the
  // program died, even before the death signal was set up), the helper goes too.
  void endsWhenItsInputLosesItsWriter() {
    writeStat("1 1 1 1");
    QProcess helper;
    helper.start(helperBinary(), {QStringLiteral("counter")});
    QVERIFY(helper.waitForStarted(10000));
    QVERIFY(!helpertest::nextLine(helper).isEmpty());
    helper.write("ignored\n");  // stray input is no reason to end
    QVERIFY(helper.waitForBytesWritten(10000));
    QVERIFY(!helpertest::nextLine(helper).isEmpty());
    helper.closeWriteChannel();
    QVERIFY(helper.waitForFinished(15000));
    QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
    QCOMPARE(helper.exitCode(), 0);
  }

  void refusesWrongArguments() {
    QProcess helper;
    helper.start(helperBinary(), QStringList());
    QVERIFY(helper.waitForFinished(10000));
    QCOMPARE(helper.exitCode(), 2);
    QVERIFY(helper.readAllStandardError().contains("usage"));
    QVERIFY(helper.readAllStandardOutput().isEmpty());
  }
};

QTEST_GUILESS_MAIN(TestCpuLoadHelper)
#include "tst_cpuusage_helper.moc"
