#include "qftppi.h"

#include <QtDebug>

#include "qftp.h"
#include "rslogger.h"

namespace {

// Translations may drop the placeholder; filling it in then would only warn.
QString withHost(const QString& text, const QString& host) {
  return text.contains(QLatin1String("%1")) ? text.arg(host) : text;
}

// A control line longer than this without a line end is not a reply.
constexpr qint64 kMaxReplyLine = 64 * 1024;

void connectDirectly(QTcpSocket* socket, const QString& host, quint16 port) {
  socket->connectToHost(host, port);
}

QFtpPI::Connector g_connector = &connectDirectly;

}  // namespace

void QFtpPI::setConnector(Connector connector) {
  g_connector = connector ? connector : &connectDirectly;
}

void QFtpPI::connectSocket(QTcpSocket* socket, const QString& host, quint16 port) {
  g_connector(socket, host, port);
}

QFtpPI::QFtpPI(QObject* parent) : QObject(parent), dtp(this) {
  commandSocket.setObjectName(QStringLiteral("QFtpPI_socket"));
  // What the server sends faster than it is read waits in the network, not here.
  commandSocket.setReadBufferSize(2 * kMaxReplyLine);
  connect(&commandSocket, &QTcpSocket::hostFound, this, &QFtpPI::hostFound);
  connect(&commandSocket, &QTcpSocket::connected, this, &QFtpPI::connected);
  connect(&commandSocket, &QTcpSocket::disconnected, this, &QFtpPI::connectionClosed);
  connect(&commandSocket, &QTcpSocket::readyRead, this, &QFtpPI::readyRead);
  connect(&commandSocket, &QTcpSocket::bytesWritten, this, &QFtpPI::activity);
  connect(&commandSocket, &QAbstractSocket::errorOccurred, this,
          qOverload<QAbstractSocket::SocketError>(&QFtpPI::error));
  connect(&dtp, &QFtpDTP::connectState, this, &QFtpPI::dtpConnectState);
}

QFtpPI::~QFtpPI() {
  // Nobody listens any more: dropping the connections must not call back.
  blockSignals(true);
  commandSocket.blockSignals(true);
  dtp.blockSignals(true);
}

void QFtpPI::resetForConnection() {
  state = Begin;
  abortState = None;
  reply.clear();
  droppedLines = 0;
  foreignDataHostLogged = false;
  waitForDtpToConnect = false;
  waitForDtpToClose = false;
  pendingCommands.clear();
  currentCmd.clear();
}

void QFtpPI::connectToHost(const QString& h, quint16 port) {
  emit connectState(QFtp::HostLookup);
  // A socket still open from an earlier session (a failed login, say) would make the
  // new connect a no-op that never finishes: drop it first.
  if (commandSocket.state() != QAbstractSocket::UnconnectedState) {
    commandSocket.blockSignals(true);
    commandSocket.abort();
    commandSocket.blockSignals(false);
  }
  dtp.abortConnection();
  resetForConnection();
  host = h;
  connectPending = true;
  connectSocket(&commandSocket, h, port);
}

bool QFtpPI::sendCommands(const QStringList& cmds) {
  if (!pendingCommands.isEmpty()) return false;
  if (commandSocket.state() != QAbstractSocket::ConnectedState || state != Idle) {
    emit error(QFtp::NotConnected, QFtp::tr("Not connected"));
    return true;
  }
  pendingCommands = cmds;
  startNextCmd();
  return true;
}

void QFtpPI::clearPendingCommands() {
  ++generation;
  pendingCommands.clear();
  dtp.abortConnection();
  currentCmd.clear();
  // Without a data connection nothing will release these, and the next command would
  // wait on them for ever.
  waitForDtpToConnect = false;
  waitForDtpToClose = false;
  state = Idle;
}

void QFtpPI::abort() {
  pendingCommands.clear();
  if (abortState != None) return;
  // Without a connection there is nobody to answer the ABOR, and waiting for that
  // answer would swallow the greeting of the next connection.
  if (commandSocket.state() != QAbstractSocket::ConnectedState) return;
  abortState = AbortStarted;
  commandSocket.write("ABOR\r\n");
}

