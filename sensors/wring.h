// Access to the processors' digital thermal sensors through a kernel driver that
// exposes model-specific registers. The sampler owns one instance.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

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

  // The processor thermal status register, and the one that holds the maximum
  // junction temperature (TjMax) the status counts down from.
  static constexpr std::uint32_t kThermStatusRegister = 0x19C;
  static constexpr std::uint32_t kTemperatureTargetRegister = 0x1A2;
  static constexpr unsigned int kDefaultTjMax = 100;
  // The status's reading is valid only while bit 31 is set.
  static constexpr std::uint64_t kReadingValid = 1ull << 31;

  // TjMax from the temperature target register (bits 23 to 16); the default where the
  // register cannot be read or holds no plausible value.
  static unsigned int tjMaxFromTemperatureTarget(std::optional<std::uint64_t> target);
  // Degrees Celsius one thermal status value stands for: the digital readout (bits 16
  // to 22) counts degrees below TjMax.
  static unsigned int temperatureFromThermStatus(std::uint64_t thermStatus,
                                                 unsigned int tjMax = kDefaultTjMax);
  // Integer average over all processors; a failed read (no value) adds nothing but
  // still counts, so a machine that cannot be read averages to 0. A reading without
  // its valid bit is left out altogether. `tjMax` holds each processor's TjMax
  // (the default where it is shorter).
  static unsigned int averageTemperature(const std::vector<std::optional<std::uint64_t>>& reads,
                                         const std::vector<unsigned int>& tjMax = {});

 private:
  struct Device;
  std::unique_ptr<Device> m_device;
};

// The register driver of this platform. Handles are per logical processor; a handle
// that could not be opened is negative and reads nothing.
namespace sensors::platform {

using RegisterHandle = int;

// Makes the driver's devices available, loading the driver when they are missing
// (`loadedHere` set then); false with the device and the reason in `error` when they
// are not there.
bool prepareRegisterDriver(bool* loadedHere, QString* error);
// Unloads the driver that prepareRegisterDriver loaded.
void releaseRegisterDriver();
// One handle per logical processor, in processor order; `error` names the first that
// failed, or is left alone when all opened.
std::vector<RegisterHandle> openProcessors(QString* error);
void closeProcessor(RegisterHandle handle);
std::optional<std::uint64_t> readRegister(RegisterHandle handle, std::uint32_t reg);

}  // namespace sensors::platform
