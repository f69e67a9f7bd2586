// One sensor sample as the sampler emits it, the record the window, the displays and
// the notices share.
#pragma once

#include <QString>

namespace COMMON {

// Each member is a non-negative decimal integer (degrees Celsius, percent, rpm) or "--".
struct HardwareInfo {
  QString strCPUTemperature;
  QString strCPUUsageRate;
  QString strGPUTemperature;
  QString strGPUUsageRate;
  QString strFanRpm;
};

}  // namespace COMMON
