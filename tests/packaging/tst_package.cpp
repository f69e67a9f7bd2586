// `make package` and `make release` as users get them: the package passes Debian's
// checks, the update installer is signed, and in a throw-away root the package installs
// (twice, and over an older one), runs, is removed while running and purged without a
// trace, and the update installer installs it without a question.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run {
  int exitCode = -1;
  QByteArray output;
};

Run run(const QString& program, const QStringList& arguments, int timeoutMs,
        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
  QProcess process;
  process.setProcessEnvironment(env);
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, arguments);
  Run result;
  if (!process.waitForStarted(15000)) return result;
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished(5000);
  }
  result.output = process.readAll();
  result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  return result;
}

QString source(const QString& path) {
  return qEnvironmentVariable("STELVOX_SOURCE_DIR") + QLatin1Char('/') + path;
}

}  // namespace

class TstPackage : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void releaseIsSigned();
  void installsRunsAndPurgesInAThrowawayRoot();

 private:
  QTemporaryDir m_dist;
  QString m_deb;
  QString m_installer;
};

void TstPackage::initTestCase() {
  for (const char* tool :
       {"cpack", "dpkg-deb", "lintian", "makeself", "minisign", "Xvfb", "trayer", "xdotool"})
    if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
      QSKIP(qPrintable(QStringLiteral("%1 is not installed (make deps)").arg(tool)));
  QVERIFY(m_dist.isValid());
  // A sanitized build is no release build: its package is for the install test only.
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  if (qEnvironmentVariableIntValue("STELVOX_SANITIZED") == 1)
    env.insert(QStringLiteral("STELVOX_PACKAGE_CHECKS"), QStringLiteral("validators"));
  const Run package = run(source(QStringLiteral("scripts/package.sh")),
                          {qEnvironmentVariable("STELVOX_BINARY_DIR"), m_dist.path()}, 600000, env);
  QVERIFY2(package.exitCode == 0, package.output.constData());
  qInfo("%s", package.output.constData());
  m_deb = QDir(m_dist.path()).entryInfoList({QStringLiteral("stelvox_*.deb")}).value(0).filePath();
  QVERIFY(!m_deb.isEmpty());
}

void TstPackage::releaseIsSigned() {
  const QString key = m_dist.filePath(QStringLiteral("test.key"));
  const QString pub = m_dist.filePath(QStringLiteral("test.pub"));
  QCOMPARE(run(QStringLiteral("minisign"),
               {QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-p"), pub,
                QStringLiteral("-s"), key},
               30000)
               .exitCode,
           0);
  const Run release =
      run(source(QStringLiteral("scripts/release.sh")), {m_dist.path(), key}, 300000);
  QVERIFY2(release.exitCode == 0, release.output.constData());
  m_installer =
      m_dist.filePath(QStringLiteral("StelvoxSetup_V%1.run")
                          .arg(QFileInfo(m_deb).fileName().section(QLatin1Char('_'), 1, 1)));
  QVERIFY2(QFileInfo(m_installer).isExecutable(), release.output.constData());
  const Run verify = run(
      QStringLiteral("minisign"),
      {QStringLiteral("-V"), QStringLiteral("-p"), pub, QStringLiteral("-m"), m_installer}, 30000);
  QVERIFY2(verify.exitCode == 0, verify.output.constData());
  // Without a key, no signature is left over from an earlier release.
  QCOMPARE(run(source(QStringLiteral("scripts/release.sh")), {m_dist.path()}, 300000).exitCode, 0);
  QVERIFY(!QFile::exists(m_installer + QStringLiteral(".minisig")));
}

void TstPackage::installsRunsAndPurgesInAThrowawayRoot() {
  if (m_installer.isEmpty()) QSKIP("no update installer was built");
  const QString shots =
      qEnvironmentVariable("STELVOX_BINARY_DIR") + QStringLiteral("/tests/e2e-screens");
  QVERIFY(QDir().mkpath(shots));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("THROWAWAY_KEEP"), shots);
  // In the sanitizer build: the crash handler keeps the fatal signals, the preloaded
  // simulator comes ahead of the runtime, and leaks are the unit tests' business.
  env.insert(QStringLiteral("PROGRAM_ASAN_OPTIONS"),
             QStringLiteral("verify_asan_link_order=0:detect_leaks=0:handle_segv=0:"
                            "handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:handle_abort=0"));
  const Run check = run(source(QStringLiteral("tests/packaging/throwaway-root.sh")),
                        {source(QStringLiteral("tests/packaging/install-check.sh")), m_deb,
                         m_installer, qEnvironmentVariable("STELVOX_BINARY_DIR"),
                         qEnvironmentVariable("STELVOX_SOURCE_DIR"), shots},
                        600000, env);
  if (check.exitCode == 77) QSKIP("this machine cannot make a throw-away root (root, namespaces)");
  qInfo("%s", check.output.constData());
  QVERIFY2(check.exitCode == 0 && check.output.contains("all steps passed"),
           check.output.constData());
}

QTEST_GUILESS_MAIN(TstPackage)
#include "tst_package.moc"
