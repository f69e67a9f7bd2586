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
  ~QFtpPrivate() { qDeleteAll(m_pending); }

  int addCommand(QFtpCommand* c);
  void finishHead(bool failed);

  QFtpPI m_pi;
  QList<QFtpCommand*> m_pending;
  bool m_closeWaiting = false;
  QFtp::State m_state = QFtp::Unconnected;
  QFtp::TransferMode m_transferMode = QFtp::Passive;
  QFtp::Error m_error = QFtp::NoError;
  QString m_errorString;
  QFtp* q;

  QTimer m_inactivity;
};

int QFtpPrivate::addCommand(QFtpCommand* c) {
  m_pending.append(c);
  // Never start inside the call that queued it: callers connect their signals after.
  if (m_pending.size() == 1) QTimer::singleShot(0, q, &QFtp::_q_startNextCommand);
  return c->id;
}

void QFtpPrivate::finishHead(bool failed) {
  QFtpCommand* c = m_pending.first();
  m_inactivity.stop();
  m_closeWaiting = false;
  c->finishing = true;
  QPointer<QFtp> guard(q);
  emit q->commandFinished(c->id, failed);
  if (!guard) return;
  m_pending.removeOne(c);
  delete c;
  if (m_pending.isEmpty())
    emit q->done(failed);
  else
    q->_q_startNextCommand();
}

QFtp::QFtp(QObject* parent) : QObject(parent), d(new QFtpPrivate(this)) {
  d->m_errorString = tr("Unknown error");
  d->m_inactivity.setSingleShot(true);
  d->m_inactivity.setInterval(kDefaultInactivityTimeoutMs);

  connect(&d->m_pi, &QFtpPI::connectState, this, &QFtp::_q_piConnectState);
  connect(&d->m_pi, &QFtpPI::finished, this, &QFtp::_q_piFinished);
  connect(&d->m_pi, qOverload<int, const QString&>(&QFtpPI::error), this, &QFtp::_q_piError);
  connect(&d->m_pi, &QFtpPI::rawFtpReply, this, &QFtp::_q_piFtpReply);

  connect(&d->m_pi.m_dtp, &QFtpDTP::readyRead, this, &QFtp::readyRead);
  connect(&d->m_pi.m_dtp, &QFtpDTP::dataTransferProgress, this, &QFtp::dataTransferProgress);
  connect(&d->m_pi.m_dtp, &QFtpDTP::listInfo, this, &QFtp::listInfo);

  // Any sign of life restarts the running command's clock.
  connect(&d->m_pi, &QFtpPI::activity, this, [this] {
    if (d->m_inactivity.isActive()) d->m_inactivity.start();
  });
  connect(&d->m_inactivity, &QTimer::timeout, this, &QFtp::_q_inactivityTimeout);
}

QFtp::~QFtp() {
  abort();
  // This close never runs (its start is queued to an object going away): the
  // connections are simply dropped, and nothing may call back into this client.
  close();
  d->m_inactivity.stop();
  d->m_pi.disconnect(this);
  d->m_pi.m_dtp.disconnect(this);
}

int QFtp::connectToHost(const QString& host, quint16 port) {
  d->m_pi.m_transferConnectionExtended = true;
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
  cmds << (d->m_transferMode == Passive ? QStringLiteral("PASV\r\n") : QStringLiteral("PORT\r\n"));
  cmds << (dir.isEmpty() ? QStringLiteral("LIST\r\n")
                         : QStringLiteral("LIST ") + dir + QStringLiteral("\r\n"));
  return d->addCommand(new QFtpCommand(List, cmds));
}

int QFtp::get(const QString& file, QIODevice* device) {
  // Binary first: some servers refuse SIZE in ASCII mode.
  auto* c = new QFtpCommand(
      Get, {QStringLiteral("TYPE I\r\n"), QStringLiteral("SIZE ") + file + QStringLiteral("\r\n"),
            d->m_transferMode == Passive ? QStringLiteral("PASV\r\n") : QStringLiteral("PORT\r\n"),
            QStringLiteral("RETR ") + file + QStringLiteral("\r\n")});
  c->device = device;
  return d->addCommand(c);
}

int QFtp::close() { return d->addCommand(new QFtpCommand(Close, {QStringLiteral("QUIT\r\n")})); }

QFtp::State QFtp::state() const { return d->m_state; }

QFtp::Command QFtp::currentCommand() const {
  return d->m_pending.isEmpty() ? None : d->m_pending.first()->command;
}

QFtp::Error QFtp::error() const { return d->m_error; }

QString QFtp::errorString() const { return d->m_errorString; }

bool QFtp::hasPendingCommands() const { return d->m_pending.size() > 1; }

void QFtp::clearPendingCommands() {
  while (d->m_pending.size() > 1) delete d->m_pending.takeLast();
}

void QFtp::abandon(const QString& reason) {
  if (d->m_pending.isEmpty() || d->m_pending.first()->finishing) return;
  clearPendingCommands();
  d->m_pi.giveUp(true, reason);
}

void QFtp::setInactivityTimeout(int msec) { d->m_inactivity.setInterval(qMax(0, msec)); }

int QFtp::inactivityTimeout() const { return d->m_inactivity.interval(); }

