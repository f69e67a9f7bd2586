// The FTP client's protocol interpreter (control connection) and data channel (data
// connection). Internal to QFtp; the queue above them is in qftp.cpp.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

#include "qftpparse.h"
#include "qurlinfo.h"

class QFtpPI;

class QFtpDTP : public QObject {
  Q_OBJECT

 public:
  enum ConnectState {
    CsHostFound = 0,
    CsConnected = 1,
    CsClosed = 2,
    CsHostNotFound = 3,
    CsConnectionRefused = 4,
  };

  explicit QFtpDTP(QFtpPI* p, QObject* parent = nullptr);
  ~QFtpDTP() override;

  // Passive mode: a new data socket connected to the address the server gave.
  void connectToHost(const QString& host, quint16 port);
  // Active mode: listens on `address`, any free port. The port, or -1.
  int setupListener(const QHostAddress& address);
  void abortConnection();

  // True while a data connection is being set up or is open.
  bool isConnectionOpen() const;

  qint64 bytesAvailable() const;
  void clearData();
  // Where a file transfer's bytes go as they arrive (none: they wait in the socket).
  // Also starts the transfer's byte count afresh.
  void setDevice(QIODevice* device);
  void setBytesTotal(qint64 total) { m_bytesTotal = total; }

  bool hasError() const { return !m_err.isEmpty(); }
  QString errorMessage() const { return m_err; }
  void clearError() { m_err.clear(); }

  // One listing line into an entry; see qftpparse::parseDir.
  static bool parseDir(const QByteArray& buffer, const QString& userName, QUrlInfo* info) {
    return qftpparse::parseDir(buffer, userName, info);
  }

 signals:
  void listInfo(const QUrlInfo&);
  void readyRead();
  void dataTransferProgress(qint64, qint64);
  void connectState(int);

 private slots:
  void socketConnected();
  void socketReadyRead();
  void socketError(QAbstractSocket::SocketError);
  void socketConnectionClosed();
  void socketBytesWritten(qint64);
  void setupSocket();
  void dataReadyRead();

 private:
  void connectSocketSignals();
  void dropSocket();
  void handleListLine(const QByteArray& line);
  bool currentIsList() const;

  // Moves what the data socket holds into the device.
  void writeToDevice(QTcpSocket* s);

  QTcpSocket* m_socket = nullptr;
  QPointer<QIODevice> m_device;
  QTcpServer m_listener;
  QFtpPI* m_pi;
  QString m_err;
  qint64 m_listingBytes = 0;
  qint64 m_bytesDone = 0;
  qint64 m_bytesTotal = 0;
  QByteArray m_bb;
  bool m_connectionOpen = false;
  bool m_dataConnected = false;
};

class QFtpPI : public QObject {
  Q_OBJECT

 public:
  enum State { Begin = 0, Idle = 1, Waiting = 2, Success = 3, Failure = 4 };
  enum AbortState { None = 0, AbortStarted = 1, WaitForAbortToFinish = 2 };

  explicit QFtpPI(QObject* parent = nullptr);
  ~QFtpPI() override;

  // How a socket, control or data, reaches its host. Harnesses that play the server
  // from memory put their own here; it must end in the socket's connected() or error().
  using Connector = void (*)(QTcpSocket* socket, const QString& host, quint16 port);
  static void setConnector(Connector connector);
  static void connectSocket(QTcpSocket* socket, const QString& host, quint16 port);

  void connectToHost(const QString& host, quint16 port);
  // Runs a command's strings one after another. False when strings of an earlier
  // command are still queued.
  bool sendCommands(const QStringList& cmds);
  bool sendCommand(const QString& cmd) { return sendCommands(QStringList(cmd)); }
  void clearPendingCommands();
  void abort();
  QString currentCommand() const { return m_currentCmd; }
  // The host name of the last connect.
  QString hostName() const { return m_host; }

  // Gives up on a server that stopped answering: drops both connections, reports
  // Unconnected and, when `reportError`, the failure of the running command.
  void giveUp(bool reportError, const QString& text);

  bool m_rawCommand = false;
  bool m_transferConnectionExtended = true;
  QFtpDTP m_dtp;
  QTcpSocket m_commandSocket;

 signals:
  void connectState(int);
  void finished(const QString&);
  void error(int, const QString&);
  void rawFtpReply(int, const QString&);
  // Any sign of life from the server, on either connection.
  void activity();

 private slots:
  void hostFound();
  void connected();
  void connectionClosed();
  void delayedCloseFinished();
  void readyRead();
  void error(QAbstractSocket::SocketError);
  void dtpConnectState(int);

 private:
  friend class QFtpDTP;
  bool processReply();
  // What a reply to the running command makes of it.
  static State stateAfterReply(int code);
  // The reply's own effects (data connection, size, login), then the command's end.
  void actOnReply(int code, const QString& text);
  void actOnState(const QString& text);
  bool startNextCmd();
  void resetForConnection();
  void emitSocketFailure(int code, const QString& text);

  State m_state = Begin;
  AbortState m_abortState = None;
  QFtpReplyReader m_reply;
  bool m_waitForDtpToConnect = false;
  bool m_waitForDtpToClose = false;
  QStringList m_pendingCommands;
  QString m_currentCmd;

  QString m_host;
  bool m_connectPending = false;
  // Counts clearPendingCommands() calls: a signal handler that failed the command
  // and perhaps started another one must not be followed by more of the old one.
  quint64 m_generation = 0;
  // Counts giveUp() calls.
  quint64 m_dropCount = 0;
  // Lines without a reply code seen on this connection; only the first few are logged.
  int m_droppedLines = 0;
  static constexpr int kLoggedDroppedLines = 5;
  // A 227 reply that named another host than the server's has been logged.
  bool m_foreignDataHostLogged = false;
};
