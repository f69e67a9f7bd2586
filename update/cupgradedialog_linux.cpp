// Linux: the installer is a self-contained executable (".run") that has to be made
// executable after the download; downloads go to the user's own cache folder.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>

#include "cupgradedialog.h"

extern char** environ;

namespace update::platform {

namespace {

QString osError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

QString installerSuffix() { return QStringLiteral(".run"); }

QString downloadFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
         QStringLiteral("/Stelvox/updates");
}

bool makePrivateFolder(const QString& strFolder, QString* pstrReason) {
  const QString parent = QFileInfo(strFolder).absolutePath();
  if (!QDir().mkpath(parent)) {
    *pstrReason = QStringLiteral("cannot create %1").arg(parent);
    return false;
  }
  const QByteArray path = QFile::encodeName(strFolder);
  // Created with no access for others from the start; an existing one must prove itself.
  if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
    *pstrReason = osError(errno);
    return false;
  }
  struct stat info {};
  if (::lstat(path.constData(), &info) != 0) {
    *pstrReason = osError(errno);
    return false;
  }
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) {
    *pstrReason = QStringLiteral("not a folder of this user");
    return false;
  }
  if ((info.st_mode & 0077) != 0 && ::chmod(path.constData(), 0700) != 0) {
    *pstrReason = osError(errno);
    return false;
  }
  return true;
}

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
  // posix_spawn reports why exec failed (a noexec mount, a foreign format), which a
  // detached start would lose. The installer gets a session of its own, so it outlives
  // this program, which quits right after.
  const QByteArray program = QFile::encodeName(strFilePath);
  char* const argv[] = {const_cast<char*>(program.constData()), nullptr};
  const QByteArray folder = QFile::encodeName(QFileInfo(strFilePath).absolutePath());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.constData());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  const int result = ::posix_spawn(&pid, program.constData(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) {
    *pstrReason = osError(result);
    return false;
  }
  return true;
}

}  // namespace update::platform
