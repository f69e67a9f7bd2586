#include <QDate>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <memory>
#include <vector>

#include "logcapture.h"
#include "rslogger.h"

using testsupport::LogCapture;

namespace {

QStringList readLines(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

QString todayFile() { return "Log_" + QDate::currentDate().toString("yyyy-MM-dd") + ".txt"; }

void touch(const QString& path) {
  QFile f(path);
  f.open(QIODevice::WriteOnly);
}

}  // namespace

class TestRSLogger : public QObject {
  Q_OBJECT

 private slots:
  void headerOnlyOnANewFile() {
    QTemporaryDir dir;
    {
      RSLogger logger(dir.path());
      logger.writeLog(RSLogger::LevelError, "first", "Test::first");
    }
    {
      RSLogger logger(dir.path());
      logger.writeLog(RSLogger::LevelWarning, "second", "Test::second");
    }
    const QStringList lines = readLines(dir.filePath(todayFile()));
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines[0], QString(78, '*'));
    QCOMPARE(lines[1], "* Device Monitor Application Running Log Information.");
    QVERIFY(QRegularExpression(R"(^\* BuildTime:\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$)")
                .match(lines[2])
                .hasMatch());
    QCOMPARE(lines[3], QString(78, '*'));
    QVERIFY(lines[4].endsWith("] [Error   ] Test::first(): first"));
    QVERIFY(lines[5].endsWith("] [Warnning] Test::second(): second"));
  }

  void lineFormat() {
    const QDateTime t(QDate(2024, 3, 5), QTime(14, 2, 11));
    QCOMPARE(RSLogger::formatLine(t, RSLogger::LevelError, "MainWindow::LoadAppStyleSheet",
                                  "failed %1 %2"),
             "[2024-03-05 14:02:11] [Error   ] MainWindow::LoadAppStyleSheet(): failed %1 %2");
    QCOMPARE(RSLogger::formatLine(t, RSLogger::LevelInfo, nullptr, "x"),
             "[2024-03-05 14:02:11] [Info    ] (): x");
  }

  void levels_data() {
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("label");  // empty: nothing is written
    QTest::newRow("info") << 0x01 << "Info    ";
    QTest::newRow("warning") << 0x02 << "Warnning";
    QTest::newRow("error") << 0x04 << "Error   ";
    QTest::newRow("critical") << 0x08 << "Critical";
    QTest::newRow("timer") << 0x10 << "Timer   ";
    QTest::newRow("two bits") << 0x12 << "Unknown ";
    QTest::newRow("high bit in mask") << 0x80 << "Unknown ";
    QTest::newRow("debug") << 0x100 << "";
    QTest::newRow("zero") << 0 << "";
  }
  void levels() {
    QFETCH(int, level);
    QFETCH(QString, label);
    QTemporaryDir dir;
    LogCapture log;
    {
      RSLogger logger(dir.path());
      logger.writeLog(level, "message", "Test::levels");
    }
    const QStringList lines = readLines(dir.filePath(todayFile()));
    QCOMPARE(lines.size(), label.isEmpty() ? 4 : 5);
    if (!label.isEmpty()) {
      QVERIFY(lines.last().contains("[" + label + "] Test::levels(): message"));
      QCOMPARE(log.lines().size(), 1);
      QCOMPARE(log.lines().first(), lines.last());
    } else {
      QVERIFY(log.lines().isEmpty());
    }
  }

  void pruning_data() {
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("three old files")
        << QStringList{"Log_2024-01-01.txt", "Log_2024-01-02.txt", "Log_2024-01-03.txt"}
        << QStringList{"Log_2024-01-02.txt", "Log_2024-01-03.txt"};
    QTest::newRow("two old files") << QStringList{"Log_2024-01-01.txt", "Log_2024-01-02.txt"}
                                   << QStringList{"Log_2024-01-01.txt", "Log_2024-01-02.txt"};
    QTest::newRow("foreign files kept")
        << QStringList{"Log_2023-05-01.txt", "Log_2024-01-01.txt", "Log_2024-01-02.txt",
                       "#notes.txt", "-keep"}
        << QStringList{"#notes.txt", "-keep", "Log_2024-01-01.txt", "Log_2024-01-02.txt"};
  }
  void pruning() {
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QTemporaryDir dir;
    for (const QString& name : before) touch(dir.filePath(name));
    RSLogger logger(dir.path());
    QStringList remaining = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    remaining.removeAll(todayFile());
    QCOMPARE(remaining, after);
    QVERIFY(QFile::exists(dir.filePath(todayFile())));
  }

