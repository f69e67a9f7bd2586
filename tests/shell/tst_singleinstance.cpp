// One instance per user session: a second start ends at once with 0 and brings
// the first one's window forward; a name left behind by a killed instance is
// taken over.
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "qsingleapplication.h"

class TstSingleInstance : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void secondStartEndsAndBringsFirstForward();
  void staleNameIsTakenOver_data();
  void staleNameIsTakenOver();
  void sessionsWithOwnRuntimeFolderDoNotMeet();
  void serverAddress_data();
  void serverAddress();

 private:
  std::unique_ptr<QProcess> start(const QString& runtimeDir = QString());
  bool waitForLine(QProcess& process, const QByteArray& line, int timeoutMs = 15000);

  std::unique_ptr<QTemporaryDir> m_runtime;
  std::vector<std::unique_ptr<QProcess>> m_started;
};

void TstSingleInstance::init() {
  m_runtime = std::make_unique<QTemporaryDir>();
  QVERIFY(m_runtime->isValid());
}

void TstSingleInstance::cleanup() {
  for (auto& process : m_started) {
    if (process->state() == QProcess::NotRunning) continue;
    process->closeWriteChannel();
    if (!process->waitForFinished(10000)) {
      process->kill();
      process->waitForFinished(5000);
    }
  }
  m_started.clear();
}

std::unique_ptr<QProcess> TstSingleInstance::start(const QString& runtimeDir) {
  auto process = std::make_unique<QProcess>();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"),
             runtimeDir.isEmpty() ? m_runtime->path() : runtimeDir);
  env.insert(QStringLiteral("TMPDIR"), m_runtime->path());
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  const QString source = qEnvironmentVariable("STELVOX_SOURCE_DIR");
  if (!source.isEmpty())
    env.insert(
        QStringLiteral("LSAN_OPTIONS"),
        QStringLiteral("suppressions=%1/tests/shell/tst_singleinstance.supp:print_suppressions=0")
            .arg(source));
  process->setProcessEnvironment(env);
  process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process->start(
      QCoreApplication::applicationDirPath() + QStringLiteral("/tst_singleinstance_probe"),
      QStringList());
  return process;
}

bool TstSingleInstance::waitForLine(QProcess& process, const QByteArray& line, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < timeoutMs) {
    while (process.canReadLine()) {
      if (process.readLine().trimmed() == line) return true;
    }
    if (process.state() == QProcess::NotRunning && !process.canReadLine()) return false;
    process.waitForReadyRead(200);
  }
  return false;
}

void TstSingleInstance::secondStartEndsAndBringsFirstForward() {
  auto first = start();
  QVERIFY(waitForLine(*first, "running 0"));
  QVERIFY(waitForLine(*first, "listening 1"));

  auto second = start();
  QElapsedTimer clock;
  clock.start();
  QVERIFY(second->waitForFinished(15000));
  const qint64 took = clock.elapsed();
  QCOMPARE(second->exitStatus(), QProcess::NormalExit);
  QCOMPARE(second->exitCode(), 0);
  QVERIFY(second->readAllStandardOutput().contains("running 1"));
  // The guard itself waits at most half a second; the rest is process start on a
  // loaded machine.
  QVERIFY2(took < 10000, qPrintable(QString::number(took)));

  QVERIFY(waitForLine(*first, "shown"));
  QCOMPARE(first->state(), QProcess::Running);
  m_started.push_back(std::move(first));
}

void TstSingleInstance::staleNameIsTakenOver_data() {
  QTest::addColumn<bool>("killInstance");
  QTest::newRow("socket of a killed instance") << true;
  QTest::newRow("plain file at the name") << false;
}

void TstSingleInstance::staleNameIsTakenOver() {
  QFETCH(bool, killInstance);
  const QString address = m_runtime->filePath(QStringLiteral("MorrowickStelvox"));
  if (killInstance) {
    auto killed = start();
    QVERIFY(waitForLine(*killed, "listening 1"));
    killed->kill();
    QVERIFY(killed->waitForFinished(10000));
  } else {
    QFile junk(address);
    QVERIFY(junk.open(QIODevice::WriteOnly));
  }
  QVERIFY(QFile::exists(address));

  auto next = start();
  QVERIFY(waitForLine(*next, "running 0"));
  QVERIFY(waitForLine(*next, "listening 1"));

  auto probe = start();
  QVERIFY(probe->waitForFinished(15000));
  QCOMPARE(probe->exitCode(), 0);
  QVERIFY(probe->readAllStandardOutput().contains("running 1"));
  m_started.push_back(std::move(next));
}

void TstSingleInstance::sessionsWithOwnRuntimeFolderDoNotMeet() {
  QTemporaryDir otherSession;
  QVERIFY(otherSession.isValid());
  auto first = start();
  QVERIFY(waitForLine(*first, "listening 1"));
  auto second = start(otherSession.path());
  QVERIFY(waitForLine(*second, "running 0"));
  QVERIFY(waitForLine(*second, "listening 1"));
  m_started.push_back(std::move(first));
  m_started.push_back(std::move(second));
}

void TstSingleInstance::serverAddress_data() {
  QTest::addColumn<QString>("runtimeDir");
  QTest::addColumn<bool>("insideRuntimeDir");
  QTest::newRow("runtime folder") << QStringLiteral("<temp>") << true;
  QTest::newRow("unset") << QString() << false;
  QTest::newRow("relative") << QStringLiteral("run/user") << false;
  QTest::newRow("missing") << QStringLiteral("/nonexistent/stelvox-run") << false;
}

void TstSingleInstance::serverAddress() {
  QFETCH(QString, runtimeDir);
  QFETCH(bool, insideRuntimeDir);
  if (runtimeDir == QStringLiteral("<temp>")) runtimeDir = m_runtime->path();
  const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
  if (runtimeDir.isNull())
    qunsetenv("XDG_RUNTIME_DIR");
  else
    qputenv("XDG_RUNTIME_DIR", runtimeDir.toLocal8Bit());
  const QString address = QSingleApplication::serverAddress(QStringLiteral("MorrowickStelvox"));
  if (saved.isNull())
    qunsetenv("XDG_RUNTIME_DIR");
  else
    qputenv("XDG_RUNTIME_DIR", saved);
  QCOMPARE(address, insideRuntimeDir ? runtimeDir + QStringLiteral("/MorrowickStelvox")
                                     : QStringLiteral("MorrowickStelvox"));
}

QTEST_GUILESS_MAIN(TstSingleInstance)
#include "tst_singleinstance.moc"
