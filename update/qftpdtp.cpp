#include "qftppi.h"
#include "rslogger.h"

namespace {

// A listing line longer than this without a line end is junk, not a directory entry.
constexpr qint64 kMaxDataLine = 64 * 1024;
// A release directory lists a few dozen entries; a listing this long is a server that
// never stops, and what follows no longer counts as progress.
constexpr qint64 kMaxListingBytes = 4 * 1024 * 1024;

}  // namespace

QFtpDTP::QFtpDTP(QFtpPI* p, QObject* parent) : QObject(parent), m_pi(p) {
  m_listener.setObjectName(QStringLiteral("QFtpDTP active state server"));
  connect(&m_listener, &QTcpServer::newConnection, this, &QFtpDTP::setupSocket);
}

QFtpDTP::~QFtpDTP() {
  if (m_socket) {
    m_socket->blockSignals(true);
    delete m_socket;
  }
}

void QFtpDTP::connectSocketSignals() {
  connect(m_socket, &QTcpSocket::connected, this, &QFtpDTP::socketConnected);
  connect(m_socket, &QTcpSocket::readyRead, this, &QFtpDTP::socketReadyRead);
  connect(m_socket, &QAbstractSocket::errorOccurred, this, &QFtpDTP::socketError);
  connect(m_socket, &QTcpSocket::disconnected, this, &QFtpDTP::socketConnectionClosed);
  connect(m_socket, &QTcpSocket::bytesWritten, this, &QFtpDTP::socketBytesWritten);
}

void QFtpDTP::dropSocket() {
  if (!m_socket) return;
  // The old socket may be the one whose signal brought us here: let it go later,
  // silently.
  m_socket->disconnect(this);
  m_socket->blockSignals(true);
  m_socket->abort();
  m_socket->deleteLater();
  m_socket = nullptr;
  m_connectionOpen = false;
  m_dataConnected = false;
}

void QFtpDTP::connectToHost(const QString& host, quint16 port) {
  m_bb.clear();
  dropSocket();
  m_socket = new QTcpSocket(this);
  m_socket->setObjectName(QStringLiteral("QFtpDTP Passive state socket"));
  connectSocketSignals();
  m_connectionOpen = true;
  QFtpPI::connectSocket(m_socket, host, port);
}

int QFtpDTP::setupListener(const QHostAddress& address) {
  if (!m_listener.isListening() && !m_listener.listen(address, 0)) return -1;
  return m_listener.serverPort();
}

void QFtpDTP::setupSocket() {
  QTcpSocket* incoming = m_listener.nextPendingConnection();
  if (!incoming) return;
  dropSocket();
  m_socket = incoming;
  m_socket->setParent(this);
  m_socket->setObjectName(QStringLiteral("QFtpDTP Active state socket"));
  connectSocketSignals();
  m_connectionOpen = true;
  m_dataConnected = true;
  m_bytesDone = 0;
  m_listingBytes = 0;
  m_listener.close();
  emit m_pi->activity();
  // The server may have sent everything, and even closed, before we took the
  // connection: no signal will tell of that.
  QTcpSocket* const s = m_socket;
  if (s->bytesAvailable() > 0) socketReadyRead();
  if (m_socket == s && s->state() != QAbstractSocket::ConnectedState) socketConnectionClosed();
}

void QFtpDTP::abortConnection() {
  m_bytesDone = 0;
  m_listingBytes = 0;
  m_bytesTotal = 0;
  m_listener.close();
  dropSocket();
}

bool QFtpDTP::isConnectionOpen() const {
  // In active mode the server's connection may still be on its way.
  return (m_socket && m_connectionOpen) || m_listener.isListening();
}

qint64 QFtpDTP::bytesAvailable() const {
  return m_bb.size() + (m_socket ? m_socket->bytesAvailable() : 0);
}

void QFtpDTP::clearData() {
  m_bb.clear();
  if (m_socket) m_socket->readAll();
}

void QFtpDTP::setDevice(QIODevice* d) {
  m_device = d;
  m_bytesDone = 0;
  m_bytesTotal = -1;
}

void QFtpDTP::writeToDevice(QTcpSocket* s) {
  const QByteArray data = s->readAll();
  if (data.isEmpty()) return;
  m_bytesDone += data.size();
  if (m_device->write(data) != data.size() && m_err.isEmpty())
    m_err = QStringLiteral("Writing the file failed: %1").arg(m_device->errorString());
  emit dataTransferProgress(m_bytesDone, m_bytesTotal);
}

