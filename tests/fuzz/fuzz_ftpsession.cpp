// Fuzz target: the FTP client through a whole update check (connect, login, passive
// mode, listing, quit) against a server whose every byte the fuzzer chooses.
//
// The input is split at each 0xFF byte: the first piece is what the data connection
// carries, the second the greeting, and each further piece the answer to the next
// command line the client sends. When the pieces run out the server hangs up. Both
// connections are socket pairs inside this process, so no network is touched and the
// runs do not depend on timing.
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>
#include <QList>
#include <QTcpSocket>
#include <QTimer>
#include <cstddef>
#include <cstdint>

#include "qftp.h"
#include "qftppi.h"
#include "rslogger.h"

namespace {

struct Session {
  QList<QByteArray> pieces;
  int next = 1;
  QTcpSocket* control = nullptr;
};

Session* g_session = nullptr;

void ignoreMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

// Wraps one end of a fresh socket pair into `client`, and returns a socket on the other.
QTcpSocket* pairUp(QTcpSocket* client) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0)
    return nullptr;
  auto* server = new QTcpSocket(client);
  if (!client->setSocketDescriptor(fds[0]) || !server->setSocketDescriptor(fds[1])) {
    ::close(fds[0]);
    ::close(fds[1]);
    return nullptr;  // the session then runs into its deadline
  }
  // A real connect ends in connected(), later.
  QMetaObject::invokeMethod(client, "connected", Qt::QueuedConnection);
  return server;
}

// Sends the next piece; after the last one the server hangs up at once, so that the
// client never waits for what will not come.
void sendNextPiece(Session* s) {
  if (s->next < s->pieces.size()) s->control->write(s->pieces.at(s->next++));
  if (s->next >= s->pieces.size()) s->control->disconnectFromHost();
}

void answerCommands() {
  Session* s = g_session;
  while (s && s->control && s->control->state() == QAbstractSocket::ConnectedState &&
         s->control->canReadLine()) {
    s->control->readLine();
    sendNextPiece(s);
  }
}

void connectInMemory(QTcpSocket* socket, const QString&, quint16) {
  QTcpSocket* server = pairUp(socket);
  if (!server || !g_session) return;
  if (socket->objectName() == QLatin1String("QFtpPI_socket")) {
    g_session->control = server;
    QObject::connect(server, &QTcpSocket::readyRead, server, &answerCommands);
    sendNextPiece(g_session);
  } else {
    server->write(g_session->pieces.at(0));
    server->disconnectFromHost();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int argc = 1;
  static char name[] = "fuzz_ftpsession";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* app = [] {
    qInstallMessageHandler(&ignoreMessages);
    auto* a = new QCoreApplication(argc, argv);
    // Log lines go nowhere: the folder cannot exist.
    RSLogger::instance() = QSharedPointer<RSLogger>(new RSLogger(QStringLiteral("/dev/null/logs")));
    QFtpPI::setConnector(&connectInMemory);
    return a;
  }();
  Q_UNUSED(app)

  Session session;
  session.pieces =
      QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(size)).split('\xff');
  g_session = &session;
  {
    QFtp ftp;
    // Bounds on time: a client waiting for what the pieces did not give gives up at
    // once (the server answers within the same turn of the event loop), and nothing
    // runs past the deadline.
    ftp.setInactivityTimeout(5);
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&ftp, &QFtp::done, &loop, &QEventLoop::quit);
    ftp.connectToHost(QStringLiteral("update.example"), 8887);
    ftp.login(QStringLiteral("stelvoxupd"), QStringLiteral("Zr7kQ2mv"));
    ftp.list(QStringLiteral("/ZRT"));
    ftp.close();
    deadline.start(2000);
    loop.exec();
  }
  g_session = nullptr;
  // Sockets let go by the client are deleted later.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return 0;
}
