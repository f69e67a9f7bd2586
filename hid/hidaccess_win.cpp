// Windows needs no access rule for HID interfaces.
#include "hidaccess.h"

bool hidPermissionDenied(const QString&) { return false; }

QString hidPermissionHint() { return QString(); }
