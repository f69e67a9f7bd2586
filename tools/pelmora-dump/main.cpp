// pelmora-dump: prints every hardware item and sensor the sensor library sees, and the
// map its query returns. Run it when the program shows "--" for a value, and attach
// its output to a bug report. HOST_SYS and HOST_PROC point it at another root.
#include <sys/utsname.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "pelmoracore.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

const char* root(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  return value && *value ? value : fallback;
}

using pelmora::hw::HardwareType;
using pelmora::hw::IHardware;
using pelmora::hw::ISensor;
using pelmora::hw::SensorType;

std::string valueText(const ISensor& sensor) {
  const std::optional<float> value = sensor.value();
  char text[32] = "--";
  if (value) std::snprintf(text, sizeof text, "%.3f", static_cast<double>(*value));
  return text;
}

void printSensors(const std::vector<ISensor*>& sensors, int depth, const char* note) {
  for (const ISensor* sensor : sensors)
    std::printf("%*s%-12s %-20s %s%s\n", depth * 2 + 2, "",
                pelmora::hw::sensorTypeName(sensor->sensorType()),
                pelmora::toNarrowName(sensor->name()).c_str(), valueText(*sensor).c_str(), note);
}

void printDatas(const pelmora::HardwareDatas& datas, bool ok) {
  std::printf("HardwareDatas (query returned %s):\n", ok ? "true" : "false");
  static const std::pair<pelmora::HWType, const char*> kKinds[] = {
      {pelmora::HWType::CPU, "CPU"},
      {pelmora::HWType::GPU, "GPU"},
      {pelmora::HWType::Mainboard, "Mainboard"}};
  for (const auto& [type, label] : kKinds) {
    const auto entry = datas.find(type);
    if (entry == datas.end()) {
      std::printf("  %s: no entry\n", label);
      continue;
    }
    const pelmora::HardwareNode& node = entry->second;
    std::printf("  %s: name=\"%s\" temperature=%.2f load=%.2f fan=%.2f\n", label, node.name.c_str(),
                static_cast<double>(node.temperature), static_cast<double>(node.load),
                static_cast<double>(node.fan));
  }
}

// Prints an item with its details, read now: they are not part of a sampling pass.
void printItem(IHardware& item, int depth) {
  item.updateDetails();
  std::printf("%*s[%s] %s\n", depth * 2, "", pelmora::hw::hardwareTypeName(item.hardwareType()),
              pelmora::toNarrowName(item.name()).c_str());
  printSensors(item.sensors(), depth, "");
  printSensors(item.details(), depth, "  [input]");
  for (IHardware* child : item.subHardware()) printItem(*child, depth + 1);
}

const char* role(HardwareType type) {
  switch (type) {
    case HardwareType::CPU:
      return "CPU";
    case HardwareType::GpuAti:
    case HardwareType::GpuNvidia:
    case HardwareType::GpuIntel:
      return "GPU";
    case HardwareType::SuperIO:
      return "board";
    default:
      return "unused";
  }
}

void reportItem(IHardware& item) {
  const std::string origin = item.origin();
  std::printf("%s: %s%s%s\n", role(item.hardwareType()), pelmora::toNarrowName(item.name()).c_str(),
              origin.empty() ? "" : " (", origin.empty() ? "" : (origin + ")").c_str());
  if (!item.choice().empty()) std::printf("  choice: %s\n", item.choice().c_str());
  printSensors(item.sensors(), 1, "");
  printSensors(item.details(), 1, "  [input]");
}

// Which item and sensors the query's merge rule takes each figure from: the first item
// of the kind, in walk order, with a usable reading; the item's mean of those.
void reportFigure(const char* figure, const std::vector<IHardware*>& items, SensorType type,
                  const char* unit) {
  for (IHardware* item : items) {
    float sum = 0.f;
    std::string names;
    int count = 0;
    for (const ISensor* sensor : item->sensors()) {
      const std::optional<float> value = sensor->value();
      if (sensor->sensorType() != type || !value || !std::isfinite(*value) ||
          std::trunc(*value) == 0.f)
        continue;
      sum += *value;
      names += (count++ ? ", " : "") + pelmora::toNarrowName(sensor->name());
    }
    if (count == 0) continue;
    std::printf("  %s: %.3f %s from %s: %s (%s)\n", figure, static_cast<double>(sum / count), unit,
                pelmora::toNarrowName(item->name()).c_str(), names.c_str(),
                item->choice().empty() ? "the first with a reading" : item->choice().c_str());
    return;
  }
  std::printf("  %s: none (no %s with a reading)\n", figure,
              type == SensorType::Fan ? "board chip" : "chip or card");
}

