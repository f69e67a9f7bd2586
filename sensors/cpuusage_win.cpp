#include <QSysInfo>

#include "cpuusage.h"

namespace sensors::platform {

QString systemVersionText() { return QSysInfo::productVersion(); }

}  // namespace sensors::platform
