// Helpers for the tests that run against simulated devices.
#pragma once

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QSaveFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QtGlobal>

#include "logcapture.h"

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

using testsupport::LogCapture;

// The frame log of the simulator, one entry per line.
inline QStringList readLog(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  return lines;
}

}  // namespace hidtest
