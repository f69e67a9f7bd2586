#include "wring.h"

unsigned int WRingDriver::tjMaxFromTemperatureTarget(std::optional<std::uint64_t> target) {
  if (!target) return kDefaultTjMax;
  const unsigned int tjMax = static_cast<unsigned int>(*target >> 16) & 0xFF;
  // Parts range from about 70 to 110 degrees; anything else is not this register.
  return tjMax >= 60 && tjMax <= 130 ? tjMax : kDefaultTjMax;
}

unsigned int WRingDriver::temperatureFromThermStatus(std::uint64_t thermStatus,
                                                     unsigned int tjMax) {
  const unsigned int readout = static_cast<unsigned int>((thermStatus & 0xFFFFFFFFu) >> 16) & 0x7F;
  // The field is 7 bits wide: a readout past TjMax must not wrap round into a huge
  // temperature.
  return readout < tjMax ? tjMax - readout : 0;
}

unsigned int WRingDriver::averageTemperature(const std::vector<std::optional<std::uint64_t>>& reads,
                                             const std::vector<unsigned int>& tjMax) {
  std::uint32_t sum = 0, count = 0;
  for (size_t i = 0; i < reads.size(); ++i) {
    ++count;
    if (!reads[i]) continue;
    if (!(*reads[i] & kReadingValid)) {
      --count;
      continue;
    }
    sum += temperatureFromThermStatus(*reads[i], i < tjMax.size() ? tjMax[i] : kDefaultTjMax);
  }
  return count ? sum / count : 0;
}
