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
  void* symbol = platform::findSymbol(handle, name);
  if (!symbol && fallback) symbol = platform::findSymbol(handle, fallback);
  function = reinterpret_cast<F>(symbol);
}
}  // namespace

Library::Library(std::string fileName, std::chrono::steady_clock::duration retryAfter)
    : m_fileName(std::move(fileName)), m_retryAfter(retryAfter) {}

Library::~Library() {
  release();
  delete m_functions;
}

bool Library::setAwake(const void* user, bool awake) {
  if (awake)
    m_awake.insert(user);
  else
    m_awake.erase(user);
  if (m_awake.empty()) {
    release();
    return false;
  }
  return acquire();
}

bool Library::acquire() {
  if (held()) return true;
  const auto now = std::chrono::steady_clock::now();
  if (m_nextTry && now < *m_nextTry) return false;
  m_nextTry.reset();
  auto failed = [&] {
    m_nextTry = now + m_retryAfter;
    return false;
  };
  if (!m_handle) {
    m_handle = platform::openLibrary(m_fileName);
    if (!m_handle) return failed();  // not installed (yet)
    if (!m_functions) m_functions = new Functions;
    bind(m_handle, m_functions->init, "nvmlInit_v2", "nvmlInit");
    bind(m_handle, m_functions->shutdown, "nvmlShutdown");
    bind(m_handle, m_functions->handleByPciBusId, "nvmlDeviceGetHandleByPciBusId_v2",
         "nvmlDeviceGetHandleByPciBusId");
    bind(m_handle, m_functions->name, "nvmlDeviceGetName");
    bind(m_handle, m_functions->temperature, "nvmlDeviceGetTemperature");
    bind(m_handle, m_functions->utilization, "nvmlDeviceGetUtilizationRates");
    bind(m_handle, m_functions->numFans, "nvmlDeviceGetNumFans");
    bind(m_handle, m_functions->fanSpeedRpm, "nvmlDeviceGetFanSpeedRPM");
    if (!m_functions->init || !m_functions->shutdown || !m_functions->handleByPciBusId) {
      platform::closeLibrary(m_handle);
      m_handle = nullptr;
      return failed();
    }
  }
  m_initialised = m_functions->init() == kSuccess;
  return m_initialised || failed();
}

void Library::release() {
  if (!m_handle) return;
  if (m_initialised) m_functions->shutdown();
  m_initialised = false;
  platform::closeLibrary(m_handle);
  m_handle = nullptr;
}

std::optional<Reading> Library::read(const std::string& slot) {
  if (!held()) return std::nullopt;
  Device device = nullptr;
  if (m_functions->handleByPciBusId(slot.c_str(), &device) != kSuccess || !device)
    return std::nullopt;
  Reading reading;
  char name[96] = {};
  if (m_functions->name && m_functions->name(device, name, sizeof name - 1) == kSuccess)
    reading.name = name;
  unsigned int value = 0;
  if (m_functions->temperature &&
      m_functions->temperature(device, kTemperatureGpu, &value) == kSuccess && value < 200)
    reading.temperature = static_cast<float>(value);
  Utilization utilization{};
  if (m_functions->utilization && m_functions->utilization(device, &utilization) == kSuccess &&
      utilization.gpu <= 100)
    reading.load = static_cast<float>(utilization.gpu);
  unsigned int fans = 0;
  if (m_functions->numFans && m_functions->fanSpeedRpm &&
      m_functions->numFans(device, &fans) == kSuccess) {
    unsigned int sum = 0, spinning = 0;
    for (unsigned int fan = 0; fan < fans && fan < kMaxFans; ++fan) {
      FanSpeedInfo info{kFanSpeedInfoVersion1, fan, 0};
      if (m_functions->fanSpeedRpm(device, &info) == kSuccess && info.speed > 0 &&
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
