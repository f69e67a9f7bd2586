#include "qsingleapplication.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "constants.h"
#include "rslogger.h"

namespace {
constexpr int kProbeTimeoutMs = 500;
// A later start never sends anything; it just closes its socket. Wait for that,
// but never longer than this.
constexpr int kKnockWaitMs = 1000;
}  // namespace

QSingleApplication::QSingleApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setOrganizationName(QStringLiteral("Morrowick"));
  setApplicationName(COMMON::kApplicationName);
  m_serverName = organizationName() + applicationName();
  const QString address = serverAddress(m_serverName);

  {
    QLocalSocket probe;
    probe.connectToServer(address, QIODevice::ReadWrite);
    if (probe.waitForConnected(kProbeTimeoutMs)) {
      qInfo("%s already running.", m_serverName.toLocal8Bit().constData());
      m_bRunning = true;
      return;
    }
  }

  m_localServer = new QLocalServer(this);
  connect(m_localServer, &QLocalServer::newConnection, this,
          &QSingleApplication::newLocalConnection);
  if (m_localServer->listen(address)) return;
  if (m_localServer->serverError() == QAbstractSocket::AddressInUseError) {
    // Left behind by an instance that did not end cleanly: nobody answered above.
    QLocalServer::removeServer(address);
    if (m_localServer->listen(address)) return;
  }
  RSLogger::instance()->writeLog(
      RSLogger::LevelWarning,
      QStringLiteral("Cannot listen on %1 (%2); a second start will not be noticed.")
          .arg(address, m_localServer->errorString()),
      "QSingleApplication::QSingleApplication");
}

void QSingleApplication::setMainWindow(QWidget* window) { m_mainWindow = window; }

bool QSingleApplication::isListening() const {
  return m_localServer != nullptr && m_localServer->isListening();
}

void QSingleApplication::newLocalConnection() {
  QLocalSocket* socket = m_localServer->nextPendingConnection();
  if (socket == nullptr) return;

  // Wait for the other side to hang up (it sends nothing) without blocking the
  // event loop; whichever comes first, hang-up or time-out, ends the wait once.
  QPointer<QLocalSocket> guarded(socket);
  auto finish = [this, guarded]() {
    if (guarded.isNull() || guarded->property("stelvoxDone").toBool()) return;
    guarded->setProperty("stelvoxDone", true);
    guarded->deleteLater();
    bringWindowForward();
  };
  connect(socket, &QLocalSocket::disconnected, this, finish);
  connect(socket, &QLocalSocket::readyRead, this, finish);
  QTimer::singleShot(kKnockWaitMs, this, finish);
  if (socket->state() != QLocalSocket::ConnectedState || socket->bytesAvailable() > 0) finish();
}

void QSingleApplication::bringWindowForward() {
  if (m_mainWindow == nullptr) return;
  m_mainWindow->showNormal();
  m_mainWindow->activateWindow();
  m_mainWindow->raise();
}

QString QSingleApplication::serverAddress(const QString& serverName) {
  return COMMON::platform::localServerAddress(serverName);
}

void QSingleApplication::quitOnTerminationRequest() {
  COMMON::platform::onTerminationRequest(this, [](int number) {
    RSLogger::instance()->writeLog(RSLogger::LevelInfo,
                                   QStringLiteral("Ending on request (signal %1).").arg(number),
                                   "QSingleApplication::quitOnTerminationRequest");
    QCoreApplication::quit();
  });
}
