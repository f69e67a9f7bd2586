// Crash dumps: a fatal signal leaves a report under DumpCrashes in the working
// directory, starts the message process with its path, and the process still
// ends with that signal.
#include <signal.h>
#include <sys/resource.h>
#include <time.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

#include "crashhandler.h"

class TstCrash : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void formatStamp_data();
  void formatStamp();
  void formatStampMatchesCalendar();
  void dumpFilePathNeedsRoom();
  void localOffsetFollowsTransitions();
  void fatalSignalLeavesDump_data();
  void fatalSignalLeavesDump();
  void unwritableFolderStillNamesPath();
  void displacedHandlerIsTakenBack();
};

void TstCrash::initTestCase() {
  // The crashes below are expected; no core files for them.
  struct rlimit none = {0, 0};
  setrlimit(RLIMIT_CORE, &none);
}

void TstCrash::formatStamp_data() {
  QTest::addColumn<qlonglong>("seconds");
  QTest::addColumn<QString>("stamp");
  QTest::newRow("epoch") << 0LL << "19700101000000";
  QTest::newRow("before epoch") << -1LL << "19691231235959";
  QTest::newRow("leap day 2000") << 951782400LL << "20000229000000";
  QTest::newRow("example") << 1709647331LL << "20240305140211";
  QTest::newRow("end of 2099") << 4102444799LL << "20991231235959";
}

void TstCrash::formatStamp() {
  QFETCH(qlonglong, seconds);
  QFETCH(QString, stamp);
  char out[15];
  CrashHandler::formatStamp(seconds, out);
  QCOMPARE(QString::fromLatin1(out), stamp);
}

void TstCrash::formatStampMatchesCalendar() {
  // Every 7919 hours and some seconds over three centuries.
  for (qlonglong s = -2208988800LL; s < 7258118400LL; s += 7919LL * 3600 + 37) {
    char out[15];
    CrashHandler::formatStamp(s, out);
    const QString expected =
        QDateTime::fromSecsSinceEpoch(s, Qt::UTC).toString(QStringLiteral("yyyyMMddhhmmss"));
    QCOMPARE(QString::fromLatin1(out), expected);
  }
}

void TstCrash::dumpFilePathNeedsRoom() {
  char out[64];
  QVERIFY(CrashHandler::dumpFilePath("/home/u", 0, out, sizeof out));
  QCOMPARE(QString::fromLatin1(out),
           QStringLiteral("/home/u/DumpCrashes/Exception_19700101000000.dmp"));
  const std::size_t exact = std::strlen(out) + 1;
  QVERIFY(CrashHandler::dumpFilePath("/home/u", 0, out, exact));
  QVERIFY(!CrashHandler::dumpFilePath("/home/u", 0, out, exact - 1));
}

void TstCrash::localOffsetFollowsTransitions() {
  const QByteArray saved = qgetenv("TZ");
  qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
  tzset();
  const std::time_t from = 1767225600;  // 2026-01-01 00:00 UTC
  CrashHandler::prepareLocalTime(from);
  int changes = 0;
  long previous = CrashHandler::utcOffsetAt(from);
  for (std::time_t t = from; t < from + 365 * 86400; t += 1800) {
    const long offset = CrashHandler::utcOffsetAt(t);
    changes += offset != previous ? 1 : 0;
    previous = offset;
    QCOMPARE(offset, static_cast<long>(QDateTime::fromSecsSinceEpoch(t).offsetFromUtc()));
  }
  QCOMPARE(changes, 2);
  // The exact seconds around the spring change, 2026-03-29 01:00 UTC.
  QCOMPARE(CrashHandler::utcOffsetAt(1774745999), 3600L);
  QCOMPARE(CrashHandler::utcOffsetAt(1774746000), 7200L);
  if (saved.isNull())
    qunsetenv("TZ");
  else
    qputenv("TZ", saved);
  tzset();
}

