// Linux rule: a folder of the user's own is one the effective user owns and may write,
// outside the hierarchies that packages and administrators install into. Root owns
// those too, hence the list.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include "filelocations.h"

namespace COMMON::platform {

bool isSystemFolder(const QString& canonicalPath) {
  static const QStringList kHierarchies = {
      QStringLiteral("/usr"),    QStringLiteral("/bin"),   QStringLiteral("/sbin"),
      QStringLiteral("/lib"),    QStringLiteral("/lib32"), QStringLiteral("/lib64"),
      QStringLiteral("/libx32"), QStringLiteral("/opt"),   QStringLiteral("/etc"),
      QStringLiteral("/var"),    QStringLiteral("/snap"),  QStringLiteral("/app")};
  if (canonicalPath.isEmpty() || canonicalPath == QStringLiteral("/")) return true;
  for (const QString& top : kHierarchies)
    if (canonicalPath == top || canonicalPath.startsWith(top + QLatin1Char('/'))) return true;
  return false;
}

bool keepsFilesBesideProgram(const QString& programFolder) {
  const QString canonical = QFileInfo(programFolder).canonicalFilePath();
  if (canonical.isEmpty() || isSystemFolder(canonical)) return false;
  struct stat info;
  const QByteArray path = QFile::encodeName(canonical);
  if (stat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  return info.st_uid == geteuid() && access(path.constData(), W_OK) == 0;
}

QString stateFolder() {
  // XDG: a relative value is invalid and must be ignored.
  QString stateHome = qEnvironmentVariable("XDG_STATE_HOME");
  if (stateHome.isEmpty() || QDir::isRelativePath(stateHome))
    stateHome = QDir::homePath() + QStringLiteral("/.local/state");
  return stateHome + QStringLiteral("/Stelvox");
}

}  // namespace COMMON::platform
