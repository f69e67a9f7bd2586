// Linux has no product version in the sense the counter rule reads: a distribution's
// number (12, 22.04, 39) says nothing about the system's counters. The kernel is the
// operating system here, so its major version stands in. Both counters are served the
// same way by the helper, a time-based busy share, which "% Processor Time" names.
#include <QSysInfo>

#include "cpuusage.h"

namespace sensors::platform {

QString systemVersionText() { return QSysInfo::kernelVersion().section('.', 0, 0); }

}  // namespace sensors::platform