void printReport(pelmora::Pelmora& library, const pelmora::HardwareDatas& datas, bool ok) {
  utsname system{};
  ::uname(&system);
  std::printf("Sensor report\nkernel: %s %s %s\n", system.sysname, system.release, system.machine);
  std::vector<IHardware*> cpus, gpus, boards;
  for (IHardware* item : library.computer().hardware()) {
    item->updateDetails();
    if (item->hardwareType() == HardwareType::Mainboard) {
      std::printf("machine: %s\n", pelmora::toNarrowName(item->name()).c_str());
      for (IHardware* chip : item->subHardware()) {
        chip->updateDetails();
        boards.push_back(chip);
      }
    } else if (item->hardwareType() == HardwareType::CPU) {
      cpus.push_back(item);
    } else {
      gpus.push_back(item);
    }
  }
  std::printf(
      "\nChips and cards, in the order they are asked ([input]: a reading the choice is\nmade "
      "from, or one that is only listed):\n");
  for (const auto* group : {&cpus, &gpus, &boards})
    for (IHardware* item : *group) reportItem(*item);
  for (IHardware* item : library.computer().unusedHardware()) {
    item->update();
    reportItem(*item);
  }
  std::printf("\nFigures (a CPU without a temperature falls back to the board's):\n");
  reportFigure("CPU temperature", cpus, SensorType::Temperature, "C");
  reportFigure("GPU temperature", gpus, SensorType::Temperature, "C");
  reportFigure("fan", boards, SensorType::Fan, "rpm");
  std::printf("\n");
  printDatas(datas, ok);
}

void usage(const char* program) {
  std::printf(
      "Usage: %s [--watch | --report]\n"
      "Prints the hardware items and sensors the sensor library reads, and the values it\n"
      "hands to the program. --watch repeats every 1.5 s until interrupted. --report\n"
      "prints a text for a bug report: every chip with its role, every reading, and\n"
      "which sensor supplied each figure and why.\n"
      "Environment: HOST_SYS, HOST_PROC and HOST_DEV replace /sys, /proc and /dev.\n",
      program);
}

}  // namespace

int main(int argc, char** argv) {
  bool watch = false, report = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--watch") == 0) {
      watch = true;
    } else if (std::strcmp(argv[i], "--report") == 0) {
      report = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      usage(argv[0]);
      return 0;
    } else {
      std::fprintf(stderr, "%s: unknown argument \"%s\"\n", argv[0], argv[i]);
      usage(argv[0]);
      return 2;
    }
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);

  std::printf("roots: sys=%s proc=%s dev=%s\n", root("HOST_SYS", "/sys"),
              root("HOST_PROC", "/proc"), root("HOST_DEV", "/dev"));
  pelmora::Pelmora* library = nullptr;
  try {
    library = pelmora::Pelmora::GetInstance();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "The sensor library could not open the hardware: %s\n", error.what());
    return 1;
  }

  // Loads are shares between two readings: take a first one so the printed pass has them.
  {
    pelmora::HardwareDatas warmUp;
    library->getHardwareInfo(warmUp);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  if (report) {
    pelmora::HardwareDatas datas;
    const bool ok = library->getHardwareInfo(datas);
    printReport(*library, datas, ok);
    return 0;
  }
  do {
    pelmora::HardwareDatas datas;
    const bool ok = library->getHardwareInfo(datas);
    for (IHardware* item : library->computer().hardware()) printItem(*item, 0);
    for (IHardware* item : library->computer().unusedHardware()) {
      item->update();  // never part of a sampling pass
      printItem(*item, 0);
    }
    printDatas(datas, ok);
    std::fflush(stdout);
    for (int slice = 0; watch && slice < 15 && !g_stop; ++slice)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (watch && !g_stop) std::printf("\n");
  } while (watch && !g_stop);
  return 0;
}
