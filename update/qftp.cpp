#include "qftp.h"

#include <QAtomicInt>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QtDebug>

#include "qftppi.h"
#include "rslogger.h"

namespace {

// Identifiers are unique and increasing across every client of the process.
QBasicAtomicInt g_commandId = Q_BASIC_ATOMIC_INITIALIZER(1);

const QString kUnknownError = QStringLiteral("Unknown error");

}  // namespace

// One queued command.
struct QFtpCommand {
  QFtpCommand(QFtp::Command c, const QStringList& strings)
      : id(g_commandId.fetchAndAddRelaxed(1)), command(c), rawCmds(strings) {}

  int id;
  QFtp::Command command;
  // The strings to send; for a connect, the host name and the port as decimal text.
  QStringList rawCmds;
  // Where a Get writes what arrives.
  QPointer<QIODevice> device;
  // Set while commandFinished for it is being emitted; its handler may run a nested
  // event loop, and the command must stay the head until the handler returns.
  bool finishing = false;
};

class QFtpPrivate {
 public:
  explicit QFtpPrivate(QFtp* owner) : q(owner) {}
  ~QFtpPrivate() { qDeleteAll(pending); }

  int addCommand(QFtpCommand* c);
  void finishHead(bool failed);

  QFtpPI pi;
  QList<QFtpCommand*> pending;
  bool closeWaiting = false;
  QFtp::State state = QFtp::Unconnected;
  QFtp::TransferMode transferMode = QFtp::Passive;
  QFtp::Error error = QFtp::NoError;
  QString errorString;
  QFtp* q;

  QTimer inactivity;
};

int QFtpPrivate::addCommand(QFtpCommand* c) {
  pending.append(c);
  // Never start inside the call that queued it: callers connect their signals after.
  if (pending.size() == 1) QTimer::singleShot(0, q, &QFtp::_q_startNextCommand);
  return c->id;
}

void QFtpPrivate::finishHead(bool failed) {
  QFtpCommand* c = pending.first();
  inactivity.stop();
  closeWaiting = false;
  c->finishing = true;
  QPointer<QFtp> guard(q);
  emit q->commandFinished(c->id, failed);
  if (!guard) return;
  pending.removeOne(c);
  delete c;
  if (pending.isEmpty())
    emit q->done(failed);
  else
    q->_q_startNextCommand();
}

QFtp::QFtp(QObject* parent) : QObject(parent), d(new QFtpPrivate(this)) {
  d->errorString = tr("Unknown error");
  d->inactivity.setSingleShot(true);
  d->inactivity.setInterval(kDefaultInactivityTimeoutMs);

  connect(&d->pi, &QFtpPI::connectState, this, &QFtp::_q_piConnectState);
  connect(&d->pi, &QFtpPI::finished, this, &QFtp::_q_piFinished);
  connect(&d->pi, qOverload<int, const QString&>(&QFtpPI::error), this, &QFtp::_q_piError);
  connect(&d->pi, &QFtpPI::rawFtpReply, this, &QFtp::_q_piFtpReply);

  connect(&d->pi.dtp, &QFtpDTP::readyRead, this, &QFtp::readyRead);
  connect(&d->pi.dtp, &QFtpDTP::dataTransferProgress, this, &QFtp::dataTransferProgress);
  connect(&d->pi.dtp, &QFtpDTP::listInfo, this, &QFtp::listInfo);

  // Any sign of life restarts the running command's clock.
  connect(&d->pi, &QFtpPI::activity, this, [this] {
    if (d->inactivity.isActive()) d->inactivity.start();
  });
  connect(&d->inactivity, &QTimer::timeout, this, &QFtp::_q_inactivityTimeout);
}

QFtp::~QFtp() {
  abort();
  // This close never runs (its start is queued to an object going away): the
  // connections are simply dropped, and nothing may call back into this client.
  close();
  d->inactivity.stop();
  d->pi.disconnect(this);
  d->pi.dtp.disconnect(this);
}

int QFtp::connectToHost(const QString& host, quint16 port) {
  d->pi.transferConnectionExtended = true;
  return d->addCommand(new QFtpCommand(ConnectToHost, QStringList{host, QString::number(port)}));
}

