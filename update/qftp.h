// The program's own asynchronous FTP client. Callers queue commands; each call returns
// the command's identifier at once and the commands run one after another on the
// owning thread's event loop, reporting progress only through signals.
#pragma once

#include <QIODevice>
#include <QObject>
#include <QScopedPointer>
#include <QString>

#include "qurlinfo.h"

class QFtpPrivate;

class QFtp : public QObject {
  Q_OBJECT

 public:
  enum State {
    Unconnected = 0,
    HostLookup = 1,
    Connecting = 2,
    Connected = 3,
    LoggedIn = 4,
    Closing = 5,
  };
  Q_ENUM(State)

  enum Error {
    NoError = 0,
    UnknownError = 1,
    HostNotFound = 2,
    ConnectionRefused = 3,
    NotConnected = 4,
  };
  Q_ENUM(Error)

  enum Command {
    None = 0,
    SetTransferMode = 1,
    SetProxy = 2,
    ConnectToHost = 3,
    Login = 4,
    Close = 5,
    List = 6,
    Cd = 7,
    Get = 8,
    Put = 9,
    Remove = 10,
    Mkdir = 11,
    Rmdir = 12,
    Rename = 13,
    RawCommand = 14,
  };
  Q_ENUM(Command)

  enum TransferMode { Active = 0, Passive = 1 };
  Q_ENUM(TransferMode)

  // How long a running command may go without any sign of life from the server.
  static constexpr int kDefaultInactivityTimeoutMs = 30000;

  explicit QFtp(QObject* parent = nullptr);
  ~QFtp() override;

  int connectToHost(const QString& host, quint16 port = 21);
  // A null user logs in as "anonymous", a null password as "anonymous@".
  int login(const QString& user = QString(), const QString& password = QString());
  // An empty directory lists the server's current directory.
  int list(const QString& dir = QString());
  // Fetches `file` in binary into `device` as it arrives. The size the server gives for
  // it (SIZE) is the total that dataTransferProgress reports, -1 when it gave none.
  int get(const QString& file, QIODevice* device);
  int close();

  State state() const;
  Command currentCommand() const;
  Error error() const;
  QString errorString() const;
  // True when more than one command is queued (the running one is not counted).
  bool hasPendingCommands() const;
  // Deletes every queued command except the running one.
  void clearPendingCommands();
  // Drops the connection at once: the running command fails with `reason` and the
  // queued ones are deleted. For callers with a deadline of their own.
  void abandon(const QString& reason);

  // A running command fails when the server shows no sign of life for this long.
  // A server that answers slowly but steadily is never cut off. 0 disables the bound.
  void setInactivityTimeout(int msec);
  int inactivityTimeout() const;

 signals:
  void stateChanged(int state);
  void listInfo(const QUrlInfo& info);
  void readyRead();
  void dataTransferProgress(qint64 done, qint64 total);
  void rawCommandReply(int replyCode, const QString& detail);
  void commandStarted(int id);
  void commandFinished(int id, bool error);
  void done(bool error);

 public slots:
  void abort();

 private slots:
  void _q_startNextCommand();
  void _q_piFinished(const QString& text);
  void _q_piError(int errorCode, const QString& text);
  void _q_piConnectState(int connectState);
  void _q_piFtpReply(int code, const QString& text);
  void _q_inactivityTimeout();

 private:
  Q_DISABLE_COPY(QFtp)
  friend class QFtpPrivate;
  QScopedPointer<QFtpPrivate> d;
};
