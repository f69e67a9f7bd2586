// Which sensor chips and which of their inputs supply the figures the program shows:
// the CPU temperature, the GPU temperature and the fan speed. Pure functions of
// driver names and labels, so that the policy can be checked on its own; the table
// behind it is in sensorlib/README.md.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelmora::policy {

enum class ChipRole {
  Cpu,    // one item per package
  Gpu,    // temperature, load and its own fans (which never become the fan figure)
  Board,  // the fan figure, and a temperature of last resort for the CPU
  Unused  // listed by the dump tool, never read on a sampling pass
};

// Board chips are asked for the fan figure in this order, then by hwmon number.
enum class BoardGroup { SuperIo = 0, Firmware = 1 };

struct ChipClass {
  ChipRole role = ChipRole::Unused;
  BoardGroup group = BoardGroup::SuperIo;
  const char* kind = "";  // a few words for the report: "super-I/O chip", ...
};
ChipClass classifyChip(std::string_view driver);

// How a figure is made from some of a chip's temperature inputs.
enum class Combine {
  First,  // the first input (in the listed order) that has a reading
  Max,
  Mean
};
struct Choice {
  Combine combine = Combine::First;
  std::vector<size_t> inputs;  // indexes into the chip's temperature labels
  std::string reason;          // why, in words, for the report
};

// `labels` are the chip's temperature labels in hwmon order ("temp3" where the chip
// gives none). Per-core and per-chiplet inputs are left out of the CPU choice.
Choice chooseCpuTemperature(std::string_view driver, const std::vector<std::string>& labels);
Choice chooseGpuTemperature(std::string_view driver, const std::vector<std::string>& labels);
// A board chip's temperature, the CPU figure of last resort: its processor input
// ("CPU Temperature", "CPUTIN", "cpu@4c"...), else the mean of its inputs.
Choice chooseBoardTemperature(const std::vector<std::string>& labels);

// The figure of a choice from the chip's current readings (same indexes as the
// labels). A reading whose integer part is 0 is an unconnected input, not a value.
std::optional<float> combine(const Choice& choice, const std::vector<std::optional<float>>& values);

// Integrated graphics come after discrete cards. An amdgpu chip that reports the
// northbridge voltage (`vddnb`) belongs to an APU; Intel graphics are integrated;
// anything on the root PCI bus ("0000:00:..") is part of the chipset or processor.
bool isIntegratedGpu(std::string_view driver, const std::vector<std::string>& voltageLabels,
                     std::string_view pciSlot);

// A board fan input that counts towards the fan figure: pumps and flow meters that
// some boards report as fans do not, nor the graphics fan of a laptop's controller
// ("gpu_fan", "Video Fan").
bool isBoardFan(std::string_view label);

}  // namespace pelmora::policy
