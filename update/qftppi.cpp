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

QFtpPI::QFtpPI(QObject* parent) : QObject(parent), m_dtp(this) {
  m_commandSocket.setObjectName(QStringLiteral("QFtpPI_socket"));
  // What the server sends faster than it is read waits in the network, not here.
  m_commandSocket.setReadBufferSize(2 * kMaxReplyLine);
  connect(&m_commandSocket, &QTcpSocket::hostFound, this, &QFtpPI::hostFound);
  connect(&m_commandSocket, &QTcpSocket::connected, this, &QFtpPI::connected);
  connect(&m_commandSocket, &QTcpSocket::disconnected, this, &QFtpPI::connectionClosed);
  connect(&m_commandSocket, &QTcpSocket::readyRead, this, &QFtpPI::readyRead);
  connect(&m_commandSocket, &QTcpSocket::bytesWritten, this, &QFtpPI::activity);
  connect(&m_commandSocket, &QAbstractSocket::errorOccurred, this,
          qOverload<QAbstractSocket::SocketError>(&QFtpPI::error));
  connect(&m_dtp, &QFtpDTP::connectState, this, &QFtpPI::dtpConnectState);
}

QFtpPI::~QFtpPI() {
  // Nobody listens any more: dropping the connections must not call back.
  blockSignals(true);
  m_commandSocket.blockSignals(true);
  m_dtp.blockSignals(true);
}

void QFtpPI::resetForConnection() {
  m_state = Begin;
  m_abortState = None;
  m_reply.clear();
  m_droppedLines = 0;
  m_foreignDataHostLogged = false;
  m_waitForDtpToConnect = false;
  m_waitForDtpToClose = false;
  m_pendingCommands.clear();
  m_currentCmd.clear();
}

void QFtpPI::connectToHost(const QString& h, quint16 port) {
  emit connectState(QFtp::HostLookup);
  // A socket still open from an earlier session (a failed login, say) would make the
  // new connect a no-op that never finishes: drop it first.
  if (m_commandSocket.state() != QAbstractSocket::UnconnectedState) {
    m_commandSocket.blockSignals(true);
    m_commandSocket.abort();
    m_commandSocket.blockSignals(false);
  }
  m_dtp.abortConnection();
  resetForConnection();
  m_host = h;
  m_connectPending = true;
  connectSocket(&m_commandSocket, h, port);
}

bool QFtpPI::sendCommands(const QStringList& cmds) {
  if (!m_pendingCommands.isEmpty()) return false;
  if (m_commandSocket.state() != QAbstractSocket::ConnectedState || m_state != Idle) {
    emit error(QFtp::NotConnected, QFtp::tr("Not connected"));
    return true;
  }
  m_pendingCommands = cmds;
  startNextCmd();
  return true;
}

void QFtpPI::clearPendingCommands() {
  ++m_generation;
  m_pendingCommands.clear();
  m_dtp.abortConnection();
  m_currentCmd.clear();
  // Without a data connection nothing will release these, and the next command would
  // wait on them for ever.
  m_waitForDtpToConnect = false;
  m_waitForDtpToClose = false;
  m_state = Idle;
}

void QFtpPI::abort() {
  m_pendingCommands.clear();
  if (m_abortState != None) return;
  // Without a connection there is nobody to answer the ABOR, and waiting for that
  // answer would swallow the greeting of the next connection.
  if (m_commandSocket.state() != QAbstractSocket::ConnectedState) return;
  m_abortState = AbortStarted;
  m_commandSocket.write("ABOR\r\n");
}

void QFtpPI::giveUp(bool reportError, const QString& text) {
  ++m_generation;
  ++m_dropCount;
  m_connectPending = false;
  m_dtp.abortConnection();
  const bool wasOpen = m_commandSocket.state() != QAbstractSocket::UnconnectedState;
  m_commandSocket.blockSignals(true);
  m_commandSocket.abort();
  m_commandSocket.blockSignals(false);
  resetForConnection();
  if (wasOpen) emit connectState(QFtp::Unconnected);
  if (reportError) emit error(QFtp::ConnectionRefused, text);
}

void QFtpPI::hostFound() {
  emit activity();
  emit connectState(QFtp::Connecting);
}

void QFtpPI::connected() {
  m_connectPending = false;
  resetForConnection();
  m_commandSocket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
  emit activity();
  emit connectState(QFtp::Connected);
}

void QFtpPI::connectionClosed() {
  // Take what the server said before it went (a 421, say). If that already gave the
  // connection up, the close has been reported.
  const quint64 drops = m_dropCount;
  if (!m_waitForDtpToClose) readyRead();
  if (drops != m_dropCount) return;
  const bool wasIdle = m_state == Idle;
  const bool wasQuit = m_currentCmd.startsWith(QLatin1String("QUIT"));
  const bool collecting = m_reply.isCollecting();
  m_dtp.abortConnection();
  m_commandSocket.close();
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
      emitSocketFailure(QFtp::HostNotFound, withHost(QFtp::tr("Host %1 not found"), m_host));
      break;
    case QAbstractSocket::ConnectionRefusedError:
      emitSocketFailure(QFtp::ConnectionRefused,
                        withHost(QFtp::tr("Connection refused to host %1"), m_host));
      break;
    case QAbstractSocket::SocketTimeoutError:
      emitSocketFailure(QFtp::ConnectionRefused,
                        withHost(QFtp::tr("Connection timed out to host %1"), m_host));
      break;
    default:
      // A connect that fails another way (no route, no permission) would otherwise
      // leave the command waiting with the socket already closed. Errors of an open
      // connection end in a close, handled there.
      if (m_connectPending)
        emitSocketFailure(QFtp::ConnectionRefused, m_commandSocket.errorString());
      break;
  }
}

