// Pure pieces of the FTP client: reply reading, passive-mode replies and directory
// listing lines. No sockets here, so tests and fuzzers call them directly.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "qurlinfo.h"

// Collects the lines of one server reply (RFC 959, 4.2): a single line "ddd text", or
// "ddd-text" ... "ddd text" with any lines in between.
class QFtpReplyReader {
 public:
  enum Result {
    Dropped,   // not a reply line: no reply is being collected and the code is invalid
    NeedMore,  // part of a multi-line reply
    Complete,  // the reply is complete: code() and text() hold it
  };

  // `line` is one line as read from the control connection, line end included.
  Result addLine(const QString& line);

  bool isCollecting() const { return m_collecting; }
  // True once the reply being collected has gone on far longer than any real server's
  // would; its further lines are no longer kept.
  bool isOversized() const { return m_received > kMaxReplyChars; }
  // The three digits of the last reply's code, and the code as a number.
  int digit(int index) const { return m_code[index]; }
  int code() const { return m_code[0] * 100 + m_code[1] * 10 + m_code[2]; }
  // The reply's text without codes, without its final line end.
  const QString& text() const { return m_text; }
  // Forgets the reply (text and any partial collection).
  void clear();

  // True when `line` begins with a valid reply code: 1-5, 0-5, 0-9.
  static bool hasValidCode(const QString& line);

 private:
  void finish();
  void append(const QString& part);

  static constexpr int kMaxReplyChars = 1024 * 1024;
  static constexpr int kMaxKeptChars = 64 * 1024;

  int m_code[3] = {0, 0, 0};
  QString m_codeText;
  QString m_text;
  bool m_collecting = false;
  qint64 m_received = 0;
};

namespace qftpparse {

// Text that came from a server, made fit for the log, a message box or a label: every
// run of control characters (line ends, escapes, NULs, bidirectional overrides) becomes
// one blank, and the whole is cut to `maxChars` characters with "..." after it.
QString harmless(const QString& text, int maxChars = 200);

// The data address of a 227 reply: six decimal numbers h1,h2,h3,h4,p1,p2 anywhere in
// the text, parentheses or not. False when the text holds no such group.
bool parsePassiveReply(const QString& text, QString* host, quint16* port);

// The port of a 229 reply "(<d><d><d>port<d>)". False when the text holds no "(" or
// no usable port.
bool parseExtendedPassiveReply(const QString& text, quint16* port);

// One line of a LIST answer, Unix ("drwxr-xr-x 2 owner group size Mon dd hh:mm name")
// or DOS ("MM-dd-yy  hh:mmAP <DIR> name") style. `now` decides the year of dates that
// carry none. False for any other line (a "total" line, an error text, junk).
bool parseDir(const QByteArray& line, const QString& userName, QUrlInfo* info,
              const QDateTime& now = QDateTime::currentDateTime());

}  // namespace qftpparse
