// Access to the processors' digital thermal sensors through a kernel driver that
// exposes model-specific registers. The sampler owns one instance.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class WRingDriver {
 public:
  WRingDriver();
  ~WRingDriver();
  WRingDriver(const WRingDriver&) = delete;
  WRingDriver& operator=(const WRingDriver&) = delete;

  // Prepares the driver and opens the device; called once at sampler construction.
  bool InitializeWRing();
  bool OpenWRingDriver();
  // Undoes what InitializeWRing set up.
  void RemoveWRingService();
  // Average temperature over all logical processors in degrees Celsius, 0 when closed.
  unsigned int readProcessorTemperature() const;

  // The processor thermal status register.
  static constexpr std::uint32_t kThermStatusRegister = 0x19C;
  // Degrees Celsius one thermal status value stands for: the digital readout (bits 16
  // to 22) counts degrees below a maximum junction temperature taken as 100 degrees.
  static unsigned int temperatureFromThermStatus(std::uint64_t thermStatus);
  // Integer average over all processors; a failed read (no value) adds nothing but
  // still counts, so a machine that cannot be read averages to 0.
  static unsigned int averageTemperature(const std::vector<std::optional<std::uint64_t>>& reads);

 private:
  struct Device;
  std::unique_ptr<Device> device_;
};
