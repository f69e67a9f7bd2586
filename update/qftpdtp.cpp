#include "qftppi.h"
#include "rslogger.h"

namespace {

// A listing line longer than this without a line end is junk, not a directory entry.
constexpr qint64 kMaxDataLine = 64 * 1024;
// A release directory lists a few dozen entries; a listing this long is a server that
// never stops, and what follows no longer counts as progress.
constexpr qint64 kMaxListingBytes = 4 * 1024 * 1024;

}  // namespace

QFtpDTP::QFtpDTP(QFtpPI* p, QObject* parent) : QObject(parent), pi(p) {
  listener.setObjectName(QStringLiteral("QFtpDTP active state server"));
  connect(&listener, &QTcpServer::newConnection, this, &QFtpDTP::setupSocket);
}

QFtpDTP::~QFtpDTP() {
  if (socket) {
    socket->blockSignals(true);
    delete socket;
  }
}

void QFtpDTP::connectSocketSignals() {
  connect(socket, &QTcpSocket::connected, this, &QFtpDTP::socketConnected);
  connect(socket, &QTcpSocket::readyRead, this, &QFtpDTP::socketReadyRead);
  connect(socket, &QAbstractSocket::errorOccurred, this, &QFtpDTP::socketError);
  connect(socket, &QTcpSocket::disconnected, this, &QFtpDTP::socketConnectionClosed);
  connect(socket, &QTcpSocket::bytesWritten, this, &QFtpDTP::socketBytesWritten);
}

void QFtpDTP::dropSocket() {
  if (!socket) return;
  // The old socket may be the one whose signal brought us here: let it go later,
  // silently.
  socket->disconnect(this);
  socket->blockSignals(true);
  socket->abort();
  socket->deleteLater();
  socket = nullptr;
  connectionOpen = false;
  dataConnected = false;
}

void QFtpDTP::connectToHost(const QString& host, quint16 port) {
  bb.clear();
  dropSocket();
  socket = new QTcpSocket(this);
  socket->setObjectName(QStringLiteral("QFtpDTP Passive state socket"));
  connectSocketSignals();
  connectionOpen = true;
  QFtpPI::connectSocket(socket, host, port);
}

int QFtpDTP::setupListener(const QHostAddress& address) {
  if (!listener.isListening() && !listener.listen(address, 0)) return -1;
  return listener.serverPort();
}

void QFtpDTP::setupSocket() {
  QTcpSocket* incoming = listener.nextPendingConnection();
  if (!incoming) return;
  dropSocket();
  socket = incoming;
  socket->setParent(this);
  socket->setObjectName(QStringLiteral("QFtpDTP Active state socket"));
  connectSocketSignals();
  connectionOpen = true;
  dataConnected = true;
  bytesDone = 0;
  listingBytes = 0;
  listener.close();
  emit pi->activity();
  // The server may have sent everything, and even closed, before we took the
  // connection: no signal will tell of that.
  QTcpSocket* const s = socket;
  if (s->bytesAvailable() > 0) socketReadyRead();
  if (socket == s && s->state() != QAbstractSocket::ConnectedState) socketConnectionClosed();
}

void QFtpDTP::abortConnection() {
  bytesDone = 0;
  listingBytes = 0;
  bytesTotal = 0;
  listener.close();
  dropSocket();
}

bool QFtpDTP::isConnectionOpen() const {
  // In active mode the server's connection may still be on its way.
  return (socket && connectionOpen) || listener.isListening();
}

qint64 QFtpDTP::bytesAvailable() const {
  return bb.size() + (socket ? socket->bytesAvailable() : 0);
}

void QFtpDTP::clearData() {
  bb.clear();
  if (socket) socket->readAll();
}

void QFtpDTP::setDevice(QIODevice* d) {
  device = d;
  bytesDone = 0;
  bytesTotal = -1;
}

void QFtpDTP::writeToDevice(QTcpSocket* s) {
  const QByteArray data = s->readAll();
  if (data.isEmpty()) return;
  bytesDone += data.size();
  if (device->write(data) != data.size() && err.isEmpty())
    err = QStringLiteral("Writing the file failed: %1").arg(device->errorString());
  emit dataTransferProgress(bytesDone, bytesTotal);
}

bool QFtpDTP::currentIsList() const {
  return pi->currentCommand().startsWith(QLatin1String("LIST"));
}

void QFtpDTP::handleListLine(const QByteArray& line) {
  const bool wasWithinBound = listingBytes <= kMaxListingBytes;
  listingBytes += line.size();
  if (listingBytes > kMaxListingBytes) {
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
    err = QString::fromUtf8(line);
  }
}

void QFtpDTP::socketConnected() {
  bytesDone = 0;
  listingBytes = 0;
  dataConnected = true;
  emit pi->activity();
  emit connectState(CsConnected);
}

void QFtpDTP::socketReadyRead() {
  if (!socket) return;
  if (listingBytes <= kMaxListingBytes) emit pi->activity();
  if (pi->currentCommand().isEmpty()) {
    // Nothing asked for this data.
    socket->readAll();
    socket->close();
    connectionOpen = false;
    emit connectState(CsClosed);
    return;
  }
  if (pi->abortState != QFtpPI::None) {
    socket->readAll();
    return;
  }
  if (currentIsList()) {
    QTcpSocket* const s = socket;
    while (socket == s && s->canReadLine()) handleListLine(s->readLine());
    if (socket == s && !s->canReadLine() && s->bytesAvailable() > kMaxDataLine) {
      RSLogger::instance()->writeLog(
          RSLogger::LevelWarning,
          QStringLiteral("Listing line of more than %1 bytes dropped").arg(kMaxDataLine),
          "QFtpDTP::socketReadyRead");
      s->readAll();
    }
    return;
  }
  // A file goes straight to its device, so it is never held here whole.
  if (device) {
    writeToDevice(socket);
    return;
  }
  // Other transfers hand their bytes on as they come.
  bytesDone += socket->bytesAvailable();
  emit readyRead();
  emit dataTransferProgress(bytesDone, bytesTotal);
}

void QFtpDTP::socketError(QAbstractSocket::SocketError e) {
  if (!socket || !connectionOpen) return;
  if (e == QAbstractSocket::HostNotFoundError) {
    connectionOpen = false;
    emit connectState(CsHostNotFound);
  } else if (e == QAbstractSocket::ConnectionRefusedError || !dataConnected) {
    // Any failure to set the connection up (refused, no route, timed out) leaves the
    // command nothing to wait for.
    connectionOpen = false;
    emit connectState(CsConnectionRefused);
  }
}

void QFtpDTP::socketConnectionClosed() {
  QTcpSocket* const s = socket;
  if (!s) return;
  if (currentIsList() && pi->abortState == QFtpPI::None) {
    // Every line still unread, the last one even without its line end, belongs to
    // the listing: none may be lost.
    while (socket == s && s->canReadLine()) handleListLine(s->readLine());
    if (socket == s) {
      const QByteArray rest = s->readAll();
      if (!rest.isEmpty()) handleListLine(rest);
    }
  } else if (device && pi->abortState == QFtpPI::None) {
    writeToDevice(s);
  } else {
    bb += s->readAll();
  }
  if (socket != s) return;  // a handler dropped the connection meanwhile
  connectionOpen = false;
  emit connectState(CsClosed);
}

void QFtpDTP::socketBytesWritten(qint64 bytes) {
  bytesDone += bytes;
  emit pi->activity();
}

void QFtpDTP::dataReadyRead() {
  // Uploads read from their data source here; no command of this program uploads.
}
