// Fuzz target: the FTP client's listing-line parser, fed with whatever a server might
// send on a listing's data connection.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstddef>
#include <cstdint>

#include "qftpparse.h"
#include "qurlinfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray input(reinterpret_cast<const char*>(data), static_cast<int>(size));
  // A fixed "now": the year rules must not make runs differ.
  const QDateTime now(QDate(2026, 12, 8), QTime(12, 0));
  int start = 0;
  while (start < input.size()) {
    int end = input.indexOf('\n', start);
    end = end < 0 ? input.size() : end + 1;
    QUrlInfo info;
    if (qftpparse::parseDir(input.mid(start, end - start), QStringLiteral("ftp"), &info, now)) {
      // A parsed entry always has a name, and a directory is never a plain file.
      if (info.name().isEmpty() || (info.isDir() && info.isFile())) __builtin_trap();
    }
    start = end;
  }
  return 0;
}
