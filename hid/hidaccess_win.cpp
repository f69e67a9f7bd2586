// Windows needs no access rule for HID interfaces.
#include "hidaccess.h"

namespace hid::platform {

bool permissionDenied(const QString&) { return false; }

QString permissionHint() { return QString(); }

}  // namespace hid::platform