void QFtp::abort() {
  if (d->m_pending.isEmpty()) return;
  clearPendingCommands();
  d->m_pi.abort();
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
  if (d->m_pending.isEmpty()) return;
  QFtpCommand* c = d->m_pending.first();
  if (c->finishing) return;

  d->m_error = NoError;
  d->m_errorString = kUnknownError;
  if (d->m_pi.m_dtp.bytesAvailable()) d->m_pi.m_dtp.clearData();
  d->m_pi.m_dtp.setDevice(c->command == Get ? c->device.data() : nullptr);
  if (d->m_inactivity.interval() > 0) d->m_inactivity.start();

  QPointer<QFtp> guard(this);
  emit commandStarted(c->id);
  if (!guard || d->m_pending.isEmpty() || d->m_pending.first() != c) return;

  if (c->command != ConnectToHost && hasEmbeddedLineEnd(c->rawCmds)) {
    _q_piError(UnknownError, QStringLiteral("Line break in a command argument"));
    return;
  }

  switch (c->command) {
    case ConnectToHost:
      d->m_pi.connectToHost(c->rawCmds.value(0), c->rawCmds.value(1).toUShort());
      break;
    case Close:
      d->m_state = Closing;
      emit stateChanged(d->m_state);
      if (!guard || d->m_pending.isEmpty() || d->m_pending.first() != c) return;
      d->m_pi.sendCommands(c->rawCmds);
      break;
    default:
      d->m_pi.sendCommands(c->rawCmds);
      break;
  }
}

void QFtp::_q_piFinished(const QString&) {
  if (d->m_pending.isEmpty() || d->m_pending.first()->finishing) return;
  QFtpCommand* c = d->m_pending.first();
  if (c->command == Close && d->m_state != Unconnected) {
    // Done only once the server has really closed the connection.
    d->m_closeWaiting = true;
    return;
  }
  d->finishHead(false);
}

void QFtp::_q_piError(int errorCode, const QString& text) {
  if (d->m_pending.isEmpty()) {
    qWarning("QFtpPrivate::_q_piError was called without pending command!");
    return;
  }
  QFtpCommand* c = d->m_pending.first();
  if (c->finishing) {
    qWarning("QFtpPrivate::_q_piError: error \"%s\" after the command had finished",
             qPrintable(qftpparse::harmless(text)));
    return;
  }

  d->m_error = static_cast<Error>(errorCode);
  switch (c->command) {
    case ConnectToHost:
      d->m_errorString = QStringLiteral("Connecting to host failed:\n%1").arg(text);
      break;
    case Login:
      d->m_errorString = QStringLiteral("Login failed:\n%1").arg(text);
      break;
    case List:
      d->m_errorString = QStringLiteral("Listing directory failed:\n%1").arg(text);
      break;
    case Cd:
      d->m_errorString = QStringLiteral("Changing directory failed:\n%1").arg(text);
      break;
    case Get:
      d->m_errorString = QStringLiteral("Downloading file failed:\n%1").arg(text);
      break;
    case Put:
      d->m_errorString = QStringLiteral("Uploading file failed:\n%1").arg(text);
      break;
    case Remove:
      d->m_errorString = QStringLiteral("Removing file failed:\n%1").arg(text);
      break;
    case Mkdir:
      d->m_errorString = QStringLiteral("Creating directory failed:\n%1").arg(text);
      break;
    case Rmdir:
      d->m_errorString = QStringLiteral("Removing directory failed:\n%1").arg(text);
      break;
    default:
      d->m_errorString = text;
      break;
  }

  d->m_pi.clearPendingCommands();
  clearPendingCommands();

  // A close that could not even be sent leaves no connection behind.
  if (c->command == Close && d->m_state == Closing &&
      d->m_pi.m_commandSocket.state() == QAbstractSocket::UnconnectedState) {
    d->m_state = Unconnected;
    QPointer<QFtp> guard(this);
    emit stateChanged(d->m_state);
    if (!guard || d->m_pending.isEmpty() || d->m_pending.first() != c) return;
  }
  d->finishHead(true);
}

void QFtp::_q_piConnectState(int connectState) {
  d->m_state = static_cast<State>(connectState);
  QPointer<QFtp> guard(this);
  emit stateChanged(d->m_state);
  if (!guard) return;
  if (d->m_closeWaiting) {
    d->m_closeWaiting = false;
    _q_piFinished(QStringLiteral("Connection closed"));
  }
}

void QFtp::_q_piFtpReply(int code, const QString& text) {
  if (currentCommand() == RawCommand) {
    d->m_pi.m_rawCommand = true;
    emit rawCommandReply(code, text);
  }
}

void QFtp::_q_inactivityTimeout() {
  if (d->m_pending.isEmpty() || d->m_pending.first()->finishing) return;
  const QString host = d->m_pi.hostName();
  const int seconds = (d->m_inactivity.interval() + 999) / 1000;
  RSLogger::instance()->writeLog(
      RSLogger::LevelWarning,
      QStringLiteral("FTP server %1 silent for %2 s during command %3; connection dropped")
          .arg(host)
          .arg(seconds)
          .arg(d->m_pending.first()->id),
      "QFtp::inactivityTimeout");
  if (d->m_closeWaiting) {
    // The server answered QUIT but kept the connection: dropping it ends the close.
    d->m_pi.giveUp(false, QString());
    return;
  }
  d->m_pi.giveUp(true,
                 tr("Host %1 did not answer for %2 seconds").arg(host, QString::number(seconds)));
}
