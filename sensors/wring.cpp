#include "wring.h"

namespace {
constexpr unsigned int kMaxJunctionTemperature = 100;
}

unsigned int WRingDriver::temperatureFromThermStatus(std::uint64_t thermStatus) {
  const unsigned int readout = static_cast<unsigned int>((thermStatus & 0xFFFFFFFFu) >> 16) & 0x7F;
  // The field is 7 bits wide: a readout past the assumed maximum (a processor with a
  // higher one, or no valid reading) must not wrap round into a huge temperature.
  return readout < kMaxJunctionTemperature ? kMaxJunctionTemperature - readout : 0;
}

unsigned int WRingDriver::averageTemperature(
    const std::vector<std::optional<std::uint64_t>>& reads) {
  if (reads.empty()) return 0;
  std::uint32_t sum = 0;
  for (const std::optional<std::uint64_t>& read : reads)
    if (read) sum += temperatureFromThermStatus(*read);
  return sum / static_cast<std::uint32_t>(reads.size());
}