void QFtpPI::giveUp(bool reportError, const QString& text) {
  ++generation;
  ++dropCount;
  connectPending = false;
  dtp.abortConnection();
  const bool wasOpen = commandSocket.state() != QAbstractSocket::UnconnectedState;
  commandSocket.blockSignals(true);
  commandSocket.abort();
  commandSocket.blockSignals(false);
  resetForConnection();
  if (wasOpen) emit connectState(QFtp::Unconnected);
  if (reportError) emit error(QFtp::ConnectionRefused, text);
}

void QFtpPI::hostFound() {
  emit activity();
  emit connectState(QFtp::Connecting);
}

void QFtpPI::connected() {
  connectPending = false;
  resetForConnection();
  commandSocket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
  emit activity();
  emit connectState(QFtp::Connected);
}

void QFtpPI::connectionClosed() {
  // Take what the server said before it went (a 421, say). If that already gave the
  // connection up, the close has been reported.
  const quint64 drops = dropCount;
  if (!waitForDtpToClose) readyRead();
  if (drops != dropCount) return;
  const bool wasIdle = state == Idle;
  const bool wasQuit = currentCmd.startsWith(QLatin1String("QUIT"));
  const bool collecting = reply.isCollecting();
  dtp.abortConnection();
  commandSocket.close();
  resetForConnection();
  emit connectState(QFtp::Unconnected);
  if (wasQuit) {
    // The server may close instead of answering QUIT: that is what QUIT asked for.
    emit finished(QStringLiteral("Connection closed"));
  } else if (!wasIdle || collecting) {
    // The command that was waiting for an answer will never get one.
    emit error(QFtp::UnknownError, QStringLiteral("Connection closed"));
  }
}

void QFtpPI::delayedCloseFinished() { emit connectState(QFtp::Unconnected); }

void QFtpPI::error(QAbstractSocket::SocketError e) {
  switch (e) {
    case QAbstractSocket::HostNotFoundError:
      emitSocketFailure(QFtp::HostNotFound, withHost(QFtp::tr("Host %1 not found"), host));
      break;
    case QAbstractSocket::ConnectionRefusedError:
      emitSocketFailure(QFtp::ConnectionRefused,
                        withHost(QFtp::tr("Connection refused to host %1"), host));
      break;
    case QAbstractSocket::SocketTimeoutError:
      emitSocketFailure(QFtp::ConnectionRefused,
                        withHost(QFtp::tr("Connection timed out to host %1"), host));
      break;
    default:
      // A connect that fails another way (no route, no permission) would otherwise
      // leave the command waiting with the socket already closed. Errors of an open
      // connection end in a close, handled there.
      if (connectPending) emitSocketFailure(QFtp::ConnectionRefused, commandSocket.errorString());
      break;
  }
}

void QFtpPI::emitSocketFailure(int code, const QString& text) {
  connectPending = false;
  emit connectState(QFtp::Unconnected);
  emit error(code, text);
}

void QFtpPI::readyRead() {
  // Only reply lines count as the server answering: chatter without codes, or a reply
  // that never ends, must not hold the command open past its time limit.
  // Nor does anything said while the listing's end is awaited: that is left unread (the
  // socket's bounded buffer then holds the server back), and only the data connection
  // keeps the command alive.
  if (waitForDtpToClose) return;
  while (commandSocket.canReadLine()) {
    const QString line = QString::fromUtf8(commandSocket.readLine());
    const QFtpReplyReader::Result result = reply.addLine(line);
    if (result == QFtpReplyReader::Dropped) {
      if (++droppedLines <= kLoggedDroppedLines) {
        RSLogger::instance()->writeLog(
            RSLogger::LevelWarning,
            QStringLiteral("FTP reply line without a valid code dropped: %1%2")
                .arg(QFtpParse::harmless(line),
                     droppedLines == kLoggedDroppedLines
                         ? QStringLiteral(" (further such lines are not logged)")
                         : QString()),
            "QFtpPI::readyRead");
      }
      continue;
    }
    if (result == QFtpReplyReader::NeedMore) {
      if (!reply.isOversized()) emit activity();
      continue;
    }
    emit activity();
    if (!processReply()) return;  // held until the data connection closes
    reply.clear();
    if (waitForDtpToClose) return;
  }
  if (!commandSocket.canReadLine() && commandSocket.bytesAvailable() > kMaxReplyLine) {
    RSLogger::instance()->writeLog(
        RSLogger::LevelWarning,
        QStringLiteral("FTP control connection sent %1 bytes without a line end; dropped")
            .arg(commandSocket.bytesAvailable()),
        "QFtpPI::readyRead");
    commandSocket.readAll();
  }
}

