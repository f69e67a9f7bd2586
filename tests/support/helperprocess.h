// Helpers for the tests that start the CPU-usage helper and watch it end.
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QString>

namespace helpertest {

inline QString helperBinary() {
  return qEnvironmentVariable("STELVOX_BINARY_DIR") + QStringLiteral("/bin/stelvox-cpuload");
}

// Alive means running or sleeping; a zombie or a vanished entry has ended.
inline bool processAlive(qint64 pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return false;
  const QByteArray text = stat.readAll();
  const int close = text.lastIndexOf(')');
  return close > 0 && close + 2 < text.size() && text[close + 2] != 'Z' && text[close + 2] != 'X';
}

// The next line the process writes, empty when none comes within `msec`.
inline QByteArray nextLine(QProcess& process, int msec = 30000) {
  QDeadlineTimer deadline(msec);
  while (!process.canReadLine() && !deadline.hasExpired())
    if (!process.waitForReadyRead(int(deadline.remainingTime()))) break;
  return process.canReadLine() ? process.readLine() : QByteArray();
}

}  // namespace helpertest