int QFtp::login(const QString& user, const QString& password) {
  const QString u = user.isNull() ? QStringLiteral("anonymous") : user;
  const QString p = password.isNull() ? QStringLiteral("anonymous@") : password;
  return d->addCommand(
      new QFtpCommand(Login, QStringList{QStringLiteral("USER ") + u + QStringLiteral("\r\n"),
                                         QStringLiteral("PASS ") + p + QStringLiteral("\r\n")}));
}

int QFtp::list(const QString& dir) {
  QStringList cmds;
  cmds << QStringLiteral("TYPE A\r\n");
  cmds << (d->transferMode == Passive ? QStringLiteral("PASV\r\n") : QStringLiteral("PORT\r\n"));
  cmds << (dir.isEmpty() ? QStringLiteral("LIST\r\n")
                         : QStringLiteral("LIST ") + dir + QStringLiteral("\r\n"));
  return d->addCommand(new QFtpCommand(List, cmds));
}

int QFtp::get(const QString& file, QIODevice* device) {
  // Binary first: some servers refuse SIZE in ASCII mode.
  auto* c = new QFtpCommand(
      Get, {QStringLiteral("TYPE I\r\n"), QStringLiteral("SIZE ") + file + QStringLiteral("\r\n"),
            d->transferMode == Passive ? QStringLiteral("PASV\r\n") : QStringLiteral("PORT\r\n"),
            QStringLiteral("RETR ") + file + QStringLiteral("\r\n")});
  c->device = device;
  return d->addCommand(c);
}

int QFtp::close() { return d->addCommand(new QFtpCommand(Close, {QStringLiteral("QUIT\r\n")})); }

QFtp::State QFtp::state() const { return d->state; }

QFtp::Command QFtp::currentCommand() const {
  return d->pending.isEmpty() ? None : d->pending.first()->command;
}

QFtp::Error QFtp::error() const { return d->error; }

QString QFtp::errorString() const { return d->errorString; }

bool QFtp::hasPendingCommands() const { return d->pending.size() > 1; }

void QFtp::clearPendingCommands() {
  while (d->pending.size() > 1) delete d->pending.takeLast();
}

void QFtp::abandon(const QString& reason) {
  if (d->pending.isEmpty() || d->pending.first()->finishing) return;
  clearPendingCommands();
  d->pi.giveUp(true, reason);
}

void QFtp::setInactivityTimeout(int msec) { d->inactivity.setInterval(qMax(0, msec)); }

int QFtp::inactivityTimeout() const { return d->inactivity.interval(); }

void QFtp::abort() {
  if (d->pending.isEmpty()) return;
  clearPendingCommands();
  d->pi.abort();
}

namespace {

// A line end inside an argument would smuggle a second command onto the connection.
bool hasEmbeddedLineEnd(const QStringList& strings) {
  for (const QString& s : strings) {
    const QString body = s.endsWith(QLatin1String("\r\n")) ? s.left(s.size() - 2) : s;
    if (body.contains(QLatin1Char('\r')) || body.contains(QLatin1Char('\n'))) return true;
  }
  return false;
}

}  // namespace

void QFtp::_q_startNextCommand() {
  if (d->pending.isEmpty()) return;
  QFtpCommand* c = d->pending.first();
  if (c->finishing) return;

  d->error = NoError;
  d->errorString = kUnknownError;
  if (d->pi.dtp.bytesAvailable()) d->pi.dtp.clearData();
  d->pi.dtp.setDevice(c->command == Get ? c->device.data() : nullptr);
  if (d->inactivity.interval() > 0) d->inactivity.start();

  QPointer<QFtp> guard(this);
  emit commandStarted(c->id);
  if (!guard || d->pending.isEmpty() || d->pending.first() != c) return;

  if (c->command != ConnectToHost && hasEmbeddedLineEnd(c->rawCmds)) {
    _q_piError(UnknownError, QStringLiteral("Line break in a command argument"));
    return;
  }

  switch (c->command) {
    case ConnectToHost:
      d->pi.connectToHost(c->rawCmds.value(0), c->rawCmds.value(1).toUShort());
      break;
    case Close:
      d->state = Closing;
      emit stateChanged(d->state);
      if (!guard || d->pending.isEmpty() || d->pending.first() != c) return;
      d->pi.sendCommands(c->rawCmds);
      break;
    default:
      d->pi.sendCommands(c->rawCmds);
      break;
  }
}

