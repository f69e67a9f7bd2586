// The arithmetic of one sampling pass, free of timers and processes so that tests
// can drive it with any library result.
#pragma once

#include "hardwareinfo.h"
#include "pelmora.h"

namespace sampling {

// Limits how far a temperature may move per pass (0.48 degrees), so that a single
// spike of a sensor does not reach the display at once.
class SlewLimiter {
 public:
  static constexpr float kStep = 0.48f;
  // Returns the limited value of this pass and remembers it.
  float advance(float value);
  bool isSet() const { return m_set; }

 private:
  bool m_set = false;
  float m_state = 0.f;
};

struct SlewStates {
  SlewLimiter cpu;
  SlewLimiter mainboard;
};

// Writes `info` from the driver temperature and the library's answer: `queried`
// tells whether the query returned true (`datas` is ignored otherwise). The CPU usage
// text is replaced only by a library load in 1 to 100.
void applyPass(COMMON::HardwareInfo& info, unsigned int driverTemperature, bool queried,
               const pelmora::HardwareDatas& datas, SlewStates& states);

}  // namespace sampling
