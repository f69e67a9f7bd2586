// Linux layer of the single-instance channel: the name becomes a socket in the
// user's runtime folder, so each user session has its own instance and a stale
// name of another user can never block this one.
#include <QDir>
#include <QFileInfo>

#include "qsingleapplication.h"

QString QSingleApplication::serverAddress(const QString& serverName) {
  const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtimeDir.isEmpty() && QDir::isAbsolutePath(runtimeDir)) {
    const QFileInfo info(runtimeDir);
    if (info.isDir() && info.isWritable()) return QDir(runtimeDir).filePath(serverName);
  }
  // Without a runtime folder Qt places the name in the temporary folder.
  return serverName;
}