void QFtp::_q_piFinished(const QString&) {
  if (d->pending.isEmpty() || d->pending.first()->finishing) return;
  QFtpCommand* c = d->pending.first();
  if (c->command == Close && d->state != Unconnected) {
    // Done only once the server has really closed the connection.
    d->closeWaiting = true;
    return;
  }
  d->finishHead(false);
}

void QFtp::_q_piError(int errorCode, const QString& text) {
  if (d->pending.isEmpty()) {
    qWarning("QFtpPrivate::_q_piError was called without pending command!");
    return;
  }
  QFtpCommand* c = d->pending.first();
  if (c->finishing) {
    qWarning("QFtpPrivate::_q_piError: error \"%s\" after the command had finished",
             qPrintable(QFtpParse::harmless(text)));
    return;
  }

  d->error = static_cast<Error>(errorCode);
  switch (c->command) {
    case ConnectToHost:
      d->errorString = QStringLiteral("Connecting to host failed:\n%1").arg(text);
      break;
    case Login:
      d->errorString = QStringLiteral("Login failed:\n%1").arg(text);
      break;
    case List:
      d->errorString = QStringLiteral("Listing directory failed:\n%1").arg(text);
      break;
    case Cd:
      d->errorString = QStringLiteral("Changing directory failed:\n%1").arg(text);
      break;
    case Get:
      d->errorString = QStringLiteral("Downloading file failed:\n%1").arg(text);
      break;
    case Put:
      d->errorString = QStringLiteral("Uploading file failed:\n%1").arg(text);
      break;
    case Remove:
      d->errorString = QStringLiteral("Removing file failed:\n%1").arg(text);
      break;
    case Mkdir:
      d->errorString = QStringLiteral("Creating directory failed:\n%1").arg(text);
      break;
    case Rmdir:
      d->errorString = QStringLiteral("Removing directory failed:\n%1").arg(text);
      break;
    default:
      d->errorString = text;
      break;
  }

  d->pi.clearPendingCommands();
  clearPendingCommands();

  // A close that could not even be sent leaves no connection behind.
  if (c->command == Close && d->state == Closing &&
      d->pi.commandSocket.state() == QAbstractSocket::UnconnectedState) {
    d->state = Unconnected;
    QPointer<QFtp> guard(this);
    emit stateChanged(d->state);
    if (!guard || d->pending.isEmpty() || d->pending.first() != c) return;
  }
  d->finishHead(true);
}

void QFtp::_q_piConnectState(int connectState) {
  d->state = static_cast<State>(connectState);
  QPointer<QFtp> guard(this);
  emit stateChanged(d->state);
  if (!guard) return;
  if (d->closeWaiting) {
    d->closeWaiting = false;
    _q_piFinished(QStringLiteral("Connection closed"));
  }
}

void QFtp::_q_piFtpReply(int code, const QString& text) {
  if (currentCommand() == RawCommand) {
    d->pi.rawCommand = true;
    emit rawCommandReply(code, text);
  }
}

void QFtp::_q_inactivityTimeout() {
  if (d->pending.isEmpty() || d->pending.first()->finishing) return;
  const QString host = d->pi.hostName();
  const int seconds = (d->inactivity.interval() + 999) / 1000;
  RSLogger::instance()->writeLog(
      RSLogger::LevelWarning,
      QStringLiteral("FTP server %1 silent for %2 s during command %3; connection dropped")
          .arg(host)
          .arg(seconds)
          .arg(d->pending.first()->id),
      "QFtp::inactivityTimeout");
  if (d->closeWaiting) {
    // The server answered QUIT but kept the connection: dropping it ends the close.
    d->pi.giveUp(false, QString());
    return;
  }
  d->pi.giveUp(true,
               tr("Host %1 did not answer for %2 seconds").arg(host, QString::number(seconds)));
}