namespace {

struct CrashRun {
  int signal = 0;
  bool crashed = false;
  QByteArray output;
};

CrashRun runProbe(const QString& workDir, const QString& record, const QString& mode,
                  int sendSignal, const QString& stateHome = QString()) {
  QProcess probe;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("CRASH_PROBE_RECORD"), record);
  if (!stateHome.isEmpty()) {
    // As if installed into a system folder: dumps go to the state folder instead.
    env.insert(QStringLiteral("CRASH_PROBE_PROGRAM_FOLDER"), QStringLiteral("/usr/bin"));
    env.insert(QStringLiteral("XDG_STATE_HOME"), stateHome);
  }
  probe.setProcessEnvironment(env);
  probe.setWorkingDirectory(workDir);
  probe.setProcessChannelMode(QProcess::MergedChannels);
  probe.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tst_crash_probe"), {mode});
  CrashRun run;
  if (!probe.waitForStarted(15000)) return run;
  if (sendSignal != 0) {
    // Wait until the handler is in place.
    while (!probe.readAll().contains("ready") && probe.state() == QProcess::Running)
      probe.waitForReadyRead(200);
    ::kill(static_cast<pid_t>(probe.processId()), sendSignal);
  }
  probe.waitForFinished(30000);
  run.output = probe.readAll();
  run.crashed = probe.exitStatus() == QProcess::CrashExit;
  run.signal = probe.exitCode();  // For a crash Qt reports the terminating signal here.
  return run;
}

QString dumpFolder(const QString& workDir, bool installed) {
  return workDir + (installed ? QStringLiteral("/state/Stelvox/DumpCrashes")
                              : QStringLiteral("/DumpCrashes"));
}

QStringList dumpsIn(const QString& workDir, bool installed = false) {
  return QDir(dumpFolder(workDir, installed))
      .entryList(QStringList{QStringLiteral("*")}, QDir::Files, QDir::Name);
}

}  // namespace

void TstCrash::fatalSignalLeavesDump_data() {
  QTest::addColumn<QString>("mode");
  QTest::addColumn<int>("sendSignal");
  QTest::addColumn<int>("expectedSignal");
  QTest::addColumn<QString>("expectedThread");
  QTest::addColumn<bool>("installed");  // run as if from a system folder
  const QString probe = QStringLiteral("tst_crash_probe");
  QTest::newRow("bad address") << "segv" << 0 << int(SIGSEGV) << probe << false;
  QTest::newRow("abort") << "abort" << 0 << int(SIGABRT) << probe << false;
  QTest::newRow("stack overflow") << "overflow" << 0 << int(SIGSEGV) << probe << false;
  QTest::newRow("second thread") << "thread" << 0 << int(SIGSEGV) << "crasher" << false;
  QTest::newRow("SIGSEGV sent") << "wait" << int(SIGSEGV) << int(SIGSEGV) << probe << false;
  QTest::newRow("SIGBUS sent") << "wait" << int(SIGBUS) << int(SIGBUS) << probe << false;
  QTest::newRow("SIGILL sent") << "wait" << int(SIGILL) << int(SIGILL) << probe << false;
  QTest::newRow("SIGFPE sent") << "wait" << int(SIGFPE) << int(SIGFPE) << probe << false;
  QTest::newRow("installed, state folder") << "segv" << 0 << int(SIGSEGV) << probe << true;
}

