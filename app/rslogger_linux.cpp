// Linux rule for the log folder: beside the program when that can be written (a
// build tree, a per-user install), else under the user's XDG state folder.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "rslogger.h"

QString RSLogger::defaultFolder() {
  const QString besideProgram = QCoreApplication::applicationDirPath() + QStringLiteral("/logs/");
  const QFileInfo logs(besideProgram);
  const QFileInfo programDir(QCoreApplication::applicationDirPath());
  if (logs.exists() ? (logs.isDir() && logs.isWritable()) : programDir.isWritable())
    return besideProgram;

  QString stateHome = qEnvironmentVariable("XDG_STATE_HOME");
  if (stateHome.isEmpty() || QDir::isRelativePath(stateHome))
    stateHome = QDir::homePath() + QStringLiteral("/.local/state");
  return stateHome + QStringLiteral("/Stelvox/logs/");
}
