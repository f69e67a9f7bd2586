#include "chippolicy.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace pelmora::policy {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool containsNoCase(std::string_view text, std::string_view word) {
  auto lower = [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  };
  return std::search(text.begin(), text.end(), word.begin(), word.end(),
                     [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

struct Prefix {
  std::string_view prefix;
  ChipClass chipClass;
};

// Matched in order; the first prefix that fits decides. Exact names are listed with
// their full text where a prefix would catch unrelated drivers.
const Prefix kChips[] = {
    // Processors: one chip per package.
    {"k10temp", {ChipRole::Cpu, BoardGroup::SuperIo, "AMD processor"}},
    {"zenpower", {ChipRole::Cpu, BoardGroup::SuperIo, "AMD processor"}},
    {"k8temp", {ChipRole::Cpu, BoardGroup::SuperIo, "AMD processor"}},
    {"coretemp", {ChipRole::Cpu, BoardGroup::SuperIo, "Intel processor"}},
    {"via_cputemp", {ChipRole::Cpu, BoardGroup::SuperIo, "VIA processor"}},
    {"cpu_thermal", {ChipRole::Cpu, BoardGroup::SuperIo, "processor thermal zone"}},
    // Graphics.
    {"amdgpu", {ChipRole::Gpu, BoardGroup::SuperIo, "AMD graphics"}},
    {"radeon", {ChipRole::Gpu, BoardGroup::SuperIo, "AMD graphics"}},
    {"nouveau", {ChipRole::Gpu, BoardGroup::SuperIo, "NVIDIA graphics"}},
    {"i915", {ChipRole::Gpu, BoardGroup::SuperIo, "Intel graphics"}},
    {"xe", {ChipRole::Gpu, BoardGroup::SuperIo, "Intel graphics"}},
    // Super-I/O and other board monitoring chips.
    {"nct6", {ChipRole::Board, BoardGroup::SuperIo, "super-I/O chip"}},
    {"nct7", {ChipRole::Board, BoardGroup::SuperIo, "board monitor"}},
    {"it8", {ChipRole::Board, BoardGroup::SuperIo, "super-I/O chip"}},
    {"w83", {ChipRole::Board, BoardGroup::SuperIo, "super-I/O chip"}},
    {"f71", {ChipRole::Board, BoardGroup::SuperIo, "super-I/O chip"}},
    {"f81", {ChipRole::Board, BoardGroup::SuperIo, "super-I/O chip"}},
    {"sch5", {ChipRole::Board, BoardGroup::SuperIo, "super-I/O chip"}},
    {"smsc47", {ChipRole::Board, BoardGroup::SuperIo, "super-I/O chip"}},
    {"pc87", {ChipRole::Board, BoardGroup::SuperIo, "super-I/O chip"}},
    {"vt1211", {ChipRole::Board, BoardGroup::SuperIo, "super-I/O chip"}},
    {"dme1737", {ChipRole::Board, BoardGroup::SuperIo, "super-I/O chip"}},
    {"asb100", {ChipRole::Board, BoardGroup::SuperIo, "board monitor"}},
    {"lm78", {ChipRole::Board, BoardGroup::SuperIo, "board monitor"}},
    {"lm85", {ChipRole::Board, BoardGroup::SuperIo, "board monitor"}},
    {"lm93", {ChipRole::Board, BoardGroup::SuperIo, "board monitor"}},
    {"adt7", {ChipRole::Board, BoardGroup::SuperIo, "board monitor"}},
    {"vt8231", {ChipRole::Board, BoardGroup::SuperIo, "board monitor"}},
    {"sis5595", {ChipRole::Board, BoardGroup::SuperIo, "board monitor"}},
    // Embedded controllers, firmware interfaces and vendor drivers.
    {"atk0110", {ChipRole::Board, BoardGroup::Firmware, "board firmware"}},
    {"asus", {ChipRole::Board, BoardGroup::Firmware, "vendor firmware"}},
    {"gigabyte_wmi", {ChipRole::Board, BoardGroup::Firmware, "vendor firmware"}},
    {"dell_smm", {ChipRole::Board, BoardGroup::Firmware, "embedded controller"}},
    {"dell_ddv", {ChipRole::Board, BoardGroup::Firmware, "embedded controller"}},
    {"thinkpad", {ChipRole::Board, BoardGroup::Firmware, "embedded controller"}},
    {"hp", {ChipRole::Board, BoardGroup::Firmware, "vendor firmware"}},
    {"applesmc", {ChipRole::Board, BoardGroup::Firmware, "embedded controller"}},
    {"cros_ec", {ChipRole::Board, BoardGroup::Firmware, "embedded controller"}},
    {"acpi_fan", {ChipRole::Board, BoardGroup::Firmware, "firmware fan"}},
    {"pwmfan", {ChipRole::Board, BoardGroup::Firmware, "fan"}},
    {"gpio_fan", {ChipRole::Board, BoardGroup::Firmware, "fan"}},
    {"system76", {ChipRole::Board, BoardGroup::Firmware, "embedded controller"}},
    {"legion", {ChipRole::Board, BoardGroup::Firmware, "embedded controller"}},
    {"lenovo", {ChipRole::Board, BoardGroup::Firmware, "embedded controller"}},
    {"ideapad", {ChipRole::Board, BoardGroup::Firmware, "embedded controller"}},
    {"msi", {ChipRole::Board, BoardGroup::Firmware, "embedded controller"}},
    {"surface_fan", {ChipRole::Board, BoardGroup::Firmware, "embedded controller"}},
    {"steamdeck", {ChipRole::Board, BoardGroup::Firmware, "embedded controller"}},
    {"oxp", {ChipRole::Board, BoardGroup::Firmware, "embedded controller"}},
    {"gpd", {ChipRole::Board, BoardGroup::Firmware, "embedded controller"}},
    {"toshiba", {ChipRole::Board, BoardGroup::Firmware, "embedded controller"}},
};

bool isCoreOrChiplet(std::string_view label) {
  return startsWith(label, "Core ") || startsWith(label, "Tccd") || startsWith(label, "Tccx");
}

std::vector<size_t> labelled(const std::vector<std::string>& labels,
                             bool (*match)(std::string_view)) {
  std::vector<size_t> out;
  for (size_t i = 0; i < labels.size(); ++i)
    if (match(labels[i])) out.push_back(i);
  return out;
}

Choice firstOf(std::vector<size_t> preferred, std::string reason) {
  return {Combine::First, std::move(preferred), std::move(reason)};
}

Choice meanOfAll(size_t count, std::string reason) {
  std::vector<size_t> all(count);
  for (size_t i = 0; i < count; ++i) all[i] = i;
  return {Combine::Mean, std::move(all), std::move(reason)};
}

// The first input that is not a core or chiplet reading, else the first of all.
size_t firstPackageInput(const std::vector<std::string>& labels) {
  const std::vector<size_t> rest =
      labelled(labels, [](std::string_view l) { return !isCoreOrChiplet(l); });
  return rest.empty() ? 0 : rest.front();
}

}  // namespace

ChipClass classifyChip(std::string_view driver) {
  for (const Prefix& entry : kChips) {
    // Names that match a processor or graphics driver must match it exactly: a
    // "k10temp2" or "xen..." is someone else's chip.
    const bool exact =
        entry.chipClass.role == ChipRole::Cpu || entry.chipClass.role == ChipRole::Gpu;
    if (exact ? driver == entry.prefix : startsWith(driver, entry.prefix)) return entry.chipClass;
  }
  return {ChipRole::Unused, BoardGroup::SuperIo, "nothing the program shows"};
}

Choice chooseCpuTemperature(std::string_view driver, const std::vector<std::string>& labels) {
  if (labels.empty()) return {Combine::First, {}, "no temperature input"};
  if (driver == "k10temp" || driver == "zenpower") {
    // Tctl carries a vendor offset on older parts; Tdie is the die's own reading.
    std::vector<size_t> order = labelled(labels, [](std::string_view l) { return l == "Tdie"; });
    const std::vector<size_t> tctl =
        labelled(labels, [](std::string_view l) { return l == "Tctl"; });
    order.insert(order.end(), tctl.begin(), tctl.end());
    std::string reason = order.empty() ? "the chip's first reading (no Tdie or Tctl)"
                                       : "Tdie where present, else Tctl";
    if (order.empty()) order.push_back(firstPackageInput(labels));
    return firstOf(std::move(order), std::move(reason));
  }
  if (driver == "coretemp") {
    std::vector<size_t> package = labelled(labels, [](std::string_view l) {
      return startsWith(l, "Package id ") || startsWith(l, "Physical id ");
    });
    if (!package.empty()) return firstOf(std::move(package), "the package reading (Package id)");
    std::vector<size_t> cores =
        labelled(labels, [](std::string_view l) { return startsWith(l, "Core "); });
    if (!cores.empty())
      return {Combine::Max, std::move(cores), "the hottest core (no package reading)"};
    return firstOf({0}, "the chip's first reading");
  }
  if (driver == "k8temp") {
    return meanOfAll(labels.size(), "the mean of the chip's inputs");
  }
  return firstOf({firstPackageInput(labels)}, "the chip's first reading");
}

Choice chooseGpuTemperature(std::string_view driver, const std::vector<std::string>& labels) {
  if (labels.empty()) return {Combine::First, {}, "no temperature input"};
  // amdgpu: the edge sensor is the card's temperature; junction (hotspot) and memory
  // run hotter and are shown beside it, not averaged in. xe: the package.
  const std::string_view main = driver == "amdgpu" ? "edge" : driver == "xe" ? "pkg" : "";
  std::vector<size_t> order;
  for (size_t i = 0; i < labels.size(); ++i)
    if (!main.empty() && labels[i] == main) order.push_back(i);
  std::string reason =
      order.empty() ? "the card's first reading" : "the " + std::string(main) + " reading";
  if (order.empty()) order.push_back(0);
  return firstOf(std::move(order), std::move(reason));
}

Choice chooseBoardTemperature(const std::vector<std::string>& labels) {
  std::vector<size_t> cpu =
      labelled(labels, [](std::string_view l) { return containsNoCase(l, "cpu"); });
  if (!cpu.empty()) return firstOf(std::move(cpu), "its processor reading");
  return meanOfAll(labels.size(), "the mean of its readings");
}

std::optional<float> combine(const Choice& choice,
                             const std::vector<std::optional<float>>& values) {
  float sum = 0.f;
  int count = 0;
  std::optional<float> best;
  for (size_t index : choice.inputs) {
    if (index >= values.size() || !values[index]) continue;
    const float value = *values[index];
    if (!std::isfinite(value) || std::trunc(value) == 0.f) continue;
    switch (choice.combine) {
      case Combine::First:
        return value;
      case Combine::Max:
        if (!best || value > *best) best = value;
        break;
      case Combine::Mean:
        sum += value;
        ++count;
        break;
    }
  }
  if (choice.combine == Combine::Mean && count > 0) return sum / static_cast<float>(count);
  return best;
}

bool isIntegratedGpu(std::string_view driver, const std::vector<std::string>& voltageLabels,
                     std::string_view pciSlot) {
  if (driver == "i915" || driver == "xe") return true;
  if (driver == "amdgpu" &&
      std::find(voltageLabels.begin(), voltageLabels.end(), "vddnb") != voltageLabels.end())
    return true;
  // "0000:00:01.0": a function of the root bus, i.e. of the chipset or processor.
  const size_t colon = pciSlot.find(':');
  return colon != std::string_view::npos && pciSlot.substr(colon + 1, 3) == "00:";
}

bool isBoardFan(std::string_view label) {
  for (std::string_view word : {"pump", "flow", "gpu", "video"})
    if (containsNoCase(label, word)) return false;
  return true;
}

}  // namespace pelmora::policy