void QFtpPI::emitSocketFailure(int code, const QString& text) {
  m_connectPending = false;
  emit connectState(QFtp::Unconnected);
  emit error(code, text);
}

void QFtpPI::readyRead() {
  // Only reply lines count as the server answering: chatter without codes, or a reply
  // that never ends, must not hold the command open past its time limit.
  // Nor does anything said while the listing's end is awaited: that is left unread (the
  // socket's bounded buffer then holds the server back), and only the data connection
  // keeps the command alive.
  if (m_waitForDtpToClose) return;
  while (m_commandSocket.canReadLine()) {
    const QString line = QString::fromUtf8(m_commandSocket.readLine());
    const QFtpReplyReader::Result result = m_reply.addLine(line);
    if (result == QFtpReplyReader::Dropped) {
      if (++m_droppedLines <= kLoggedDroppedLines) {
        RSLogger::instance()->writeLog(
            RSLogger::LevelWarning,
            QStringLiteral("FTP reply line without a valid code dropped: %1%2")
                .arg(qftpparse::harmless(line),
                     m_droppedLines == kLoggedDroppedLines
                         ? QStringLiteral(" (further such lines are not logged)")
                         : QString()),
            "QFtpPI::readyRead");
      }
      continue;
    }
    if (result == QFtpReplyReader::NeedMore) {
      if (!m_reply.isOversized()) emit activity();
      continue;
    }
    emit activity();
    if (!processReply()) return;  // held until the data connection closes
    m_reply.clear();
    if (m_waitForDtpToClose) return;
  }
  if (!m_commandSocket.canReadLine() && m_commandSocket.bytesAvailable() > kMaxReplyLine) {
    RSLogger::instance()->writeLog(
        RSLogger::LevelWarning,
        QStringLiteral("FTP control connection sent %1 bytes without a line end; dropped")
            .arg(m_commandSocket.bytesAvailable()),
        "QFtpPI::readyRead");
    m_commandSocket.readAll();
  }
}

QFtpPI::State QFtpPI::stateAfterReply(int code) {
  // 202: command not implemented, superfluous here.
  if (code == 202) return Failure;
  switch (code / 100) {
    case 1:
      return Waiting;
    case 2:
      return Success;
    case 3:
      return Idle;
    default:
      return Failure;
  }
}

bool QFtpPI::processReply() {
  const int code = m_reply.code();
  const QString text = m_reply.text();

  if (code == 226 && m_dtp.isConnectionOpen()) {
    // The listing may still be arriving: finish only when its connection has closed.
    m_waitForDtpToClose = true;
    return false;
  }

  switch (m_abortState) {
    case AbortStarted:
      m_abortState = WaitForAbortToFinish;
      break;
    case WaitForAbortToFinish:
      m_abortState = None;
      return true;
    default:
      break;
  }

  switch (m_state) {
    case Begin:
      if (code / 100 == 2) {
        m_state = Idle;
        emit finished(withHost(QFtp::tr("Connected to host %1"), m_host));
      } else if (code / 100 == 4 || code / 100 == 5) {
        // A server that refuses service (421 too many users) says so in its greeting;
        // waiting on would only wait for nothing.
        giveUp(true, text);
      }
      return true;
    case Waiting:
      m_state = stateAfterReply(code);
      break;
    default:
      // Nobody asked: ignore it.
      return true;
  }

  // Each signal handler below may clear the queue and start another command; then the
  // rest of this reply belongs to a command that is gone.
  const quint64 before = m_generation;
  emit rawFtpReply(code, text);
  if (before != m_generation) return true;
  actOnReply(code, text);
  if (before != m_generation) return true;
  actOnState(text);
  return true;
}

