// Shared pieces of the update tests: a real FTP server process on 127.0.0.1 serving a
// release tree, and a scripted stand-in for the person answering message boxes.
#pragma once

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>
#include <deque>
#include <functional>
#include <memory>

#include "fixturetree.h"
#include "logcapture.h"
#include "messageboxshow.h"

namespace upgradetest {

// Account of the test server; deliberately not the build's update account.
inline const QString kUser = QStringLiteral("testupdate");
inline const QString kPassword = QStringLiteral("pw4tests");

inline QByteArray installerBytes(int size, char seed = 7) {
  QByteArray bytes(size, '\0');
  quint32 x = 2463534242u + static_cast<quint32>(seed);
  for (int i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    bytes[i] = static_cast<char>(x & 0xFF);
  }
  return bytes;
}

using fixtures::readFile;
using fixtures::writeFile;

// This process's resident memory, from the kernel's own account.
inline qint64 residentKiB() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLongLong();
  return -1;
}

// True when no captured log text holds a control character (a forged line end, an escape).
inline bool allPrintable(const QStringList& lines) {
  for (const QString& line : lines)
    for (const QChar c : line)
      if (c.category() == QChar::Other_Control) return false;
  return true;
}

// The release tree the server offers: <root>/ZRT/<version>/StelvoxSetup_<version>.run.
class ReleaseTree {
 public:
  ReleaseTree() { QDir().mkpath(root()); }
  QString root() const { return m_dir.path() + QStringLiteral("/srv"); }
  QString zrt() const { return root() + QStringLiteral("/ZRT"); }
  bool addRelease(const QString& version, const QByteArray& installer) {
    return writeFile(zrt() + QStringLiteral("/%1/StelvoxSetup_%1.run").arg(version), installer);
  }
  bool addDirectory(const QString& name) { return QDir().mkpath(zrt() + '/' + name); }
  bool addPlainFile(const QString& name) { return writeFile(zrt() + '/' + name, "x"); }
  // Raw lines the server appends to the listing of /ZRT, in this order.
  QString extraListFile() const { return m_dir.path() + QStringLiteral("/extra-list.txt"); }
  bool setExtraListing(const QStringList& lines) {
    return writeFile(extraListFile(), lines.join('\n').toUtf8() + '\n');
  }

 private:
  QTemporaryDir m_dir;
};

struct ServerOptions {
  int writeLimit = 0;   // bytes a second, 0 unlimited
  int freezeAfter = 0;  // bytes of a file sent before the server falls silent
  QString extraList;    // file of raw listing lines for /ZRT
};

// One pyftpdlib server process; stopped when destroyed.
class FtpServer {
 public:
  using Options = ServerOptions;

  ~FtpServer() { stop(); }

  bool start(const QString& root, const Options& options = Options()) {
    QStringList args = {QString::fromLocal8Bit(qgetenv("STELVOX_SOURCE_DIR")) +
                            QStringLiteral("/tests/update/tst_upgrade_server.py"),
                        QStringLiteral("--root"),
                        root,
                        QStringLiteral("--user"),
                        kUser,
                        QStringLiteral("--password"),
                        kPassword};
    if (options.writeLimit > 0)
      args << QStringLiteral("--write-limit") << QString::number(options.writeLimit);
    if (options.freezeAfter > 0)
      args << QStringLiteral("--freeze-after") << QString::number(options.freezeAfter);
    if (!options.extraList.isEmpty()) args << QStringLiteral("--extra-list") << options.extraList;
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("/usr/bin/python3"), args);
    if (!m_process.waitForStarted(30000)) return false;
    QByteArray output;
    const QRegularExpression portLine(QStringLiteral("PORT (\\d+)"));
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
      if (!m_process.canReadLine() && !m_process.waitForReadyRead(deadline.remainingTime())) break;
      output += m_process.readLine();
      const auto match = portLine.match(QString::fromUtf8(output));
      if (match.hasMatch()) {
        m_port = static_cast<quint16>(match.captured(1).toUInt());
        return true;
      }
    }
    qWarning() << "FTP test server did not start:" << output << m_process.errorString();
    return false;
  }

  void stop() {
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(5000)) {
      m_process.kill();
      m_process.waitForFinished(5000);
    }
  }

  quint16 port() const { return m_port; }

 private:
  QProcess m_process;
  quint16 m_port = 0;
};

// Answers the program's message boxes in place of a person, in the order given;
// every box is recorded. A box with no scripted answer is refused (Cancel).
class BoxScript {
 public:
  struct Seen {
    QMessageBox::Icon icon;
    QString title;
    QString text;
    QList<QMessageBox::StandardButton> buttons;
  };
  // Returns the button pressed; may also act on the program (click, close...).
  using Answer = std::function<int(const Seen&)>;

  BoxScript() {
    MessageBoxShow::setAnswerer([this](QMessageBox& box) {
      Seen seen{box.icon(), box.windowTitle(), box.text(), {}};
      for (QAbstractButton* button : box.buttons()) seen.buttons << box.standardButton(button);
      m_seen.push_back(seen);
      if (m_answers.empty()) return int(QMessageBox::Cancel);
      Answer answer = m_answers.front();
      m_answers.pop_front();
      return answer(seen);
    });
  }
  ~BoxScript() { MessageBoxShow::setAnswerer(nullptr); }

  void then(Answer answer) { m_answers.push_back(std::move(answer)); }
  void thenPress(int button) {
    then([button](const Seen&) { return button; });
  }
  const QList<Seen>& seen() const { return m_seen; }
  QStringList texts() const {
    QStringList out;
    for (const Seen& s : m_seen) out << s.text;
    return out;
  }
  int pending() const { return int(m_answers.size()); }

 private:
  std::deque<Answer> m_answers;
  QList<Seen> m_seen;
};

using testsupport::LogCapture;

}  // namespace upgradetest
