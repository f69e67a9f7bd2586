// The FTP client against a scripted server: replies that friendly servers never send.
#include <QEventLoop>
#include <QScopeGuard>
#include <QTimer>
#include <QTranslator>
#include <QtTest>
#include <memory>

#include "qftp.h"
#include "qftppi.h"
#include "qftptestrecorder.h"
#include "scriptedftpserver.h"

namespace {

constexpr int kWaitMs = 30000;

// Waits until the client has reported `count` batches done.
#define WAIT_DONE(count) QTRY_COMPARE_WITH_TIMEOUT(m_rec->doneCount, count, kWaitMs)

const QList<QByteArray> kListing = {
    "total 8\r\n",
    "drwxr-xr-x    2 0        0            4096 Dec 08 00:43 V1.0.0.28\r\n",
    "drwxr-xr-x    2 0        0            4096 Dec 08 00:44 V1.0.0.29\r\n",
};

}  // namespace

class TestQFtpScripted : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<ScriptedFtpServer> m_server;
  std::unique_ptr<QFtp> m_ftp;
  std::unique_ptr<QFtpRecorder> m_rec;

  // Queues connect, login and a listing of /ZRT; returns the three identifiers.
  QVector<int> checkForUpdate(const QString& host = QStringLiteral("127.0.0.1")) {
    return {m_ftp->connectToHost(host, m_server->port()),
            m_ftp->login(QStringLiteral("stelvoxupd"), QStringLiteral("Zr7kQ2mv")),
            m_ftp->list(QStringLiteral("/ZRT"))};
  }

 private slots:
  void initTestCase() { qRegisterMetaType<QUrlInfo>(); }

  void init() {
    m_server.reset(new ScriptedFtpServer);
    m_server->listing = kListing;
    QVERIFY(m_server->listen(QHostAddress::LocalHost));
    m_ftp.reset(new QFtp);
    m_rec.reset(new QFtpRecorder(m_ftp.get()));
  }
  void cleanup() {
    m_rec.reset();
    m_ftp.reset();
    m_server.reset();
  }

  void multiLineReplyWithPlainMiddleLine() {
    m_server->on("USER", [this](const QByteArray&) {
      m_server->send("230-Welcome\r\nplain text without a code\r\n230 Logged in\r\n");
    });
    checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(!m_rec->lastDoneError);
    QVERIFY(m_rec->events.contains(QStringLiteral("state 4")));
    // 230 after USER: the password is not needed and not sent.
    QCOMPARE(m_server->received.filter(QRegularExpression("^PASS")).size(), 0);
    QCOMPARE(m_rec->names(), (QStringList{"V1.0.0.28", "V1.0.0.29"}));
  }

  void multiLineFailureTextReachesErrorString() {
    m_server->on("PASS", [this](const QByteArray&) {
      m_server->send("530-Denied\r\nsecond line\r\n530 Bye\r\n");
    });
    checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(m_rec->lastDoneError);
    QCOMPARE(m_ftp->errorString(), QStringLiteral("Login failed:\nDenied\r\nsecond line\r\nBye"));
  }

  void early226HoldsUntilDataCloses_data() {
    QTest::addColumn<QByteArray>("lastLine");
    QTest::newRow("with line end") << QByteArray("drwxr-xr-x 2 0 0 4096 Dec 08 00:44 V2\r\n");
    QTest::newRow("without line end") << QByteArray("drwxr-xr-x 2 0 0 4096 Dec 08 00:44 V2");
  }
  void early226HoldsUntilDataCloses() {
    QFETCH(QByteArray, lastLine);
    m_server->on("LIST", [this, lastLine](const QByteArray&) {
      m_server->withData([this, lastLine](QTcpSocket* d) {
        m_server->send("150 Here\r\n");
        d->write("drwxr-xr-x 2 0 0 4096 Dec 08 00:43 V1\r\n");
        d->flush();
        m_server->send("226 Done\r\n");
        // The rest of the listing follows well after the final reply.
        QTimer::singleShot(500, d, [d, lastLine] {
          d->write(lastLine);
          d->disconnectFromHost();
        });
      });
    });
    const QVector<int> ids = checkForUpdate();
    WAIT_DONE(1);
    QVERIFY2(!m_rec->lastDoneError, qPrintable(m_ftp->errorString()));
    const QStringList tail = m_rec->events.mid(m_rec->events.size() - 4);
    QCOMPARE(tail, (QStringList{"info V1", "info V2", QStringLiteral("finished %1 ok").arg(ids[2]),
                                "done ok"}));
  }

  void passiveReplyShapes_data() {
    QTest::addColumn<bool>("parentheses");
    QTest::newRow("with parentheses") << true;
    QTest::newRow("without parentheses") << false;
  }
  void passiveReplyShapes() {
    QFETCH(bool, parentheses);
    m_server->on("PASV", [this, parentheses](const QByteArray&) {
      m_server->send(m_server->passiveReply(parentheses));
    });
    checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(!m_rec->lastDoneError);
    QCOMPARE(m_server->received.mid(2), (QStringList{"TYPE A", "PASV", "LIST /ZRT"}));
    QCOMPARE(m_rec->names(), (QStringList{"V1.0.0.28", "V1.0.0.29"}));
  }

  void passiveReplyWithoutAddressFails() {
    m_server->on("PASV", [this](const QByteArray&) { m_server->send("227 No address here\r\n"); });
    checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(m_rec->lastDoneError);
    QVERIFY(!m_server->received.contains(QStringLiteral("LIST /ZRT")));
    QCOMPARE(m_ftp->error(), QFtp::UnknownError);
    QCOMPARE(m_ftp->errorString(), QStringLiteral("Listing directory failed:\nNo address here"));
  }

  void extendedPassiveOverIpv6_data() {
    QTest::addColumn<bool>("rejectEpsv");
    QTest::newRow("EPSV answered with 229") << false;
    QTest::newRow("EPSV rejected with 500, PASV after") << true;
  }
  void extendedPassiveOverIpv6() {
    QFETCH(bool, rejectEpsv);
    m_server.reset(new ScriptedFtpServer);
    m_server->listing = kListing;
    if (!m_server->listen(QHostAddress::LocalHostIPv6)) QSKIP("No IPv6 loopback here");
    if (rejectEpsv)
      m_server->on("EPSV",
                   [this](const QByteArray&) { m_server->send("500 EPSV not understood\r\n"); });
    checkForUpdate(QStringLiteral("::1"));
    WAIT_DONE(1);
    QVERIFY2(!m_rec->lastDoneError, qPrintable(m_ftp->errorString()));
    QCOMPARE(m_rec->names(), (QStringList{"V1.0.0.28", "V1.0.0.29"}));
    const QStringList expected = rejectEpsv ? QStringList{"TYPE A", "EPSV", "PASV", "LIST /ZRT"}
                                            : QStringList{"TYPE A", "EPSV", "LIST /ZRT"};
    QCOMPARE(m_server->received.mid(2), expected);

    // The choice holds for the rest of the connection.
    m_ftp->list(QStringLiteral("/ZRT"));
    WAIT_DONE(2);
    QVERIFY(!m_rec->lastDoneError);
    QCOMPARE(m_server->received.mid(2 + expected.size()),
             (QStringList{"TYPE A", rejectEpsv ? "PASV" : "EPSV", "LIST /ZRT"}));
  }

  // Active mode has no public switch; the interpreter is driven directly.
  void activeModeListing_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("portCommand");
    QTest::newRow("IPv4: PORT") << "127.0.0.1"
                                << "PORT 127,0,0,1,";
    QTest::newRow("IPv6: EPRT") << "::1"
                                << "EPRT |2|::1|";
  }
  void activeModeListing() {
    QFETCH(QString, host);
    QFETCH(QString, portCommand);
    if (host == QLatin1String("::1")) {
      m_server.reset(new ScriptedFtpServer);
      m_server->listing = kListing;
      if (!m_server->listen(QHostAddress::LocalHostIPv6)) QSKIP("No IPv6 loopback here");
    }
    QFtpPI pi;
    QStringList finished, errors, names;
    connect(&pi, &QFtpPI::finished, this, [&](const QString& t) { finished << t; });
    connect(&pi, qOverload<int, const QString&>(&QFtpPI::error), this,
            [&](int, const QString& t) { errors << t; });
    connect(&pi.m_dtp, &QFtpDTP::listInfo, this, [&](const QUrlInfo& i) { names << i.name(); });
    pi.connectToHost(host, m_server->port());
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kWaitMs);
    QVERIFY(pi.sendCommands({"TYPE A\r\n", "PORT\r\n", "LIST /ZRT\r\n"}));
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, kWaitMs);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join('|')));
    QCOMPARE(names, (QStringList{"V1.0.0.28", "V1.0.0.29"}));
    QCOMPARE(m_server->received.size(), 3);
    QVERIFY2(m_server->received.at(1).startsWith(portCommand),
             qPrintable(m_server->received.at(1)));
  }

  void reply202CountsAsFailure() {
    m_server->on("TYPE", [this](const QByteArray&) {
      m_server->send("202 Command not implemented, superfluous here\r\n");
    });
    const QVector<int> ids = checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(m_rec->lastDoneError);
    QVERIFY(m_rec->events.contains(QStringLiteral("finished %1 error").arg(ids[2])));
    QCOMPARE(m_ftp->error(), QFtp::UnknownError);
    QCOMPARE(
        m_ftp->errorString(),
        QStringLiteral("Listing directory failed:\nCommand not implemented, superfluous here"));
  }

  void linesWithoutValidCodeAreSkipped() {
    // Junk and a valid reply in one packet: the reply must not wait for more data.
    m_server->greeting = "hello there\r\n999 out of range\r\n220 Ready\r\n";
    m_server->on("USER", [this](const QByteArray&) {
      m_server->send("no code\r\n33\r\n331 Password please\r\n");
    });
    checkForUpdate();
    WAIT_DONE(1);
    QVERIFY2(!m_rec->lastDoneError, qPrintable(m_ftp->errorString()));
    QCOMPARE(m_rec->names(), (QStringList{"V1.0.0.28", "V1.0.0.29"}));
  }

  void silentServerHitsInactivityBound() {
    m_server->on("PASS", [](const QByteArray&) {});  // never answers
    m_ftp->setInactivityTimeout(1500);
    const QVector<int> ids = checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(m_rec->lastDoneError);
    QCOMPARE(m_rec->commandEvents().mid(2),
             (QStringList{QStringLiteral("started %1").arg(ids[1]),
                          QStringLiteral("finished %1 error").arg(ids[1]), "done error"}));
    QCOMPARE(m_ftp->error(), QFtp::ConnectionRefused);
    QCOMPARE(m_ftp->errorString(),
             QStringLiteral("Login failed:\nHost 127.0.0.1 did not answer for 2 seconds"));
    QCOMPARE(m_ftp->state(), QFtp::Unconnected);
    const int finishedAt = m_rec->events.indexOf(QStringLiteral("finished %1 error").arg(ids[1]));
    QCOMPARE(m_rec->events.at(finishedAt - 1), QStringLiteral("state 0"));

    // The next check starts from a fresh connection.
    m_server->on("PASS", [this](const QByteArray&) { m_server->send("230 Logged in\r\n"); });
    checkForUpdate();
    WAIT_DONE(2);
    QVERIFY(!m_rec->lastDoneError);
  }

  // Servers that keep talking without ever answering: neither chatter without codes
  // nor a reply that never ends may hold the command past its bound.
  void talkativeServerHitsInactivityBound_data() {
    QTest::addColumn<QByteArray>("opening");
    QTest::addColumn<QByteArray>("chunkLine");
    QTest::newRow("lines without codes") << QByteArray() << QByteArray("?\x1b[2J chatter\r\n");
    QTest::newRow("endless multi-line reply")
        << QByteArray("230-Welcome\r\n") << QByteArray(" a line of a reply that never ends\r\n");
  }
  void talkativeServerHitsInactivityBound() {
    QFETCH(QByteArray, opening);
    QFETCH(QByteArray, chunkLine);
    m_ftp->setInactivityTimeout(1500);
    auto* timer = new QTimer(m_server.get());
    m_server->on("PASS", [this, opening, chunkLine, timer](const QByteArray&) {
      m_server->send(opening);
      connect(timer, &QTimer::timeout, m_server.get(),
              [this, chunkLine] { m_server->send(chunkLine.repeated(20000)); });
      timer->start(100);
    });
    checkForUpdate();
    WAIT_DONE(1);
    timer->stop();
    QVERIFY(m_rec->lastDoneError);
    QCOMPARE(m_ftp->error(), QFtp::ConnectionRefused);
    QVERIFY2(m_ftp->errorString().contains("did not answer"), qPrintable(m_ftp->errorString()));
  }

  void slowSteadyServerIsNotCutOff() {
    m_ftp->setInactivityTimeout(3000);
    m_server->on("PASS", [this](const QByteArray&) {
      // Lines 400 ms apart, well over the bound in all, never silent for that long.
      auto* timer = new QTimer(m_server.get());
      auto sent = std::make_shared<int>(0);
      connect(timer, &QTimer::timeout, m_server.get(), [this, timer, sent] {
        if (++*sent < 12) {
          m_server->send("230-still working\r\n");
        } else {
          m_server->send("230 Logged in\r\n");
          timer->stop();
        }
      });
      timer->start(400);
    });
    checkForUpdate();
    WAIT_DONE(1);
    QVERIFY2(!m_rec->lastDoneError, qPrintable(m_ftp->errorString()));
  }

  void serverClosesMidReply() {
    m_server->on("USER", [this](const QByteArray&) {
      m_server->send("230-Welcome\r\n");
      m_server->closeControl();
    });
    const QVector<int> ids = checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(m_rec->lastDoneError);
    QVERIFY(m_rec->events.contains(QStringLiteral("finished %1 error").arg(ids[1])));
    QCOMPARE(m_ftp->errorString(), QStringLiteral("Login failed:\nConnection closed"));
    QCOMPARE(m_ftp->state(), QFtp::Unconnected);
  }

  void refusingGreetingFailsTheConnect_data() {
    QTest::addColumn<bool>("closeAfter");
    QTest::newRow("connection kept") << false;
    QTest::newRow("connection closed at once") << true;
  }
  void refusingGreetingFailsTheConnect() {
    QFETCH(bool, closeAfter);
    m_server->greeting = "421 Too many users, try later\r\n";
    m_server->closeAfterGreeting = closeAfter;
    const QVector<int> ids = checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(m_rec->lastDoneError);
    QVERIFY(m_rec->events.contains(QStringLiteral("finished %1 error").arg(ids[0])));
    QCOMPARE(m_ftp->errorString(),
             QStringLiteral("Connecting to host failed:\nToo many users, try later"));
    QCOMPARE(m_ftp->state(), QFtp::Unconnected);
    QCOMPARE(m_rec->events.filter(QStringLiteral("finished")).size(), 1);
    QCOMPARE(m_rec->events.filter(QStringLiteral("state 0")).size(), 1);
  }

  void serverClosesBeforeGreeting() {
    m_server->greeting.clear();
    m_server->closeAfterGreeting = true;
    const QVector<int> ids = checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(m_rec->events.contains(QStringLiteral("finished %1 error").arg(ids[0])));
    QCOMPARE(m_ftp->errorString(), QStringLiteral("Connecting to host failed:\nConnection closed"));
    QCOMPARE(m_ftp->state(), QFtp::Unconnected);
  }

  void nestedEventLoopInFinishedHandler() {
    int listId = 0;
    QVector<QFtp::Command> seenAfterLoop;
    connect(m_ftp.get(), &QFtp::commandFinished, this, [&](int, bool) {
      if (m_ftp->currentCommand() == QFtp::Login) {
        listId = m_ftp->list(QStringLiteral("/ZRT"));
        QVERIFY(!m_ftp->hasPendingCommands() || m_ftp->currentCommand() == QFtp::Login);
      }
      // A modal dialog would do this.
      QEventLoop loop;
      QTimer::singleShot(200, &loop, &QEventLoop::quit);
      loop.exec();
      seenAfterLoop << m_ftp->currentCommand();
    });
    const int connectId = m_ftp->connectToHost(QStringLiteral("127.0.0.1"), m_server->port());
    const int loginId = m_ftp->login(QStringLiteral("u"), QStringLiteral("p"));
    WAIT_DONE(1);
    QVERIFY2(!m_rec->lastDoneError, qPrintable(m_ftp->errorString()));
    QCOMPARE(seenAfterLoop, (QVector<QFtp::Command>{QFtp::ConnectToHost, QFtp::Login, QFtp::List}));
    QCOMPARE(m_rec->commandEvents(),
             (QStringList{QStringLiteral("started %1").arg(connectId),
                          QStringLiteral("finished %1 ok").arg(connectId),
                          QStringLiteral("started %1").arg(loginId),
                          QStringLiteral("finished %1 ok").arg(loginId),
                          QStringLiteral("started %1").arg(listId),
                          QStringLiteral("finished %1 ok").arg(listId), "done ok"}));
    QCOMPARE(m_rec->names(), (QStringList{"V1.0.0.28", "V1.0.0.29"}));
  }

  void closeWithoutQuitReply() {
    m_server->on("QUIT", [this](const QByteArray&) { m_server->closeControl(); });
    checkForUpdate();
    WAIT_DONE(1);
    const int closeId = m_ftp->close();
    WAIT_DONE(2);
    QVERIFY(!m_rec->lastDoneError);
    QVERIFY(m_rec->events.contains(QStringLiteral("finished %1 ok").arg(closeId)));
    QCOMPARE(m_ftp->state(), QFtp::Unconnected);
  }

  void lineBreakInArgumentIsRefused() {
    m_ftp->connectToHost(QStringLiteral("127.0.0.1"), m_server->port());
    m_ftp->login(QStringLiteral("u"), QStringLiteral("p"));
    m_ftp->list(QStringLiteral("/ZRT\r\nDELE /ZRT/V1.0.0.28"));
    WAIT_DONE(1);
    QVERIFY(m_rec->lastDoneError);
    QVERIFY(m_server->received.filter(QRegularExpression("^DELE")).isEmpty());
    QVERIFY(m_server->received.filter(QRegularExpression("^LIST")).isEmpty());
  }

  void abortDropsQueuedCommands() {
    const QVector<int> ids = checkForUpdate();
    QVERIFY(m_ftp->hasPendingCommands());
    m_ftp->abort();
    QVERIFY(!m_ftp->hasPendingCommands());
    QCOMPARE(m_ftp->currentCommand(), QFtp::ConnectToHost);
    WAIT_DONE(1);
    QCOMPARE(m_rec->commandEvents(),
             (QStringList{QStringLiteral("started %1").arg(ids[0]),
                          QStringLiteral("finished %1 ok").arg(ids[0]), "done ok"}));
  }

  void abortDuringListingThenListAgain() {
    // The listing never completes until aborted.
    m_server->on("LIST", [this](const QByteArray&) {
      m_server->withData([this](QTcpSocket* d) {
        m_server->send("150 Here\r\n");
        d->write(kListing.at(1));
      });
    });
    m_server->on("ABOR", [this](const QByteArray&) {
      m_server->send("426 Transfer aborted\r\n226 Abort successful\r\n");
    });
    const QVector<int> ids = checkForUpdate();
    connect(m_ftp.get(), &QFtp::listInfo, this, [this](const QUrlInfo&) { m_ftp->abort(); });
    WAIT_DONE(1);
    QVERIFY(m_rec->lastDoneError);
    QVERIFY(m_rec->events.contains(QStringLiteral("finished %1 error").arg(ids[2])));
    QVERIFY(m_server->received.contains(QStringLiteral("ABOR")));
    QCOMPARE(m_ftp->errorString(), QStringLiteral("Listing directory failed:\nTransfer aborted"));

    // The 226 of the abort is swallowed, not taken for the next command's reply.
    disconnect(m_ftp.get(), &QFtp::listInfo, this, nullptr);
    m_server->on("LIST", [this](const QByteArray&) {
      m_server->withData([this](QTcpSocket* d) {
        m_server->send("150 Here\r\n");
        for (const QByteArray& line : kListing) d->write(line);
        d->disconnectFromHost();
        m_server->send("226 Transfer complete\r\n");
      });
    });
    m_rec->entries.clear();
    m_ftp->list(QStringLiteral("/ZRT"));
    WAIT_DONE(2);
    QVERIFY2(!m_rec->lastDoneError, qPrintable(m_ftp->errorString()));
    QCOMPARE(m_rec->names(), (QStringList{"V1.0.0.28", "V1.0.0.29"}));
  }

  void translatedTexts_data() {
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("unknownError");
    QTest::addColumn<QString>("refused");
    QTest::addColumn<QString>("notConnected");
    QTest::newRow("zh_CN") << "zh_CN" << QStringLiteral("未知错误")
                           << QStringLiteral("连接被服务器127.0.0.1拒绝")
                           << QStringLiteral("未连接");
    QTest::newRow("zh_TW") << "zh_TW" << QStringLiteral("未知錯誤")
                           << QStringLiteral("連接被服務器127.0.0.1拒絕")
                           << QStringLiteral("未連接");
    QTest::newRow("eg_EN") << "eg_EN" << QStringLiteral("Unknown error")
                           << QStringLiteral("Connection refused to host 127.0.0.1")
                           << QStringLiteral("Not connected");
  }
  void translatedTexts() {
    QFETCH(QString, language);
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral("update_") + language,
                            qEnvironmentVariable("STELVOX_UPDATE_QM_DIR")));
    QCoreApplication::installTranslator(&translator);
    auto uninstall = qScopeGuard([&] { QCoreApplication::removeTranslator(&translator); });

    QFtp ftp;
    QFtpRecorder rec(&ftp);
    QTEST(ftp.errorString(), "unknownError");
    ftp.list(QStringLiteral("/ZRT"));
    QTRY_COMPARE_WITH_TIMEOUT(rec.doneCount, 1, kWaitMs);
    QFETCH(QString, notConnected);
    QCOMPARE(ftp.errorString(), QStringLiteral("Listing directory failed:\n") + notConnected);

    const quint16 closedPort = m_server->port();
    m_server.reset();  // nothing listens there any more
    ftp.connectToHost(QStringLiteral("127.0.0.1"), closedPort);
    QTRY_COMPARE_WITH_TIMEOUT(rec.doneCount, 2, kWaitMs);
    QFETCH(QString, refused);
    QCOMPARE(ftp.errorString(), QStringLiteral("Connecting to host failed:\n") + refused);
  }

  void hostNotFound_data() {
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("text");
    QTest::newRow("eg_EN") << "eg_EN" << QStringLiteral("Host stelvox-test.invalid not found");
    // This catalogue's text names no host; it must come out whole, not half filled.
    QTest::newRow("zh_TW") << "zh_TW" << QStringLiteral("未找到服務器");
  }
  void hostNotFound() {
    QFETCH(QString, language);
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral("update_") + language,
                            qEnvironmentVariable("STELVOX_UPDATE_QM_DIR")));
    QCoreApplication::installTranslator(&translator);
    auto uninstall = qScopeGuard([&] { QCoreApplication::removeTranslator(&translator); });

    // Names under .invalid never resolve.
    const int id = m_ftp->connectToHost(QStringLiteral("stelvox-test.invalid"), 8887);
    WAIT_DONE(1);
    QVERIFY(m_rec->events.contains(QStringLiteral("finished %1 error").arg(id)));
    QCOMPARE(m_ftp->error(), QFtp::HostNotFound);
    QFETCH(QString, text);
    QCOMPARE(m_ftp->errorString(), QStringLiteral("Connecting to host failed:\n") + text);
    QCOMPARE(m_ftp->state(), QFtp::Unconnected);
  }

  void destroyingTheClientMidCommandIsQuiet() {
    m_server->on("PASS", [](const QByteArray&) {});
    connect(m_ftp.get(), &QFtp::commandStarted, this, [this](int) {
      if (m_ftp->currentCommand() == QFtp::Login) {
        QTimer::singleShot(100, this, [this] {
          m_rec.reset();
          m_ftp.reset();
        });
      }
    });
    checkForUpdate();
    QTRY_VERIFY_WITH_TIMEOUT(!m_ftp, kWaitMs);
    // The server sees the connection go.
    QTRY_VERIFY_WITH_TIMEOUT(
        m_server->received.contains(QStringLiteral("ABOR")) || m_server->received.size() >= 2,
        kWaitMs);
  }
};

QTEST_GUILESS_MAIN(TestQFtpScripted)
#include "tst_qftp_scripted.moc"
