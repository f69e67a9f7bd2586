#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "hidaccess.h"

namespace hid::platform {

bool permissionDenied(const QString& path) {
  const QByteArray native = path.toLocal8Bit();
  // The effective IDs, as open() uses them.
  if (::faccessat(AT_FDCWD, native.constData(), R_OK | W_OK, AT_EACCESS) == 0) return false;
  return errno == EACCES || errno == EPERM;
}

QString permissionHint() {
  return QStringLiteral(
      "install the udev rule packaging/71-stelvox.rules into /etc/udev/rules.d/ and replug the "
      "device (see README, \"Device access\")");
}

}  // namespace hid::platform
