#include "samplepass.h"

#include <cmath>
#include <limits>

#include "constants.h"

namespace sampling {

namespace {
// Truncation toward zero; values a float can hold but an int cannot end as 0 ("--").
long long truncated(float value) {
  if (!std::isfinite(value) || std::fabs(value) >= 1e15f) return 0;
  return static_cast<long long>(std::trunc(value));
}

QString textOrPlaceholder(long long value) {
  return value != 0 ? QString::number(value, 10) : COMMON::kPlaceholder;
}
}  // namespace

float SlewLimiter::advance(float value) {
  if (!m_set) {
    m_state = value;
    m_set = true;
  }
  if (std::fabs(value - m_state) > kStep)
    value = value > m_state ? m_state + kStep : m_state - kStep;
  m_state = value;
  return value;
}

void applyPass(COMMON::HardwareInfo& info, unsigned int driverTemperature, bool queried,
               const pelmora::HardwareDatas& datas, SlewStates& states) {
  long long driver = driverTemperature;
  long long fan = 0, cpuLoad = 0, gpuTemperature = 0, gpuLoad = 0;
  long long cpuTemperature = driver;

  if (queried) {
    const auto cpu = datas.find(pelmora::HWType::CPU);
    if (cpu != datas.end()) {
      fan = truncated(cpu->second.fan);
      cpuLoad = truncated(cpu->second.load);
      const float limited = states.cpu.advance(cpu->second.temperature);
      if (driver == 0) driver = truncated(limited);
    }
    const auto board = datas.find(pelmora::HWType::Mainboard);
    if (board != datas.end()) {
      if (fan == 0) fan = truncated(board->second.fan);
      const float limited = states.mainboard.advance(board->second.temperature);
      cpuTemperature = driver != 0 ? driver : truncated(limited);
    } else {
      cpuTemperature = driver;
    }
    const auto gpu = datas.find(pelmora::HWType::GPU);
    if (gpu != datas.end()) {
      gpuTemperature = truncated(gpu->second.temperature);
      gpuLoad = truncated(gpu->second.load);
    }
  }

  // A negative reading is no value to the record, whose texts are never signed.
  auto nonNegative = [](long long value) { return value > 0 ? value : 0; };
  info.strFanRpm = textOrPlaceholder(nonNegative(fan));
  info.strCPUTemperature = textOrPlaceholder(nonNegative(cpuTemperature));
  info.strGPUTemperature = textOrPlaceholder(nonNegative(gpuTemperature));
  info.strGPUUsageRate = textOrPlaceholder(nonNegative(gpuLoad));
  if (cpuLoad >= 1 && cpuLoad <= 100) info.strCPUUsageRate = QString::number(cpuLoad, 10);
}

}  // namespace sampling