void QFtpPI::actOnReply(int code, const QString& text) {
  if (m_rawCommand) {
    m_rawCommand = false;
  } else if (code == 227) {
    QString dataHost;
    quint16 dataPort = 0;
    if (qftpparse::parsePassiveReply(text, &dataHost, &dataPort)) {
      // Only the server we talk to may send the data: an address elsewhere would let it
      // aim this client at a third party, or a third party's bytes at this client.
      const QHostAddress peer = m_commandSocket.peerAddress();
      if (!peer.isEqual(QHostAddress(dataHost), QHostAddress::ConvertV4MappedToIPv4) &&
          !m_foreignDataHostLogged) {
        m_foreignDataHostLogged = true;
        RSLogger::instance()->writeLog(
            RSLogger::LevelWarning,
            QStringLiteral("FTP server %1 named %2 for the data connection; using %1 instead")
                .arg(peer.toString(), qftpparse::harmless(dataHost, 40)),
            "QFtpPI::processReply");
      }
      m_waitForDtpToConnect = true;
      m_dtp.connectToHost(peer.toString(), dataPort);
    } else {
      m_state = Failure;  // no address: the listing has nowhere to come from
    }
  } else if (code == 229) {
    quint16 dataPort = 0;
    if (qftpparse::parseExtendedPassiveReply(text, &dataPort)) {
      m_waitForDtpToConnect = true;
      m_dtp.connectToHost(m_commandSocket.peerAddress().toString(), dataPort);
    } else {
      m_state = Failure;
    }
  } else if (code == 213 && m_currentCmd.startsWith(QLatin1String("SIZE "))) {
    bool ok = false;
    const qint64 size = text.trimmed().toLongLong(&ok);
    if (ok && size >= 0) m_dtp.setBytesTotal(size);
  } else if (code == 230) {
    if (m_currentCmd.startsWith(QLatin1String("USER ")) && !m_pendingCommands.isEmpty() &&
        m_pendingCommands.first().startsWith(QLatin1String("PASS "))) {
      m_pendingCommands.removeFirst();
    }
    emit connectState(QFtp::LoggedIn);
  }
}

void QFtpPI::actOnState(const QString& text) {
  const quint64 before = m_generation;
  switch (m_state) {
    case Success:
      m_state = Idle;
      Q_FALLTHROUGH();
    case Idle:
      if (m_dtp.hasError()) {
        const QString message = m_dtp.errorMessage();
        m_dtp.clearError();
        emit error(QFtp::UnknownError, message);
        if (before != m_generation) return;
      }
      startNextCmd();
      break;
    case Waiting:
      break;
    case Failure:
      if (m_currentCmd.startsWith(QLatin1String("EPSV"))) {
        m_transferConnectionExtended = false;
        m_pendingCommands.prepend(QStringLiteral("PASV\r\n"));
      } else if (m_currentCmd.startsWith(QLatin1String("EPRT"))) {
        m_transferConnectionExtended = false;
        m_pendingCommands.prepend(QStringLiteral("PORT\r\n"));
      } else if (m_currentCmd.startsWith(QLatin1String("SIZE "))) {
        // The size is only for progress and the completeness check; without it the
        // transfer still runs.
      } else {
        emit error(QFtp::UnknownError, text);
        if (before != m_generation) return;
      }
      m_state = Idle;
      startNextCmd();
      break;
    default:
      break;
  }
}

bool QFtpPI::startNextCmd() {
  if (m_waitForDtpToConnect) return true;
  if (m_pendingCommands.isEmpty()) {
    m_currentCmd.clear();
    emit finished(m_reply.text());
    return true;
  }

  m_currentCmd = m_pendingCommands.first();
  QHostAddress address = m_commandSocket.localAddress();
  const bool isV6 = address.protocol() == QAbstractSocket::IPv6Protocol;
  const bool isV4 = address.protocol() == QAbstractSocket::IPv4Protocol;

  if (m_currentCmd.startsWith(QLatin1String("PORT"))) {
    if ((isV6 && m_transferConnectionExtended) || isV4) {
      const int port = m_dtp.setupListener(address);
      if (port < 0) {
        m_pendingCommands.removeFirst();
        emit error(QFtp::ConnectionRefused, QFtp::tr("Connection refused for data connection"));
        return false;
      }
      if (isV6) {
        address.setScopeId(QString());
        m_currentCmd = QStringLiteral("EPRT |2|%1|%2|\r\n").arg(address.toString()).arg(port);
      } else {
        const quint32 ip = address.toIPv4Address();
        m_currentCmd = QStringLiteral("PORT %1,%2,%3,%4,%5,%6\r\n")
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
  } else if (m_currentCmd.startsWith(QLatin1String("PASV")) && isV6 &&
             m_transferConnectionExtended) {
    m_currentCmd = QStringLiteral("EPSV\r\n");
  }

  m_pendingCommands.removeFirst();
  m_state = Waiting;
  m_commandSocket.write(m_currentCmd.toUtf8());
  return true;
}

void QFtpPI::dtpConnectState(int s) {
  switch (s) {
    case QFtpDTP::CsClosed:
      if (m_waitForDtpToClose) {
        if (!processReply()) return;  // still not closed: keep waiting
        m_reply.clear();
        m_waitForDtpToClose = false;
        readyRead();
      }
      break;
    case QFtpDTP::CsConnected:
      // Only a passive connection holds the next string back.
      if (!m_waitForDtpToConnect) break;
      m_waitForDtpToConnect = false;
      startNextCmd();
      break;
    case QFtpDTP::CsHostNotFound:
    case QFtpDTP::CsConnectionRefused: {
      m_waitForDtpToConnect = false;
      const quint64 before = m_generation;
      emit error(QFtp::ConnectionRefused, QFtp::tr("Connection refused for data connection"));
      if (before == m_generation) startNextCmd();
      break;
    }
    default:
      break;
  }
}