bool QFtpPI::processReply() {
  const int code = reply.code();
  const QString text = reply.text();

  if (code == 226 && dtp.isConnectionOpen()) {
    // The listing may still be arriving: finish only when its connection has closed.
    waitForDtpToClose = true;
    return false;
  }

  switch (abortState) {
    case AbortStarted:
      abortState = WaitForAbortToFinish;
      break;
    case WaitForAbortToFinish:
      abortState = None;
      return true;
    default:
      break;
  }

  const int first = reply.digit(0);
  switch (state) {
    case Begin:
      if (first == 2) {
        state = Idle;
        emit finished(withHost(QFtp::tr("Connected to host %1"), host));
      } else if (first == 4 || first == 5) {
        // A server that refuses service (421 too many users) says so in its greeting;
        // waiting on would only wait for nothing.
        giveUp(true, text);
      }
      return true;
    case Waiting:
      if (code == 202)
        state = Failure;
      else if (first == 1)
        state = Waiting;
      else if (first == 2)
        state = Success;
      else if (first == 3)
        state = Idle;
      else
        state = Failure;
      break;
    default:
      // Nobody asked: ignore it.
      return true;
  }

  const quint64 before = generation;
  emit rawFtpReply(code, text);
  if (before != generation) return true;

  if (rawCommand) {
    rawCommand = false;
  } else if (code == 227) {
    QString dataHost;
    quint16 dataPort = 0;
    if (QFtpParse::parsePassiveReply(text, &dataHost, &dataPort)) {
      // Only the server we talk to may send the data: an address elsewhere would let it
      // aim this client at a third party, or a third party's bytes at this client.
      const QHostAddress peer = commandSocket.peerAddress();
      if (!peer.isEqual(QHostAddress(dataHost), QHostAddress::ConvertV4MappedToIPv4) &&
          !foreignDataHostLogged) {
        foreignDataHostLogged = true;
        RSLogger::instance()->writeLog(
            RSLogger::LevelWarning,
            QStringLiteral("FTP server %1 named %2 for the data connection; using %1 instead")
                .arg(peer.toString(), QFtpParse::harmless(dataHost, 40)),
            "QFtpPI::processReply");
      }
      waitForDtpToConnect = true;
      dtp.connectToHost(peer.toString(), dataPort);
    } else {
      state = Failure;  // no address: the listing has nowhere to come from
    }
  } else if (code == 229) {
    quint16 dataPort = 0;
    if (QFtpParse::parseExtendedPassiveReply(text, &dataPort)) {
      waitForDtpToConnect = true;
      dtp.connectToHost(commandSocket.peerAddress().toString(), dataPort);
    } else {
      state = Failure;
    }
  } else if (code == 213 && currentCmd.startsWith(QLatin1String("SIZE "))) {
    bool ok = false;
    const qint64 size = text.trimmed().toLongLong(&ok);
    if (ok && size >= 0) dtp.setBytesTotal(size);
  } else if (code == 230) {
    if (currentCmd.startsWith(QLatin1String("USER ")) && !pendingCommands.isEmpty() &&
        pendingCommands.first().startsWith(QLatin1String("PASS "))) {
      pendingCommands.removeFirst();
    }
    emit connectState(QFtp::LoggedIn);
    if (before != generation) return true;
  }

  switch (state) {
    case Success:
      state = Idle;
      Q_FALLTHROUGH();
    case Idle:
      if (dtp.hasError()) {
        const QString message = dtp.errorMessage();
        dtp.clearError();
        emit error(QFtp::UnknownError, message);
        if (before != generation) return true;
      }
      startNextCmd();
      break;
    case Waiting:
      break;
    case Failure:
      if (currentCmd.startsWith(QLatin1String("EPSV"))) {
        transferConnectionExtended = false;
        pendingCommands.prepend(QStringLiteral("PASV\r\n"));
      } else if (currentCmd.startsWith(QLatin1String("EPRT"))) {
        transferConnectionExtended = false;
        pendingCommands.prepend(QStringLiteral("PORT\r\n"));
      } else if (currentCmd.startsWith(QLatin1String("SIZE "))) {
        // The size is only for progress and the completeness check; without it the
        // transfer still runs.
      } else {
        emit error(QFtp::UnknownError, text);
        if (before != generation) return true;
      }
      state = Idle;
      startNextCmd();
      break;
    default:
      break;
  }
  return true;
}

