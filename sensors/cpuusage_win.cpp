#include <QSysInfo>

#include "cpuusage.h"

QString cpuusage::systemVersionText() { return QSysInfo::productVersion(); }
