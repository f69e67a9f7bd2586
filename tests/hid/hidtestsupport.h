// Helpers for the tests that run against simulated devices.
#pragma once

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QSaveFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QtGlobal>

namespace hidtest {

// Writes the simulator's configuration in one step (a new file replaces the old one), so
// the simulator never reads half a file and always notices the change.
inline bool writeDevices(const QString& path, const QStringList& lines) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  file.write(lines.join('\n').toUtf8() + '\n');
  return file.commit();
}

// A temporary folder with the simulator's device list and frame log, and the
// environment that points the simulator (and the settings store) at them.
struct SimulatorFiles {
  QTemporaryDir dir;
  QString config;
  QString log;

  bool setUp() {
    if (!dir.isValid()) return false;
    config = dir.filePath("devices.conf");
    log = dir.filePath("frames.log");
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit());
    qputenv("STELVOX_DEVSIM_CONFIG", config.toLocal8Bit());
    qputenv("STELVOX_DEVSIM_LOG", log.toLocal8Bit());
    return true;
  }
};

// Collects the log lines (the logger mirrors every line to the Qt message output).
class LogCapture {
 public:
  LogCapture() {
    instance() = this;
    previous_ = qInstallMessageHandler(&LogCapture::handle);
  }
  ~LogCapture() {
    qInstallMessageHandler(previous_);
    instance() = nullptr;
  }
  QStringList lines() const {
    QMutexLocker lock(&mutex_);
    return lines_;
  }
  int count(const QString& part) const { return lines().filter(part).size(); }
  void clear() {
    QMutexLocker lock(&mutex_);
    lines_.clear();
  }

 private:
  static LogCapture*& instance() {
    static LogCapture* current = nullptr;
    return current;
  }
  static void handle(QtMsgType, const QMessageLogContext&, const QString& text) {
    if (LogCapture* capture = instance()) {
      QMutexLocker lock(&capture->mutex_);
      capture->lines_ << text;
    }
  }
  mutable QMutex mutex_;
  QStringList lines_;
  QtMessageHandler previous_ = nullptr;
};

// The frame log of the simulator, one entry per line.
inline QStringList readLog(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  return lines;
}

}  // namespace hidtest
