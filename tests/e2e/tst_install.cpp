// `cmake --install` into a temporary prefix: every file lands where a Linux desktop
// looks for it, and the installed program finds its library and helper there.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TstInstall : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void installsFiles_data();
  void installsFiles();
  void programFindsItsLibraryInThePrefix();
  void desktopEntryStartsTheInstalledProgram();

 private:
  QTemporaryDir m_prefix;
  QString m_libDir;
};

void TstInstall::initTestCase() {
  QVERIFY(m_prefix.isValid());
  QProcess install;
  install.setProcessChannelMode(QProcess::MergedChannels);
  install.start(qEnvironmentVariable("STELVOX_CMAKE"),
                {QStringLiteral("--install"), qEnvironmentVariable("STELVOX_BINARY_DIR"),
                 QStringLiteral("--prefix"), m_prefix.path()});
  QVERIFY(install.waitForFinished(120000));
  const QByteArray output = install.readAll();
  QVERIFY2(install.exitCode() == 0, output.constData());
  // The library folder's name depends on the distribution (lib, lib64, lib/<triplet>).
  const QStringList found = QDir(m_prefix.path()).entryList({QStringLiteral("lib*")}, QDir::Dirs);
  for (const QString& top : found) {
    QDirIterator it(m_prefix.filePath(top), {QStringLiteral("libpelmora.so.1")}, QDir::Files,
                    QDirIterator::Subdirectories);
    if (it.hasNext()) m_libDir = QFileInfo(it.next()).absolutePath();
  }
  QVERIFY2(!m_libDir.isEmpty(), output.constData());
}

void TstInstall::installsFiles_data() {
  QTest::addColumn<QString>("path");
  QTest::addColumn<bool>("executable");
  QTest::newRow("program") << "bin/stelvox" << true;
  QTest::newRow("CPU-usage helper beside it") << "bin/stelvox-cpuload" << true;
  QTest::newRow("desktop entry") << "share/applications/stelvox.desktop" << false;
  QTest::newRow("small icon") << "share/icons/hicolor/16x16/apps/stelvox.png" << false;
  QTest::newRow("large icon") << "share/icons/hicolor/256x256/apps/stelvox.png" << false;
  QTest::newRow("AppStream description")
      << "share/metainfo/com.ostrel.Stelvox.metainfo.xml" << false;
  QTest::newRow("manual page") << "share/man/man1/stelvox.1.gz" << false;
  QTest::newRow("udev rule") << "lib/udev/rules.d/71-stelvox.rules" << false;
}

void TstInstall::installsFiles() {
  QFETCH(QString, path);
  QFETCH(bool, executable);
  const QFileInfo file(m_prefix.filePath(path));
  QVERIFY2(file.isFile() && file.size() > 0, qPrintable(path));
  QCOMPARE(file.isExecutable(), executable);
}

void TstInstall::programFindsItsLibraryInThePrefix() {
  QProcess ldd;
  ldd.start(QStringLiteral("ldd"), {m_prefix.filePath(QStringLiteral("bin/stelvox"))});
  QVERIFY(ldd.waitForFinished(30000));
  const QString output = QString::fromLocal8Bit(ldd.readAllStandardOutput());
  const QString line =
      output.split(QLatin1Char('\n')).filter(QStringLiteral("libpelmora.so")).value(0);
  QVERIFY2(!line.isEmpty() && !line.contains(QStringLiteral("not found")), qPrintable(output));
  const QString resolved = line.section(QStringLiteral("=> "), 1).section(QLatin1Char(' '), 0, 0);
  QCOMPARE(QFileInfo(resolved).canonicalPath(), QFileInfo(m_libDir).canonicalFilePath());
}

void TstInstall::desktopEntryStartsTheInstalledProgram() {
  QFile entry(m_prefix.filePath(QStringLiteral("share/applications/stelvox.desktop")));
  QVERIFY(entry.open(QIODevice::ReadOnly | QIODevice::Text));
  const QStringList lines = QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n'));
  QCOMPARE(lines.value(0), QStringLiteral("[Desktop Entry]"));
  QVERIFY(lines.contains(QStringLiteral("Type=Application")));
  QVERIFY(lines.contains(QStringLiteral("Icon=stelvox")));
  // Under the prefix given at install time, not the one the build was configured with.
  QVERIFY2(
      lines.contains(QStringLiteral("Exec=") + m_prefix.path() + QStringLiteral("/bin/stelvox")),
      qPrintable(lines.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TstInstall)
#include "tst_install.moc"
