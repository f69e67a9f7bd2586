// Platform seam: why a device interface could not be opened.
#pragma once

#include <QString>

// True when the interface exists but this user may not open it for reading and writing.
bool hidPermissionDenied(const QString& path);
// What to do about it, for the log.
QString hidPermissionHint();
