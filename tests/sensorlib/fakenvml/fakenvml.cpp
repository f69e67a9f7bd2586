// A stand-in for NVIDIA's management library, with just the entry points the sensor
// library binds. The cards it knows come from the file named by FAKE_NVML_STATE,
// re-read on every call, one card a line: "<pci slot> <temp> <util> <rpm> <name...>";
// a card that is not listed is gone. Without the variable there is one card.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {
constexpr int kSuccess = 0;
constexpr int kUninitialized = 1;
constexpr int kInvalidArgument = 2;
constexpr int kNotFound = 6;
constexpr int kDriverNotLoaded = 9;
constexpr int kInsufficientSize = 7;
constexpr int kGpuIsLost = 15;
constexpr int kVersionMismatch = 25;

struct Card {
  std::string slot;
  unsigned temperature, utilization, rpm;
  std::string name;
};

int g_initCount = 0;
Card g_handles[8];  // handles point into this table, one per slot seen

std::vector<Card> cards() {
  const char* path = std::getenv("FAKE_NVML_STATE");
  std::vector<Card> out;
  if (!path) {
    out.push_back({"0000:26:00.0", 48, 23, 1450, "NVIDIA GeForce RTX 3060 Ti"});
    return out;
  }
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    Card card;
    if (!(fields >> card.slot >> card.temperature >> card.utilization >> card.rpm)) continue;
    std::getline(fields >> std::ws, card.name);
    out.push_back(card);
  }
  return out;
}

// The slot of a handle, or a null card when it is gone since the handle was made.
const Card* lookup(void* handle, int& error) {
  error = g_initCount > 0 ? kSuccess : kUninitialized;
  if (error) return nullptr;
  auto* held = static_cast<Card*>(handle);
  for (const Card& card : cards())
    if (card.slot == held->slot) {
      *held = card;
      return held;
    }
  error = kGpuIsLost;
  return nullptr;
}

struct FanSpeedInfo {
  unsigned version, fan, speed;
};
}  // namespace

extern "C" {

// A state file whose first line is "init-fails" plays a driver that is not loaded yet.
int nvmlInit_v2() {
  const char* path = std::getenv("FAKE_NVML_STATE");
  std::ifstream file(path ? path : "");
  std::string first;
  if (path && std::getline(file, first) && first == "init-fails") return kDriverNotLoaded;
  ++g_initCount;
  return kSuccess;
}

int nvmlShutdown() {
  if (g_initCount == 0) return kUninitialized;
  --g_initCount;
  return kSuccess;
}

int nvmlDeviceGetHandleByPciBusId_v2(const char* busId, void** device) {
  if (g_initCount == 0) return kUninitialized;
  if (!busId || !device) return kInvalidArgument;
  const std::vector<Card> known = cards();
  for (size_t i = 0; i < known.size() && i < 8; ++i) {
    if (known[i].slot == busId) {
      g_handles[i] = known[i];
      *device = &g_handles[i];
      return kSuccess;
    }
  }
  return kNotFound;
}

int nvmlDeviceGetName(void* device, char* name, unsigned length) {
  int error;
  const Card* card = lookup(device, error);
  if (!card) return error;
  if (card->name.size() + 1 > length) return kInsufficientSize;
  std::memcpy(name, card->name.c_str(), card->name.size() + 1);
  return kSuccess;
}

int nvmlDeviceGetTemperature(void* device, int sensor, unsigned* value) {
  int error;
  const Card* card = lookup(device, error);
  if (!card) return error;
  if (sensor != 0 || !value) return kInvalidArgument;
  *value = card->temperature;
  return kSuccess;
}

int nvmlDeviceGetUtilizationRates(void* device, unsigned* rates) {
  int error;
  const Card* card = lookup(device, error);
  if (!card) return error;
  rates[0] = card->utilization;
  rates[1] = 5;
  return kSuccess;
}

int nvmlDeviceGetNumFans(void* device, unsigned* count) {
  int error;
  if (!lookup(device, error)) return error;
  *count = 1;
  return kSuccess;
}

int nvmlDeviceGetFanSpeedRPM(void* device, FanSpeedInfo* info) {
  int error;
  const Card* card = lookup(device, error);
  if (!card) return error;
  if (info->version != (sizeof(FanSpeedInfo) | (1u << 24))) return kVersionMismatch;
  if (info->fan != 0) return kInvalidArgument;
  info->speed = card->rpm;
  return kSuccess;
}

}  // extern "C"
