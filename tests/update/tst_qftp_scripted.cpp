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
#define WAIT_DONE(count) QTRY_COMPARE_WITH_TIMEOUT(rec_->doneCount, count, kWaitMs)

const QList<QByteArray> kListing = {
    "total 8\r\n",
    "drwxr-xr-x    2 0        0            4096 Dec 08 00:43 V1.0.0.28\r\n",
    "drwxr-xr-x    2 0        0            4096 Dec 08 00:44 V1.0.0.29\r\n",
};

}  // namespace

class TestQFtpScripted : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<ScriptedFtpServer> server_;
  std::unique_ptr<QFtp> ftp_;
  std::unique_ptr<QFtpRecorder> rec_;

  // Queues connect, login and a listing of /ZRT; returns the three identifiers.
  QVector<int> checkForUpdate(const QString& host = QStringLiteral("127.0.0.1")) {
    return {ftp_->connectToHost(host, server_->port()),
            ftp_->login(QStringLiteral("stelvoxupd"), QStringLiteral("Zr7kQ2mv")),
            ftp_->list(QStringLiteral("/ZRT"))};
  }

 private slots:
  void initTestCase() { qRegisterMetaType<QUrlInfo>(); }

  void init() {
    server_.reset(new ScriptedFtpServer);
    server_->listing = kListing;
    QVERIFY(server_->listen(QHostAddress::LocalHost));
    ftp_.reset(new QFtp);
    rec_.reset(new QFtpRecorder(ftp_.get()));
  }
  void cleanup() {
    rec_.reset();
    ftp_.reset();
    server_.reset();
  }

  void multiLineReplyWithPlainMiddleLine() {
    server_->on("USER", [this](const QByteArray&) {
      server_->send("230-Welcome\r\nplain text without a code\r\n230 Logged in\r\n");
    });
    checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(!rec_->lastDoneError);
    QVERIFY(rec_->events.contains(QStringLiteral("state 4")));
    // 230 after USER: the password is not needed and not sent.
    QCOMPARE(server_->received.filter(QRegularExpression("^PASS")).size(), 0);
    QCOMPARE(rec_->names(), (QStringList{"V1.0.0.28", "V1.0.0.29"}));
  }

  void multiLineFailureTextReachesErrorString() {
    server_->on("PASS", [this](const QByteArray&) {
      server_->send("530-Denied\r\nsecond line\r\n530 Bye\r\n");
    });
    checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(rec_->lastDoneError);
    QCOMPARE(ftp_->errorString(), QStringLiteral("Login failed:\nDenied\r\nsecond line\r\nBye"));
  }

  void early226HoldsUntilDataCloses_data() {
    QTest::addColumn<QByteArray>("lastLine");
    QTest::newRow("with line end") << QByteArray("drwxr-xr-x 2 0 0 4096 Dec 08 00:44 V2\r\n");
    QTest::newRow("without line end") << QByteArray("drwxr-xr-x 2 0 0 4096 Dec 08 00:44 V2");
  }
  void early226HoldsUntilDataCloses() {
    QFETCH(QByteArray, lastLine);
    server_->on("LIST", [this, lastLine](const QByteArray&) {
      server_->withData([this, lastLine](QTcpSocket* d) {
        server_->send("150 Here\r\n");
        d->write("drwxr-xr-x 2 0 0 4096 Dec 08 00:43 V1\r\n");
        d->flush();
        server_->send("226 Done\r\n");
        // The rest of the listing follows well after the final reply.
        QTimer::singleShot(500, d, [d, lastLine] {
          d->write(lastLine);
          d->disconnectFromHost();
        });
      });
    });
    const QVector<int> ids = checkForUpdate();
    WAIT_DONE(1);
    QVERIFY2(!rec_->lastDoneError, qPrintable(ftp_->errorString()));
    const QStringList tail = rec_->events.mid(rec_->events.size() - 4);
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
    server_->on("PASV", [this, parentheses](const QByteArray&) {
      server_->send(server_->passiveReply(parentheses));
    });
    checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(!rec_->lastDoneError);
    QCOMPARE(server_->received.mid(2), (QStringList{"TYPE A", "PASV", "LIST /ZRT"}));
    QCOMPARE(rec_->names(), (QStringList{"V1.0.0.28", "V1.0.0.29"}));
  }

  void passiveReplyWithoutAddressFails() {
    server_->on("PASV", [this](const QByteArray&) { server_->send("227 No address here\r\n"); });
    checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(rec_->lastDoneError);
    QVERIFY(!server_->received.contains(QStringLiteral("LIST /ZRT")));
    QCOMPARE(ftp_->error(), QFtp::UnknownError);
    QCOMPARE(ftp_->errorString(), QStringLiteral("Listing directory failed:\nNo address here"));
  }

  void extendedPassiveOverIpv6_data() {
    QTest::addColumn<bool>("rejectEpsv");
    QTest::newRow("EPSV answered with 229") << false;
    QTest::newRow("EPSV rejected with 500, PASV after") << true;
  }
  void extendedPassiveOverIpv6() {
    QFETCH(bool, rejectEpsv);
    server_.reset(new ScriptedFtpServer);
    server_->listing = kListing;
    if (!server_->listen(QHostAddress::LocalHostIPv6)) QSKIP("No IPv6 loopback here");
    if (rejectEpsv)
      server_->on("EPSV",
                  [this](const QByteArray&) { server_->send("500 EPSV not understood\r\n"); });
    checkForUpdate(QStringLiteral("::1"));
    WAIT_DONE(1);
    QVERIFY2(!rec_->lastDoneError, qPrintable(ftp_->errorString()));
    QCOMPARE(rec_->names(), (QStringList{"V1.0.0.28", "V1.0.0.29"}));
    const QStringList expected = rejectEpsv ? QStringList{"TYPE A", "EPSV", "PASV", "LIST /ZRT"}
                                            : QStringList{"TYPE A", "EPSV", "LIST /ZRT"};
    QCOMPARE(server_->received.mid(2), expected);

    // The choice holds for the rest of the connection.
    ftp_->list(QStringLiteral("/ZRT"));
    WAIT_DONE(2);
    QVERIFY(!rec_->lastDoneError);
    QCOMPARE(server_->received.mid(2 + expected.size()),
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
      server_.reset(new ScriptedFtpServer);
      server_->listing = kListing;
      if (!server_->listen(QHostAddress::LocalHostIPv6)) QSKIP("No IPv6 loopback here");
    }
    QFtpPI pi;
    QStringList finished, errors, names;
    connect(&pi, &QFtpPI::finished, this, [&](const QString& t) { finished << t; });
    connect(&pi, qOverload<int, const QString&>(&QFtpPI::error), this,
            [&](int, const QString& t) { errors << t; });
    connect(&pi.m_dtp, &QFtpDTP::listInfo, this, [&](const QUrlInfo& i) { names << i.name(); });
    pi.connectToHost(host, server_->port());
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kWaitMs);
    QVERIFY(pi.sendCommands({"TYPE A\r\n", "PORT\r\n", "LIST /ZRT\r\n"}));
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, kWaitMs);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join('|')));
    QCOMPARE(names, (QStringList{"V1.0.0.28", "V1.0.0.29"}));
    QCOMPARE(server_->received.size(), 3);
    QVERIFY2(server_->received.at(1).startsWith(portCommand), qPrintable(server_->received.at(1)));
  }

  void reply202CountsAsFailure() {
    server_->on("TYPE", [this](const QByteArray&) {
      server_->send("202 Command not implemented, superfluous here\r\n");
    });
    const QVector<int> ids = checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(rec_->lastDoneError);
    QVERIFY(rec_->events.contains(QStringLiteral("finished %1 error").arg(ids[2])));
    QCOMPARE(ftp_->error(), QFtp::UnknownError);
    QCOMPARE(
        ftp_->errorString(),
        QStringLiteral("Listing directory failed:\nCommand not implemented, superfluous here"));
  }

  void linesWithoutValidCodeAreSkipped() {
    // Junk and a valid reply in one packet: the reply must not wait for more data.
    server_->greeting = "hello there\r\n999 out of range\r\n220 Ready\r\n";
    server_->on("USER", [this](const QByteArray&) {
      server_->send("no code\r\n33\r\n331 Password please\r\n");
    });
    checkForUpdate();
    WAIT_DONE(1);
    QVERIFY2(!rec_->lastDoneError, qPrintable(ftp_->errorString()));
    QCOMPARE(rec_->names(), (QStringList{"V1.0.0.28", "V1.0.0.29"}));
  }

  void silentServerHitsInactivityBound() {
    server_->on("PASS", [](const QByteArray&) {});  // never answers
    ftp_->setInactivityTimeout(1500);
    const QVector<int> ids = checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(rec_->lastDoneError);
    QCOMPARE(rec_->commandEvents().mid(2),
             (QStringList{QStringLiteral("started %1").arg(ids[1]),
                          QStringLiteral("finished %1 error").arg(ids[1]), "done error"}));
    QCOMPARE(ftp_->error(), QFtp::ConnectionRefused);
    QCOMPARE(ftp_->errorString(),
             QStringLiteral("Login failed:\nHost 127.0.0.1 did not answer for 2 seconds"));
    QCOMPARE(ftp_->state(), QFtp::Unconnected);
    const int finishedAt = rec_->events.indexOf(QStringLiteral("finished %1 error").arg(ids[1]));
    QCOMPARE(rec_->events.at(finishedAt - 1), QStringLiteral("state 0"));

    // The next check starts from a fresh connection.
    server_->on("PASS", [this](const QByteArray&) { server_->send("230 Logged in\r\n"); });
    checkForUpdate();
    WAIT_DONE(2);
    QVERIFY(!rec_->lastDoneError);
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
    ftp_->setInactivityTimeout(1500);
    auto* timer = new QTimer(server_.get());
    server_->on("PASS", [this, opening, chunkLine, timer](const QByteArray&) {
      server_->send(opening);
      connect(timer, &QTimer::timeout, server_.get(),
              [this, chunkLine] { server_->send(chunkLine.repeated(20000)); });
      timer->start(100);
    });
    checkForUpdate();
    WAIT_DONE(1);
    timer->stop();
    QVERIFY(rec_->lastDoneError);
    QCOMPARE(ftp_->error(), QFtp::ConnectionRefused);
    QVERIFY2(ftp_->errorString().contains("did not answer"), qPrintable(ftp_->errorString()));
  }

  void slowSteadyServerIsNotCutOff() {
    ftp_->setInactivityTimeout(3000);
    server_->on("PASS", [this](const QByteArray&) {
      // Lines 400 ms apart, well over the bound in all, never silent for that long.
      auto* timer = new QTimer(server_.get());
      auto sent = std::make_shared<int>(0);
      connect(timer, &QTimer::timeout, server_.get(), [this, timer, sent] {
        if (++*sent < 12) {
          server_->send("230-still working\r\n");
        } else {
          server_->send("230 Logged in\r\n");
          timer->stop();
        }
      });
      timer->start(400);
    });
    checkForUpdate();
    WAIT_DONE(1);
    QVERIFY2(!rec_->lastDoneError, qPrintable(ftp_->errorString()));
  }

  void serverClosesMidReply() {
    server_->on("USER", [this](const QByteArray&) {
      server_->send("230-Welcome\r\n");
      server_->closeControl();
    });
    const QVector<int> ids = checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(rec_->lastDoneError);
    QVERIFY(rec_->events.contains(QStringLiteral("finished %1 error").arg(ids[1])));
    QCOMPARE(ftp_->errorString(), QStringLiteral("Login failed:\nConnection closed"));
    QCOMPARE(ftp_->state(), QFtp::Unconnected);
  }

  void refusingGreetingFailsTheConnect_data() {
    QTest::addColumn<bool>("closeAfter");
    QTest::newRow("connection kept") << false;
    QTest::newRow("connection closed at once") << true;
  }
  void refusingGreetingFailsTheConnect() {
    QFETCH(bool, closeAfter);
    server_->greeting = "421 Too many users, try later\r\n";
    server_->closeAfterGreeting = closeAfter;
    const QVector<int> ids = checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(rec_->lastDoneError);
    QVERIFY(rec_->events.contains(QStringLiteral("finished %1 error").arg(ids[0])));
    QCOMPARE(ftp_->errorString(),
             QStringLiteral("Connecting to host failed:\nToo many users, try later"));
    QCOMPARE(ftp_->state(), QFtp::Unconnected);
    QCOMPARE(rec_->events.filter(QStringLiteral("finished")).size(), 1);
    QCOMPARE(rec_->events.filter(QStringLiteral("state 0")).size(), 1);
  }

  void serverClosesBeforeGreeting() {
    server_->greeting.clear();
    server_->closeAfterGreeting = true;
    const QVector<int> ids = checkForUpdate();
    WAIT_DONE(1);
    QVERIFY(rec_->events.contains(QStringLiteral("finished %1 error").arg(ids[0])));
    QCOMPARE(ftp_->errorString(), QStringLiteral("Connecting to host failed:\nConnection closed"));
    QCOMPARE(ftp_->state(), QFtp::Unconnected);
  }

  void nestedEventLoopInFinishedHandler() {
    int listId = 0;
    QVector<QFtp::Command> seenAfterLoop;
    connect(ftp_.get(), &QFtp::commandFinished, this, [&](int, bool) {
      if (ftp_->currentCommand() == QFtp::Login) {
        listId = ftp_->list(QStringLiteral("/ZRT"));
        QVERIFY(!ftp_->hasPendingCommands() || ftp_->currentCommand() == QFtp::Login);
      }
      // A modal dialog would do this.
      QEventLoop loop;
      QTimer::singleShot(200, &loop, &QEventLoop::quit);
      loop.exec();
      seenAfterLoop << ftp_->currentCommand();
    });
    const int connectId = ftp_->connectToHost(QStringLiteral("127.0.0.1"), server_->port());
    const int loginId = ftp_->login(QStringLiteral("u"), QStringLiteral("p"));
    WAIT_DONE(1);
    QVERIFY2(!rec_->lastDoneError, qPrintable(ftp_->errorString()));
    QCOMPARE(seenAfterLoop, (QVector<QFtp::Command>{QFtp::ConnectToHost, QFtp::Login, QFtp::List}));
    QCOMPARE(rec_->commandEvents(),
             (QStringList{QStringLiteral("started %1").arg(connectId),
                          QStringLiteral("finished %1 ok").arg(connectId),
                          QStringLiteral("started %1").arg(loginId),
                          QStringLiteral("finished %1 ok").arg(loginId),
                          QStringLiteral("started %1").arg(listId),
                          QStringLiteral("finished %1 ok").arg(listId), "done ok"}));
    QCOMPARE(rec_->names(), (QStringList{"V1.0.0.28", "V1.0.0.29"}));
  }

  void closeWithoutQuitReply() {
    server_->on("QUIT", [this](const QByteArray&) { server_->closeControl(); });
    checkForUpdate();
    WAIT_DONE(1);
    const int closeId = ftp_->close();
    WAIT_DONE(2);
    QVERIFY(!rec_->lastDoneError);
    QVERIFY(rec_->events.contains(QStringLiteral("finished %1 ok").arg(closeId)));
    QCOMPARE(ftp_->state(), QFtp::Unconnected);
  }

  void lineBreakInArgumentIsRefused() {
    ftp_->connectToHost(QStringLiteral("127.0.0.1"), server_->port());
    ftp_->login(QStringLiteral("u"), QStringLiteral("p"));
    ftp_->list(QStringLiteral("/ZRT\r\nDELE /ZRT/V1.0.0.28"));
    WAIT_DONE(1);
    QVERIFY(rec_->lastDoneError);
    QVERIFY(server_->received.filter(QRegularExpression("^DELE")).isEmpty());
    QVERIFY(server_->received.filter(QRegularExpression("^LIST")).isEmpty());
  }

  void abortDropsQueuedCommands() {
    const QVector<int> ids = checkForUpdate();
    QVERIFY(ftp_->hasPendingCommands());
    ftp_->abort();
    QVERIFY(!ftp_->hasPendingCommands());
    QCOMPARE(ftp_->currentCommand(), QFtp::ConnectToHost);
    WAIT_DONE(1);
    QCOMPARE(rec_->commandEvents(),
             (QStringList{QStringLiteral("started %1").arg(ids[0]),
                          QStringLiteral("finished %1 ok").arg(ids[0]), "done ok"}));
  }

  void abortDuringListingThenListAgain() {
    // The listing never completes until aborted.
    server_->on("LIST", [this](const QByteArray&) {
      server_->withData([this](QTcpSocket* d) {
        server_->send("150 Here\r\n");
        d->write(kListing.at(1));
      });
    });
    server_->on("ABOR", [this](const QByteArray&) {
      server_->send("426 Transfer aborted\r\n226 Abort successful\r\n");
    });
    const QVector<int> ids = checkForUpdate();
    connect(ftp_.get(), &QFtp::listInfo, this, [this](const QUrlInfo&) { ftp_->abort(); });
    WAIT_DONE(1);
    QVERIFY(rec_->lastDoneError);
    QVERIFY(rec_->events.contains(QStringLiteral("finished %1 error").arg(ids[2])));
    QVERIFY(server_->received.contains(QStringLiteral("ABOR")));
    QCOMPARE(ftp_->errorString(), QStringLiteral("Listing directory failed:\nTransfer aborted"));

    // The 226 of the abort is swallowed, not taken for the next command's reply.
    disconnect(ftp_.get(), &QFtp::listInfo, this, nullptr);
    server_->on("LIST", [this](const QByteArray&) {
      server_->withData([this](QTcpSocket* d) {
        server_->send("150 Here\r\n");
        for (const QByteArray& line : kListing) d->write(line);
        d->disconnectFromHost();
        server_->send("226 Transfer complete\r\n");
      });
    });
    rec_->entries.clear();
    ftp_->list(QStringLiteral("/ZRT"));
    WAIT_DONE(2);
    QVERIFY2(!rec_->lastDoneError, qPrintable(ftp_->errorString()));
    QCOMPARE(rec_->names(), (QStringList{"V1.0.0.28", "V1.0.0.29"}));
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

    const quint16 closedPort = server_->port();
    server_.reset();  // nothing listens there any more
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
    const int id = ftp_->connectToHost(QStringLiteral("stelvox-test.invalid"), 8887);
    WAIT_DONE(1);
    QVERIFY(rec_->events.contains(QStringLiteral("finished %1 error").arg(id)));
    QCOMPARE(ftp_->error(), QFtp::HostNotFound);
    QFETCH(QString, text);
    QCOMPARE(ftp_->errorString(), QStringLiteral("Connecting to host failed:\n") + text);
    QCOMPARE(ftp_->state(), QFtp::Unconnected);
  }

  void destroyingTheClientMidCommandIsQuiet() {
    server_->on("PASS", [](const QByteArray&) {});
    connect(ftp_.get(), &QFtp::commandStarted, this, [this](int) {
      if (ftp_->currentCommand() == QFtp::Login) {
        QTimer::singleShot(100, this, [this] {
          rec_.reset();
          ftp_.reset();
        });
      }
    });
    checkForUpdate();
    QTRY_VERIFY_WITH_TIMEOUT(!ftp_, kWaitMs);
    // The server sees the connection go.
    QTRY_VERIFY_WITH_TIMEOUT(
        server_->received.contains(QStringLiteral("ABOR")) || server_->received.size() >= 2,
        kWaitMs);
  }
};

QTEST_GUILESS_MAIN(TestQFtpScripted)
#include "tst_qftp_scripted.moc"