  void folderThatCannotBeCreated() {
    QTemporaryDir dir;
    touch(dir.filePath("plainfile"));
    const QString folder = dir.filePath("plainfile/logs");
    LogCapture log;
    {
      RSLogger logger(folder);
      QVERIFY(logger.filePath().isEmpty());
      logger.writeLog(RSLogger::LevelError, "still reported", "Test::noFolder");
    }
    QCOMPARE(log.lines().size(), 2);
    QCOMPARE(log.lines()[0], QString("Create Log folder fail. [%1]").arg(folder));
    QVERIFY(log.lines()[1].endsWith("Test::noFolder(): still reported"));
  }

  void todaysNameTakenByAFolder() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(todayFile()));
    LogCapture log;
    {
      RSLogger logger(dir.path());
      QVERIFY(logger.filePath().isEmpty());
      logger.writeLog(RSLogger::LevelError, "still reported", "Test::nameTaken");
    }
    QCOMPARE(log.lines().size(), 2);
    QVERIFY(log.lines()[0].startsWith("Open log file fail. [" + dir.filePath(todayFile())));
  }

  void logFolderRule_data() {
    QTest::addColumn<QString>("programFolder");  // relative: inside a folder of our own
    QTest::addColumn<QString>("logsEntry");      // what "logs" beside the program is
    QTest::addColumn<bool>("beside");
    QTest::newRow("own folder, no logs yet") << "bin"
                                             << "" << true;
    QTest::newRow("own folder, logs folder") << "bin"
                                             << "folder" << true;
    QTest::newRow("own folder, logs a plain file") << "bin"
                                                   << "file" << false;
    QTest::newRow("own folder, logs a dangling link") << "bin"
                                                      << "link" << false;
    QTest::newRow("system folder") << "/usr/bin"
                                   << "" << false;
  }
  void logFolderRule() {
    QFETCH(QString, programFolder);
    QFETCH(QString, logsEntry);
    QFETCH(bool, beside);
    QTemporaryDir dir;
    const QString state = dir.filePath("state/Stelvox");
    if (QDir::isRelativePath(programFolder)) {
      programFolder = dir.filePath(programFolder);
      QVERIFY(QDir().mkpath(programFolder));
      const QString logs = programFolder + "/logs";
      if (logsEntry == "folder") QVERIFY(QDir().mkdir(logs));
      if (logsEntry == "file") touch(logs);
      if (logsEntry == "link") QVERIFY(QFile::link(dir.filePath("gone"), logs));
    }
    const QString folder = RSLogger::folderFor(programFolder, state);
    QCOMPARE(folder, beside ? programFolder + "/logs/" : state + "/logs/");
    // Wherever it is, the logger can write there.
    LogCapture quiet;
    RSLogger logger(folder);
    QVERIFY(!logger.filePath().isEmpty());
  }

  void concurrentWritersNeitherInterleaveNorLose() {
    QTemporaryDir dir;
    constexpr int kThreads = 8;
    constexpr int kLines = 400;
    LogCapture quiet;
    {
      RSLogger logger(dir.path());
      std::vector<std::unique_ptr<QThread>> threads;
      for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back(QThread::create([&logger, t] {
          for (int i = 0; i < kLines; ++i)
            logger.writeLog(RSLogger::LevelWarning,
                            QString("t%1 n%2 %3").arg(t).arg(i).arg(QString(60, QChar('a' + t))),
                            "Test::thread");
        }));
        threads.back()->start();
      }
      for (auto& thread : threads) QVERIFY(thread->wait(60000));
    }
    const QStringList lines = readLines(dir.filePath(todayFile())).mid(4);
    QCOMPARE(lines.size(), kThreads * kLines);
    const QRegularExpression shape(
        R"(^\[[-\d: ]{19}\] \[Warnning\] Test::thread\(\): t(\d) n(\d+) ([a-h])\3{59}$)");
    QSet<QString> seen;
    for (const QString& line : lines) {
      const auto m = shape.match(line);
      QVERIFY2(m.hasMatch(), qPrintable(line));
      seen.insert(m.captured(1) + ":" + m.captured(2));
    }
    QCOMPARE(seen.size(), kThreads * kLines);
  }

  void processWideInstanceIsShared() {
    QSharedPointer<RSLogger>& a = RSLogger::instance();
    QVERIFY(!a.isNull());
    QCOMPARE(RSLogger::instance().data(), a.data());
  }
};

QTEST_GUILESS_MAIN(TestRSLogger)
#include "tst_rslogger.moc"
