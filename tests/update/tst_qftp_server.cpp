// The FTP client against a real FTP server (pyftpdlib) on 127.0.0.1, holding a
// release tree shaped like the update server's.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include "qftp.h"
#include "qftptestrecorder.h"

namespace {

const QString kUser = QStringLiteral("stelvoxupd");
const QString kPassword = QStringLiteral("Zr7kQ2mv");
constexpr int kWaitMs = 30000;

}  // namespace

class TestQFtpServer : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_root;
  QProcess m_server;
  quint16 m_port = 0;

 private slots:
  void initTestCase() {
    qRegisterMetaType<QUrlInfo>();
    QVERIFY(m_root.isValid());
    QDir dir(m_root.path());
    for (const char* sub : {"ZRT/V1.0.0.28", "ZRT/V1.0.0.30", "ZRT/V1.0.0.29", "ZRT/v2.0.0.0"})
      QVERIFY(dir.mkpath(QLatin1String(sub)));
    for (const char* file : {"ZRT/V1.0.0.28/StelvoxSetup_V1.0.0.28.run", "ZRT/V9.9.9.9"}) {
      QFile f(dir.filePath(QLatin1String(file)));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("#!/bin/sh\n");
    }

    const QString script =
        qEnvironmentVariable("STELVOX_SOURCE_DIR") + QStringLiteral("/tests/update/ftpserver.py");
    QVERIFY2(QFile::exists(script), qPrintable(script));
    m_server.setProcessChannelMode(QProcess::SeparateChannels);
    m_server.start(QStringLiteral("/usr/bin/python3"), {script, m_root.path(), kUser, kPassword});
    QVERIFY2(m_server.waitForStarted(kWaitMs), qPrintable(m_server.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(m_server.canReadLine() || m_server.state() != QProcess::Running,
                             kWaitMs);
    bool ok = false;
    m_port = m_server.readLine().trimmed().toUShort(&ok);
    QVERIFY2(ok && m_port != 0, m_server.readAllStandardError().constData());
  }

  void cleanupTestCase() {
    m_server.kill();
    m_server.waitForFinished(kWaitMs);
  }

  void connectLoginListSignalsInOrder() {
    QFtp ftp;
    QFtpRecorder rec(&ftp);
    const int connectId = ftp.connectToHost(QStringLiteral("127.0.0.1"), m_port);
    const int loginId = ftp.login(kUser, kPassword);
    const int listId = ftp.list(QStringLiteral("/ZRT"));
    QVERIFY(connectId < loginId && loginId < listId);
    // Nothing starts inside the calls that queued the commands.
    QVERIFY(rec.events.isEmpty());
    QCOMPARE(ftp.currentCommand(), QFtp::ConnectToHost);
    QVERIFY(ftp.hasPendingCommands());

    QTRY_COMPARE_WITH_TIMEOUT(rec.doneCount, 1, kWaitMs);
    QVERIFY(!rec.lastDoneError);
    QCOMPARE(ftp.state(), QFtp::LoggedIn);

    const QStringList expectedStart = {QStringLiteral("started %1").arg(connectId),
                                       "state 1",
                                       "state 2",
                                       "state 3",
                                       QStringLiteral("finished %1 ok").arg(connectId),
                                       QStringLiteral("started %1").arg(loginId),
                                       "state 4",
                                       QStringLiteral("finished %1 ok").arg(loginId),
                                       QStringLiteral("started %1").arg(listId)};
    QCOMPARE(rec.events.mid(0, expectedStart.size()), expectedStart);
    QCOMPARE(rec.events.mid(rec.events.size() - 2),
             (QStringList{QStringLiteral("finished %1 ok").arg(listId), "done ok"}));
    QCOMPARE(rec.finishedCommands,
             (QVector<QFtp::Command>{QFtp::ConnectToHost, QFtp::Login, QFtp::List}));

    QStringList names = rec.names();
    names.sort();
    QCOMPARE(names, (QStringList{"V1.0.0.28", "V1.0.0.29", "V1.0.0.30", "V9.9.9.9", "v2.0.0.0"}));
    for (const QUrlInfo& info : rec.entries) {
      QCOMPARE(info.isDir(), info.name() != QLatin1String("V9.9.9.9"));
      QVERIFY(info.lastModified().isValid());
    }

    // The connection stays for the next listing, whose identifier is larger still.
    const int secondList = ftp.list(QStringLiteral("/ZRT/V1.0.0.28"));
    QVERIFY(secondList > listId);
    QTRY_COMPARE_WITH_TIMEOUT(rec.doneCount, 2, kWaitMs);
    QVERIFY(!rec.lastDoneError);
    QCOMPARE(rec.entries.last().name(), QStringLiteral("StelvoxSetup_V1.0.0.28.run"));
    QVERIFY(rec.entries.last().isFile());

    const int closeId = ftp.close();
    QTRY_COMPARE_WITH_TIMEOUT(rec.doneCount, 3, kWaitMs);
    QVERIFY(!rec.lastDoneError);
    QCOMPARE(rec.events.mid(rec.events.indexOf(QStringLiteral("started %1").arg(closeId))),
             (QStringList{QStringLiteral("started %1").arg(closeId), "state 5", "state 0",
                          QStringLiteral("finished %1 ok").arg(closeId), "done ok"}));
    QCOMPARE(ftp.state(), QFtp::Unconnected);
  }

  void rejectedPasswordDropsTheListing() {
    QFtp ftp;
    QFtpRecorder rec(&ftp);
    const int connectId = ftp.connectToHost(QStringLiteral("127.0.0.1"), m_port);
    const int loginId = ftp.login(kUser, QStringLiteral("wrong"));
    const int listId = ftp.list(QStringLiteral("/ZRT"));
    QTRY_COMPARE_WITH_TIMEOUT(rec.doneCount, 1, kWaitMs);
    QVERIFY(rec.lastDoneError);
    QCOMPARE(rec.commandEvents(),
             (QStringList{QStringLiteral("started %1").arg(connectId),
                          QStringLiteral("finished %1 ok").arg(connectId),
                          QStringLiteral("started %1").arg(loginId),
                          QStringLiteral("finished %1 error").arg(loginId), "done error"}));
    QVERIFY(!rec.events.contains(QStringLiteral("started %1").arg(listId)));
    QCOMPARE(ftp.error(), QFtp::UnknownError);
    QVERIFY2(ftp.errorString().startsWith(QLatin1String("Login failed:\n")),
             qPrintable(ftp.errorString()));
    QVERIFY(ftp.errorString().size() > int(qstrlen("Login failed:\n")));
    QCOMPARE(ftp.state(), QFtp::Connected);

    // Trying again over the connection left open reconnects and succeeds.
    ftp.connectToHost(QStringLiteral("127.0.0.1"), m_port);
    ftp.login(kUser, kPassword);
    ftp.list(QStringLiteral("/ZRT"));
    QTRY_COMPARE_WITH_TIMEOUT(rec.doneCount, 2, kWaitMs);
    QVERIFY2(!rec.lastDoneError, qPrintable(ftp.errorString()));
    QCOMPARE(rec.entries.size(), 5);
  }

  void refusedConnection() {
    // A port that was free a moment ago: nothing listens there.
    quint16 closedPort = 0;
    {
      QTcpServer probe;
      QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
      closedPort = probe.serverPort();
    }
    QFtp ftp;
    QFtpRecorder rec(&ftp);
    const int connectId = ftp.connectToHost(QStringLiteral("127.0.0.1"), closedPort);
    const int loginId = ftp.login(kUser, kPassword);
    ftp.list(QStringLiteral("/ZRT"));
    QTRY_COMPARE_WITH_TIMEOUT(rec.doneCount, 1, kWaitMs);
    QCOMPARE(
        rec.events,
        (QStringList{QStringLiteral("started %1").arg(connectId), "state 1", "state 2", "state 0",
                     QStringLiteral("finished %1 error").arg(connectId), "done error"}));
    Q_UNUSED(loginId);
    QCOMPARE(ftp.error(), QFtp::ConnectionRefused);
    QCOMPARE(ftp.errorString(),
             QStringLiteral("Connecting to host failed:\nConnection refused to host 127.0.0.1"));
    QCOMPARE(ftp.state(), QFtp::Unconnected);
    QCOMPARE(ftp.currentCommand(), QFtp::None);
  }

  void missingDirectoryFailsTheListing() {
    QFtp ftp;
    QFtpRecorder rec(&ftp);
    ftp.connectToHost(QStringLiteral("127.0.0.1"), m_port);
    ftp.login(kUser, kPassword);
    const int listId = ftp.list(QStringLiteral("/ZRT/missing"));
    QTRY_COMPARE_WITH_TIMEOUT(rec.doneCount, 1, kWaitMs);
    QVERIFY(rec.lastDoneError);
    QVERIFY(rec.events.contains(QStringLiteral("finished %1 error").arg(listId)));
    QVERIFY(rec.entries.isEmpty());
    QCOMPARE(ftp.error(), QFtp::UnknownError);
    QVERIFY2(ftp.errorString().startsWith(QLatin1String("Listing directory failed:\n")),
             qPrintable(ftp.errorString()));
    // The session survives: the next listing works.
    ftp.list(QStringLiteral("/ZRT"));
    QTRY_COMPARE_WITH_TIMEOUT(rec.doneCount, 2, kWaitMs);
    QVERIFY(!rec.lastDoneError);
    QCOMPARE(rec.entries.size(), 5);
  }

  void commandOnClosedConnectionFails() {
    QFtp ftp;
    QFtpRecorder rec(&ftp);
    const int listId = ftp.list(QStringLiteral("/ZRT"));
    QVERIFY(!ftp.hasPendingCommands());
    QTRY_COMPARE_WITH_TIMEOUT(rec.doneCount, 1, kWaitMs);
    QCOMPARE(rec.commandEvents(),
             (QStringList{QStringLiteral("started %1").arg(listId),
                          QStringLiteral("finished %1 error").arg(listId), "done error"}));
    QCOMPARE(ftp.error(), QFtp::NotConnected);
    QCOMPARE(ftp.errorString(), QStringLiteral("Listing directory failed:\nNot connected"));

    ftp.close();
    QTRY_COMPARE_WITH_TIMEOUT(rec.doneCount, 2, kWaitMs);
    QCOMPARE(ftp.errorString(), QStringLiteral("Not connected"));
    QCOMPARE(ftp.state(), QFtp::Unconnected);
  }
};

QTEST_GUILESS_MAIN(TestQFtpServer)
#include "tst_qftp_server.moc"
