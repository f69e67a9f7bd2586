// Fixture trees: recorded machines from tests/fixtures, and files written or read whole.
#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QString>

namespace fixtures {

inline QString path(const QString& machine) {
  return qEnvironmentVariable("STELVOX_SOURCE_DIR") + "/tests/fixtures/" + machine;
}

// Copies a recorded machine into `target` so that a test may change its files.
inline bool copyTree(const QString& machine, const QString& target) {
  const QString source = path(machine);
  QDirIterator it(source, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  bool ok = QDir(source).exists();
  while (it.hasNext()) {
    const QString file = it.next();
    const QString copy = target + file.mid(source.size());
    ok = ok && QDir().mkpath(QFileInfo(copy).path()) && QFile::copy(file, copy);
  }
  return ok;
}

inline bool writeFile(const QString& file, const QByteArray& content) {
  QDir().mkpath(QFileInfo(file).absolutePath());
  QFile out(file);
  return out.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
         out.write(content) == content.size();
}

// The whole file, empty when it cannot be read.
inline QByteArray readFile(const QString& file) {
  QFile in(file);
  return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

// Points the library's roots at a machine; read when a computer is created.
inline void useRoots(const QString& root) {
  qputenv("HOST_SYS", (root + "/sys").toLocal8Bit());
  qputenv("HOST_PROC", (root + "/proc").toLocal8Bit());
  qputenv("HOST_DEV", (root + "/dev").toLocal8Bit());
}

}  // namespace fixtures
