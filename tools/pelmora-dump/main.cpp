// pelmora-dump: prints every hardware item and sensor the sensor library sees, and the
// map its query returns. Run it when the program shows "--" for a value, and attach
// its output to a bug report. HOST_SYS and HOST_PROC point it at another root.
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

void printItem(pelmora::hw::IHardware& item, int depth) {
  std::printf("%*s[%s] %s\n", depth * 2, "", pelmora::hw::hardwareTypeName(item.hardwareType()),
              item.name().c_str());
  for (const pelmora::hw::ISensor* sensor : item.sensors()) {
    const std::optional<float> value = sensor->value();
    char text[32] = "--";
    if (value) std::snprintf(text, sizeof text, "%.3f", static_cast<double>(*value));
    std::printf("%*s%-12s %-20s %s\n", depth * 2 + 2, "",
                pelmora::hw::sensorTypeName(sensor->sensorType()), sensor->name().c_str(), text);
  }
  for (pelmora::hw::IHardware* child : item.subHardware()) printItem(*child, depth + 1);
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

void usage(const char* program) {
  std::printf(
      "Usage: %s [--watch]\n"
      "Prints the hardware items and sensors the sensor library reads, and the values it\n"
      "hands to the program. --watch repeats every 1.5 s until interrupted.\n"
      "Environment: HOST_SYS, HOST_PROC and HOST_DEV replace /sys, /proc and /dev.\n",
      program);
}

}  // namespace

int main(int argc, char** argv) {
  bool watch = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--watch") == 0) {
      watch = true;
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
  do {
    pelmora::HardwareDatas datas;
    const bool ok = library->getHardwareInfo(datas);
    for (pelmora::hw::IHardware* item : library->computer().hardware()) printItem(*item, 0);
    printDatas(datas, ok);
    std::fflush(stdout);
    for (int slice = 0; watch && slice < 15 && !g_stop; ++slice)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (watch && !g_stop) std::printf("\n");
  } while (watch && !g_stop);
  return 0;
}
