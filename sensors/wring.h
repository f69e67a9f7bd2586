// Access to the processors' digital thermal sensors through a kernel driver that
// exposes model-specific registers. The sampler owns one instance.
#pragma once

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
};
