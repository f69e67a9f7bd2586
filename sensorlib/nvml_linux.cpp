#include <dlfcn.h>

#include "nvml.h"

namespace pelmora::nvml {

namespace {
// The few declarations of NVML's C interface this library uses.
using Return = int;
constexpr Return kSuccess = 0;
using Device = struct DeviceOpaque*;
struct Utilization {
  unsigned int gpu;
  unsigned int memory;
};
struct FanSpeedInfo {
  unsigned int version;
  unsigned int fan;
  unsigned int speed;
};
constexpr unsigned int kFanSpeedInfoVersion1 = sizeof(FanSpeedInfo) | (1u << 24);
constexpr int kTemperatureGpu = 0;
constexpr unsigned int kMaxFans = 16;
}  // namespace

struct Library::Functions {
  Return (*init)() = nullptr;
  Return (*shutdown)() = nullptr;
  Return (*handleByPciBusId)(const char*, Device*) = nullptr;
  Return (*name)(Device, char*, unsigned int) = nullptr;
  Return (*temperature)(Device, int, unsigned int*) = nullptr;
  Return (*utilization)(Device, Utilization*) = nullptr;
  Return (*numFans)(Device, unsigned int*) = nullptr;
  Return (*fanSpeedRpm)(Device, FanSpeedInfo*) = nullptr;
};

namespace {
template <typename F>
void bind(void* handle, F& function, const char* name, const char* fallback = nullptr) {
  void* symbol = dlsym(handle, name);
  if (!symbol && fallback) symbol = dlsym(handle, fallback);
  function = reinterpret_cast<F>(symbol);
}
}  // namespace

Library::Library(std::string fileName, std::chrono::steady_clock::duration retryAfter)
    : fileName_(std::move(fileName)), retryAfter_(retryAfter) {}

Library::~Library() {
  release();
  delete functions_;
}

bool Library::setAwake(const void* user, bool awake) {
  if (awake)
    awake_.insert(user);
  else
    awake_.erase(user);
  if (awake_.empty()) {
    release();
    return false;
  }
  return acquire();
}

bool Library::acquire() {
  if (held()) return true;
  const auto now = std::chrono::steady_clock::now();
  if (nextTry_ && now < *nextTry_) return false;
  nextTry_.reset();
  auto failed = [&] {
    nextTry_ = now + retryAfter_;
    return false;
  };
  if (!handle_) {
    handle_ = dlopen(fileName_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) return failed();  // not installed (yet)
    if (!functions_) functions_ = new Functions;
    bind(handle_, functions_->init, "nvmlInit_v2", "nvmlInit");
    bind(handle_, functions_->shutdown, "nvmlShutdown");
    bind(handle_, functions_->handleByPciBusId, "nvmlDeviceGetHandleByPciBusId_v2",
         "nvmlDeviceGetHandleByPciBusId");
    bind(handle_, functions_->name, "nvmlDeviceGetName");
    bind(handle_, functions_->temperature, "nvmlDeviceGetTemperature");
    bind(handle_, functions_->utilization, "nvmlDeviceGetUtilizationRates");
    bind(handle_, functions_->numFans, "nvmlDeviceGetNumFans");
    bind(handle_, functions_->fanSpeedRpm, "nvmlDeviceGetFanSpeedRPM");
    if (!functions_->init || !functions_->shutdown || !functions_->handleByPciBusId) {
      dlclose(handle_);
      handle_ = nullptr;
      return failed();
    }
  }
  initialised_ = functions_->init() == kSuccess;
  return initialised_ || failed();
}

void Library::release() {
  if (!handle_) return;
  if (initialised_) functions_->shutdown();
  initialised_ = false;
  dlclose(handle_);
  handle_ = nullptr;
}

std::optional<Reading> Library::read(const std::string& slot) {
  if (!held()) return std::nullopt;
  Device device = nullptr;
  if (functions_->handleByPciBusId(slot.c_str(), &device) != kSuccess || !device)
    return std::nullopt;
  Reading reading;
  char name[96] = {};
  if (functions_->name && functions_->name(device, name, sizeof name - 1) == kSuccess)
    reading.name = name;
  unsigned int value = 0;
  if (functions_->temperature &&
      functions_->temperature(device, kTemperatureGpu, &value) == kSuccess && value < 200)
    reading.temperature = static_cast<float>(value);
  Utilization utilization{};
  if (functions_->utilization && functions_->utilization(device, &utilization) == kSuccess &&
      utilization.gpu <= 100)
    reading.load = static_cast<float>(utilization.gpu);
  unsigned int fans = 0;
  if (functions_->numFans && functions_->fanSpeedRpm &&
      functions_->numFans(device, &fans) == kSuccess) {
    unsigned int sum = 0, spinning = 0;
    for (unsigned int fan = 0; fan < fans && fan < kMaxFans; ++fan) {
      FanSpeedInfo info{kFanSpeedInfoVersion1, fan, 0};
      if (functions_->fanSpeedRpm(device, &info) == kSuccess && info.speed > 0 &&
          info.speed < 30000) {
        sum += info.speed;
        ++spinning;
      }
    }
    if (spinning) reading.fanRpm = static_cast<float>(sum) / static_cast<float>(spinning);
  }
  return reading;
}

}  // namespace pelmora::nvml
