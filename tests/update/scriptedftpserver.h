// An FTP server of the tests' own that answers with exact bytes, for what a friendly
// server never does. It runs on the test's own event loop. Each command verb has a
// handler; the defaults behave like a plain server with one listing.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>

class ScriptedFtpServer : public QObject {
  Q_OBJECT

 public:
  using Handler = std::function<void(const QByteArray& argument)>;

  ScriptedFtpServer() {
    connect(&m_control, &QTcpServer::newConnection, this, &ScriptedFtpServer::acceptControl);
    connect(&m_data, &QTcpServer::newConnection, this, &ScriptedFtpServer::acceptData);
    on("USER", [this](const QByteArray&) { send("331 Password required\r\n"); });
    on("PASS", [this](const QByteArray&) { send("230 Logged in\r\n"); });
    on("TYPE", [this](const QByteArray&) { send("200 Type set\r\n"); });
    on("PASV", [this](const QByteArray&) { send(passiveReply(true)); });
    on("EPSV", [this](const QByteArray&) {
      send(QByteArray("229 Entering Extended Passive Mode (|||") + QByteArray::number(openData()) +
           "|)\r\n");
    });
    on("LIST", [this](const QByteArray&) {
      withData([this](QTcpSocket* d) {
        send("150 Here comes the listing\r\n");
        for (const QByteArray& line : listing) d->write(line);
        d->disconnectFromHost();
        send("226 Transfer complete\r\n");
      });
    });
    // Active mode: the server connects to the client.
    on("PORT", [this](const QByteArray& argument) {
      const QList<QByteArray> n = argument.split(',');
      if (n.size() != 6) return send("501 Bad PORT\r\n");
      const QString host = QString::fromLatin1(n[0] + '.' + n[1] + '.' + n[2] + '.' + n[3]);
      connectData(QHostAddress(host), quint16(n[4].toUInt() * 256 + n[5].toUInt()));
      send("200 PORT command successful\r\n");
    });
    on("EPRT", [this](const QByteArray& argument) {
      const QList<QByteArray> f = argument.split('|');  // "", "2", address, port, ""
      if (f.size() != 5) return send("501 Bad EPRT\r\n");
      connectData(QHostAddress(QString::fromLatin1(f[2])), quint16(f[3].toUInt()));
      send("200 EPRT command successful\r\n");
    });
    on("QUIT", [this](const QByteArray&) {
      send("221 Goodbye\r\n");
      closeControl();
    });
  }

  bool listen(const QHostAddress& address) { return m_control.listen(address, 0); }
  quint16 port() const { return m_control.serverPort(); }

  void on(const QByteArray& verb, Handler handler) { m_handlers[verb] = std::move(handler); }

  void send(const QByteArray& bytes) {
    if (m_socket) m_socket->write(bytes);
  }
  // Bytes sent but not yet taken by the client.
  qint64 pendingOutput() const { return m_socket ? m_socket->bytesToWrite() : 0; }
  void closeControl() {
    if (m_socket) m_socket->disconnectFromHost();
  }

  // Opens the data listener (any address, so IPv4 and IPv6 clients both reach it).
  quint16 openData() {
    if (!m_data.isListening()) m_data.listen(QHostAddress::Any, 0);
    return m_data.serverPort();
  }
  bool openDataAt(const QHostAddress& address, quint16 port) {
    return m_data.listen(address, port);
  }
  // A 227 reply for the data listener on 127.0.0.1.
  QByteArray passiveReply(bool parentheses) {
    const quint16 p = openData();
    const QByteArray numbers =
        "127,0,0,1," + QByteArray::number(p >> 8) + ',' + QByteArray::number(p & 0xFF);
    return "227 Entering Passive Mode " + (parentheses ? '(' + numbers + ")." : numbers) + "\r\n";
  }
  // Runs `work` with the data connection once the client has opened it.
  void withData(std::function<void(QTcpSocket*)> work) {
    if (m_dataSocket) {
      QTcpSocket* d = m_dataSocket;
      m_dataSocket = nullptr;
      work(d);
    } else {
      m_pendingData = std::move(work);
    }
  }

  void connectData(const QHostAddress& address, quint16 port) {
    auto* s = new QTcpSocket(this);
    connect(s, &QTcpSocket::connected, this, [this, s] {
      if (m_pendingData) {
        auto work = std::move(m_pendingData);
        m_pendingData = nullptr;
        work(s);
      } else {
        m_dataSocket = s;
      }
    });
    s->connectToHost(address, port);
  }

  QByteArray greeting = "220 Scripted server ready\r\n";
  bool closeAfterGreeting = false;
  QList<QByteArray> listing;
  QStringList received;

 private slots:
  void acceptControl() {
    while (QTcpSocket* s = m_control.nextPendingConnection()) {
      m_socket = s;
      connect(s, &QTcpSocket::readyRead, this, &ScriptedFtpServer::readCommands);
      if (!greeting.isEmpty()) s->write(greeting);
      if (closeAfterGreeting) s->disconnectFromHost();
    }
  }
  void acceptData() {
    while (QTcpSocket* s = m_data.nextPendingConnection()) {
      if (m_pendingData) {
        auto work = std::move(m_pendingData);
        m_pendingData = nullptr;
        work(s);
      } else {
        m_dataSocket = s;
      }
    }
  }
  void readCommands() {
    while (m_socket && m_socket->canReadLine()) {
      QByteArray line = m_socket->readLine();
      line.chop(line.endsWith("\r\n") ? 2 : 1);
      received << QString::fromUtf8(line);
      const int space = line.indexOf(' ');
      const QByteArray verb = space < 0 ? line : line.left(space);
      const QByteArray argument = space < 0 ? QByteArray() : line.mid(space + 1);
      auto it = m_handlers.find(verb);
      if (it != m_handlers.end())
        (*it)(argument);
      else
        send("500 Unknown command\r\n");
    }
  }

 private:
  QTcpServer m_control;
  QTcpServer m_data;
  QPointer<QTcpSocket> m_socket;
  QPointer<QTcpSocket> m_dataSocket;
  std::function<void(QTcpSocket*)> m_pendingData;
  QHash<QByteArray, Handler> m_handlers;
};
