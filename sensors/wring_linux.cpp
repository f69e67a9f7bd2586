#include "wring.h"

// Placeholder until the register read lands: no device, temperature 0.
WRingDriver::WRingDriver() = default;
WRingDriver::~WRingDriver() = default;
bool WRingDriver::InitializeWRing() { return false; }
bool WRingDriver::OpenWRingDriver() { return false; }
void WRingDriver::RemoveWRingService() {}
unsigned int WRingDriver::readProcessorTemperature() const { return 0; }