void TstCrash::fatalSignalLeavesDump() {
  QFETCH(QString, mode);
  QFETCH(int, sendSignal);
  QFETCH(int, expectedSignal);
  QFETCH(QString, expectedThread);
  QFETCH(bool, installed);
  QTemporaryDir work;
  QVERIFY(work.isValid());
  const QString record = work.filePath(QStringLiteral("record.txt"));
  const QString workPath = QDir(work.path()).canonicalPath();

  const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
  const CrashRun run = runProbe(work.path(), record, mode, sendSignal,
                                installed ? workPath + QStringLiteral("/state") : QString());
  const QDateTime after = QDateTime::currentDateTime().addSecs(2);
  QVERIFY2(run.crashed, run.output.constData());
  QCOMPARE(run.signal, expectedSignal);

  const QStringList dumps = dumpsIn(workPath, installed);
  QCOMPARE(dumps.size(), 1);
  if (installed) QVERIFY(!QFile::exists(work.filePath(QStringLiteral("DumpCrashes"))));
  const QRegularExpressionMatch name =
      QRegularExpression(QStringLiteral("^Exception_(\\d{14})\\.dmp$")).match(dumps.first());
  QVERIFY2(name.hasMatch(), qPrintable(dumps.first()));
  const QDateTime stamp = QDateTime::fromString(name.captured(1), QStringLiteral("yyyyMMddhhmmss"));
  QVERIFY2(stamp >= before && stamp <= after, qPrintable(name.captured(1)));

  const QString path = dumpFolder(workPath, installed) + QLatin1Char('/') + dumps.first();
  QFile dump(path);
  QVERIFY(dump.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(dump.readAll());
  QVERIFY(text.contains(QStringLiteral("Signal: %1 (").arg(expectedSignal)));
  QVERIFY2(text.contains(QStringLiteral(" (%1)\n").arg(expectedThread)),
           qPrintable(text.left(600)));
  const int backtrace = text.indexOf(QStringLiteral("\nBacktrace:\n"));
  const int memoryMap = text.indexOf(QStringLiteral("\nMemory map:\n"));
  QVERIFY(backtrace > 0 && memoryMap > backtrace);
  const QString frames = text.mid(backtrace, memoryMap - backtrace);
  QVERIFY2(frames.count(QStringLiteral("[0x")) >= 3, qPrintable(frames));
  QVERIFY(text.mid(memoryMap).contains(QStringLiteral("tst_crash_probe")));
  QVERIFY(run.output.contains(path.toLocal8Bit()));

  // The message process runs on after the crashed one is gone; it creates the file
  // before it writes its line.
  QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(record).size() > 0, 15000);
  QFile recorded(record);
  QVERIFY(recorded.open(QIODevice::ReadOnly));
  QCOMPARE(QString::fromLocal8Bit(recorded.readAll()), QStringLiteral("message %1\n").arg(path));
}

void TstCrash::unwritableFolderStillNamesPath() {
  QTemporaryDir work;
  QVERIFY(work.isValid());
  // A file where the folder should be: no dump, whoever runs the test.
  QFile blocker(work.filePath(QStringLiteral("DumpCrashes")));
  QVERIFY(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const QString record = work.filePath(QStringLiteral("record.txt"));

  const CrashRun run = runProbe(work.path(), record, QStringLiteral("segv"), 0);
  QVERIFY(run.crashed);
  QCOMPARE(run.signal, int(SIGSEGV));
  QVERIFY(run.output.contains("could not write the crash report"));
  // The line, not just the file: the message process creates it before writing.
  QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(record).size() > 0, 15000);
  QFile recorded(record);
  QVERIFY(recorded.open(QIODevice::ReadOnly));
  const QString line = QString::fromLocal8Bit(recorded.readAll());
  QVERIFY2(QRegularExpression(QStringLiteral("^message .*/DumpCrashes/Exception_\\d{14}\\.dmp\\n$"))
               .match(line)
               .hasMatch(),
           qPrintable(line));
}

void TstCrash::displacedHandlerIsTakenBack() {
  QTemporaryDir work;
  QVERIFY(work.isValid());
  const CrashRun run = runProbe(work.path(), work.filePath(QStringLiteral("record.txt")),
                                QStringLiteral("displace"), 0);
  QVERIFY2(run.output.contains("reasserted SIGSEGV|\n"), run.output.constData());
  // Our handler, not the foreign one (which would exit with 3), saw the crash.
  QVERIFY(run.crashed);
  QCOMPARE(run.signal, int(SIGSEGV));
  QCOMPARE(dumpsIn(work.path()).size(), 1);
}

QTEST_GUILESS_MAIN(TstCrash)
#include "tst_crash.moc"
