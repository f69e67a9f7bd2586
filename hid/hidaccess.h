// Why a device interface could not be opened; the answer depends on the platform.
#pragma once

#include <QString>

namespace hid::platform {

// True when the interface exists but this user may not open it for reading and writing.
bool permissionDenied(const QString& path);
// What to do about it, for the log.
QString permissionHint();

}  // namespace hid::platform
