// Fuzz target: the FTP client's reply reader and its passive-mode reply parsers, fed
// with whatever a server might send on the control connection.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

#include "qftpparse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray input(reinterpret_cast<const char*>(data), static_cast<int>(size));
  QFtpReplyReader reader;
  int start = 0;
  while (start < input.size()) {
    int end = input.indexOf('\n', start);
    end = end < 0 ? input.size() : end + 1;
    const QString line = QString::fromUtf8(input.mid(start, end - start));
    start = end;
    if (reader.addLine(line) != QFtpReplyReader::Complete) continue;
    const int code = reader.code();
    if (code < 100 || code > 559) __builtin_trap();
    QString host;
    quint16 port = 0;
    qftpparse::parsePassiveReply(reader.text(), &host, &port);
    qftpparse::parseExtendedPassiveReply(reader.text(), &port);
    reader.clear();
  }
  return 0;
}
