// Linux: the installer is a self-contained executable (".run") that has to be made
// executable after the download.
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "cupgradedialog.h"

namespace UpgradePlatform {

QString installerSuffix() { return QStringLiteral(".run"); }

bool startInstaller(const QString& strFilePath, QString* pstrReason) {
  QFile file(strFilePath);
  if (!file.exists()) {
    *pstrReason = QStringLiteral("the file does not exist");
    return false;
  }
  const QFileDevice::Permissions runnable =
      QFileDevice::ReadOwner | QFileDevice::ReadUser | QFileDevice::ExeOwner | QFileDevice::ExeUser;
  if (!file.setPermissions(file.permissions() | runnable)) {
    *pstrReason = QStringLiteral("cannot make it executable: %1").arg(file.errorString());
    return false;
  }
  // An argument list, not a command line: a temporary folder with blanks needs no quoting.
  QProcess process;
  process.setProgram(strFilePath);
  process.setArguments({});
  process.setWorkingDirectory(QFileInfo(strFilePath).absolutePath());
  if (!process.startDetached()) {
    *pstrReason = process.errorString();
    return false;
  }
  return true;
}

}  // namespace UpgradePlatform