bool QFtpDTP::currentIsList() const {
  return m_pi->currentCommand().startsWith(QLatin1String("LIST"));
}

void QFtpDTP::handleListLine(const QByteArray& line) {
  const bool wasWithinBound = m_listingBytes <= kMaxListingBytes;
  m_listingBytes += line.size();
  if (m_listingBytes > kMaxListingBytes) {
    if (wasWithinBound)
      RSLogger::instance()->writeLog(
          RSLogger::LevelWarning,
          QStringLiteral("Listing longer than %1 bytes; the rest is ignored").arg(kMaxListingBytes),
          "QFtpDTP::handleListLine");
    return;
  }
  QUrlInfo info;
  // The client has no user name of its own, so ownership never grants access.
  if (parseDir(line, QString(), &info)) {
    emit listInfo(info);
  } else if (line.endsWith("No such file or directory\r\n")) {
    m_err = QString::fromUtf8(line);
  }
}

void QFtpDTP::socketConnected() {
  m_bytesDone = 0;
  m_listingBytes = 0;
  m_dataConnected = true;
  emit m_pi->activity();
  emit connectState(CsConnected);
}

void QFtpDTP::socketReadyRead() {
  if (!m_socket) return;
  if (m_listingBytes <= kMaxListingBytes) emit m_pi->activity();
  if (m_pi->currentCommand().isEmpty()) {
    // Nothing asked for this data.
    m_socket->readAll();
    m_socket->close();
    m_connectionOpen = false;
    emit connectState(CsClosed);
    return;
  }
  if (m_pi->m_abortState != QFtpPI::None) {
    m_socket->readAll();
    return;
  }
  if (currentIsList()) {
    QTcpSocket* const s = m_socket;
    while (m_socket == s && s->canReadLine()) handleListLine(s->readLine());
    if (m_socket == s && !s->canReadLine() && s->bytesAvailable() > kMaxDataLine) {
      RSLogger::instance()->writeLog(
          RSLogger::LevelWarning,
          QStringLiteral("Listing line of more than %1 bytes dropped").arg(kMaxDataLine),
          "QFtpDTP::socketReadyRead");
      s->readAll();
    }
    return;
  }
  // A file goes straight to its device, so it is never held here whole.
  if (m_device) {
    writeToDevice(m_socket);
    return;
  }
  // Other transfers hand their bytes on as they come.
  m_bytesDone += m_socket->bytesAvailable();
  emit readyRead();
  emit dataTransferProgress(m_bytesDone, m_bytesTotal);
}

void QFtpDTP::socketError(QAbstractSocket::SocketError e) {
  if (!m_socket || !m_connectionOpen) return;
  if (e == QAbstractSocket::HostNotFoundError) {
    m_connectionOpen = false;
    emit connectState(CsHostNotFound);
  } else if (e == QAbstractSocket::ConnectionRefusedError || !m_dataConnected) {
    // Any failure to set the connection up (refused, no route, timed out) leaves the
    // command nothing to wait for.
    m_connectionOpen = false;
    emit connectState(CsConnectionRefused);
  }
}

void QFtpDTP::socketConnectionClosed() {
  QTcpSocket* const s = m_socket;
  if (!s) return;
  if (currentIsList() && m_pi->m_abortState == QFtpPI::None) {
    // Every line still unread, the last one even without its line end, belongs to
    // the listing: none may be lost.
    while (m_socket == s && s->canReadLine()) handleListLine(s->readLine());
    if (m_socket == s) {
      const QByteArray rest = s->readAll();
      if (!rest.isEmpty()) handleListLine(rest);
    }
  } else if (m_device && m_pi->m_abortState == QFtpPI::None) {
    writeToDevice(s);
  } else {
    m_bb += s->readAll();
  }
  if (m_socket != s) return;  // a handler dropped the connection meanwhile
  m_connectionOpen = false;
  emit connectState(CsClosed);
}

void QFtpDTP::socketBytesWritten(qint64 bytes) {
  m_bytesDone += bytes;
  emit m_pi->activity();
}

void QFtpDTP::dataReadyRead() {
  // Uploads read from their data source here; no command of this program uploads.
}
