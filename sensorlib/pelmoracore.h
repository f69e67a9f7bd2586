// The library's process-wide object: owns the hardware model and averages its
// sensors into the caller's map.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "hardware.h"
#include "pelmora.h"

namespace pelmora {

class Pelmora {
 public:
  // The process-wide instance over the platform's computer, created by the first
  // call. Throws when the computer cannot be opened; the next call tries again.
  static Pelmora* GetInstance();

  // An instance over `computer`, opened and enabled here (tests, the dump tool).
  explicit Pelmora(std::unique_ptr<hw::Computer> computer);
  Pelmora(const Pelmora&) = delete;
  Pelmora& operator=(const Pelmora&) = delete;

  // Walks every item; false when an item failed (entries added so far stay).
  bool getHardwareInfo(HardwareDatas& datas);
  // Reads one item, or its sub-items when it has any, into the entry for `type`.
  void getSensorInfo(hw::IHardware& hardware, HWType type, HardwareDatas& datas);

  hw::Computer& computer() { return *m_pComputer; }

 private:
  static std::atomic<Pelmora*> m_pInstance;
  std::unique_ptr<hw::Computer> m_pComputer;
};

// Makes a hardware name safe to hand out as narrow text: valid UTF-8 stays,
// control characters and broken byte sequences become '?'.
std::string toNarrowName(const std::string& name);

}  // namespace pelmora