bool QFtpPI::startNextCmd() {
  if (waitForDtpToConnect) return true;
  if (pendingCommands.isEmpty()) {
    currentCmd.clear();
    emit finished(reply.text());
    return true;
  }

  currentCmd = pendingCommands.first();
  QHostAddress address = commandSocket.localAddress();
  const bool isV6 = address.protocol() == QAbstractSocket::IPv6Protocol;
  const bool isV4 = address.protocol() == QAbstractSocket::IPv4Protocol;

  if (currentCmd.startsWith(QLatin1String("PORT"))) {
    if ((isV6 && transferConnectionExtended) || isV4) {
      const int port = dtp.setupListener(address);
      if (port < 0) {
        pendingCommands.removeFirst();
        emit error(QFtp::ConnectionRefused, QFtp::tr("Connection refused for data connection"));
        return false;
      }
      if (isV6) {
        address.setScopeId(QString());
        currentCmd = QStringLiteral("EPRT |2|%1|%2|\r\n").arg(address.toString()).arg(port);
      } else {
        const quint32 ip = address.toIPv4Address();
        currentCmd = QStringLiteral("PORT %1,%2,%3,%4,%5,%6\r\n")
                         .arg((ip >> 24) & 0xFF)
                         .arg((ip >> 16) & 0xFF)
                         .arg((ip >> 8) & 0xFF)
                         .arg(ip & 0xFF)
                         .arg((port >> 8) & 0xFF)
                         .arg(port & 0xFF);
      }
    } else {
      return false;  // no active mode over IPv6 without EPRT
    }
  } else if (currentCmd.startsWith(QLatin1String("PASV")) && isV6 && transferConnectionExtended) {
    currentCmd = QStringLiteral("EPSV\r\n");
  }

  pendingCommands.removeFirst();
  state = Waiting;
  commandSocket.write(currentCmd.toUtf8());
  return true;
}

void QFtpPI::dtpConnectState(int s) {
  switch (s) {
    case QFtpDTP::CsClosed:
      if (waitForDtpToClose) {
        if (!processReply()) return;  // still not closed: keep waiting
        reply.clear();
        waitForDtpToClose = false;
        readyRead();
      }
      break;
    case QFtpDTP::CsConnected:
      // Only a passive connection holds the next string back.
      if (!waitForDtpToConnect) break;
      waitForDtpToConnect = false;
      startNextCmd();
      break;
    case QFtpDTP::CsHostNotFound:
    case QFtpDTP::CsConnectionRefused: {
      waitForDtpToConnect = false;
      const quint64 before = generation;
      emit error(QFtp::ConnectionRefused, QFtp::tr("Connection refused for data connection"));
      if (before == generation) startNextCmd();
      break;
    }
    default:
      break;
  }
}
