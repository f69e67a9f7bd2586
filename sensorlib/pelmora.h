// Public interface of the sensor library: one query and the types it fills.
// The caller creates and destroys the map; the library allocates the entries it
// inserts, so both sides must share one compiler, standard library and heap.
#pragma once

#include <map>
#include <string>

#if defined(_WIN32)
#define PLM_EXPORT __declspec(dllexport)
#else
#define PLM_EXPORT __attribute__((visibility("default")))
#endif

namespace pelmora {

// Hardware kinds, the map key (ordered by value).
enum class HWType : int { CPU = 0, GPU = 1, Mainboard = 2 };

// One averaged reading per kind. Values are 0 where the kind had no such sensor.
struct HardwareNode {
  std::string name;         // the first item that produced this entry
  float temperature = 0.f;  // degrees Celsius
  float load = 0.f;         // percent
  float fan = 0.f;          // revolutions per minute
};

using HardwareDatas = std::map<HWType, HardwareNode>;

}  // namespace pelmora

// Refreshes every sensor and fills `datas` with one entry per kind that has usable
// values. Returns false when the walk failed; the map then holds a partial result.
extern "C" PLM_EXPORT bool PLM_GetHardwareInfo(pelmora::HardwareDatas& datas);
