#include "wring.h"

#include "rslogger.h"

namespace platform = sensors::platform;

namespace {
const char kInitializeFunction[] = "HardwareInfoReader::InitializeWRing";
const char kOpenFunction[] = "HardwareInfoReader::OpenWRingDriver";
}  // namespace

struct WRingDriver::Device {
  std::vector<platform::RegisterHandle> processors;
  std::vector<unsigned int> tjMax;  // per processor, read once: it is fixed per part
  bool driverLoadedByUs = false;

  void close() {
    for (platform::RegisterHandle handle : processors) platform::closeProcessor(handle);
    processors.clear();
    tjMax.clear();
  }
};

WRingDriver::WRingDriver() : m_device(std::make_unique<Device>()) {}

WRingDriver::~WRingDriver() { m_device->close(); }

bool WRingDriver::InitializeWRing() {
  RemoveWRingService();
  QString error;
  if (!platform::prepareRegisterDriver(&m_device->driverLoadedByUs, &error)) {
    RSLogger::instance()->writeLog(RSLogger::LevelError,
                                   QStringLiteral("MSR driver is not available! (%1)").arg(error),
                                   kInitializeFunction);
    return false;
  }
  return OpenWRingDriver();
}

bool WRingDriver::OpenWRingDriver() {
  m_device->close();
  QString error;
  m_device->processors = platform::openProcessors(&error);
  bool anyOpen = false;
  for (platform::RegisterHandle handle : m_device->processors) {
    anyOpen = anyOpen || handle >= 0;
    m_device->tjMax.push_back(
        tjMaxFromTemperatureTarget(platform::readRegister(handle, kTemperatureTargetRegister)));
  }
  if (!error.isEmpty())
    RSLogger::instance()->writeLog(
        RSLogger::LevelError, QStringLiteral("Open MSR driver fail, %1").arg(error), kOpenFunction);
  // Processors that failed to open keep their place: their reads fail and count.
  if (!anyOpen) m_device->close();
  return anyOpen;
}

void WRingDriver::RemoveWRingService() {
  // The driver cannot go while we hold its devices.
  m_device->close();
  if (!m_device->driverLoadedByUs) return;
  m_device->driverLoadedByUs = false;
  platform::releaseRegisterDriver();
}

unsigned int WRingDriver::readProcessorTemperature() const {
  std::vector<std::optional<std::uint64_t>> reads;
  reads.reserve(m_device->processors.size());
  for (platform::RegisterHandle handle : m_device->processors)
    reads.push_back(platform::readRegister(handle, kThermStatusRegister));
  return averageTemperature(reads, m_device->tjMax);
}

unsigned int WRingDriver::tjMaxFromTemperatureTarget(std::optional<std::uint64_t> target) {
  if (!target) return kDefaultTjMax;
  const unsigned int tjMax = static_cast<unsigned int>(*target >> 16) & 0xFF;
  // Parts range from about 70 to 110 degrees; anything else is not this register.
  return tjMax >= 60 && tjMax <= 130 ? tjMax : kDefaultTjMax;
}

unsigned int WRingDriver::temperatureFromThermStatus(std::uint64_t thermStatus,
                                                     unsigned int tjMax) {
  const unsigned int readout = static_cast<unsigned int>((thermStatus & 0xFFFFFFFFu) >> 16) & 0x7F;
  // The field is 7 bits wide: a readout past TjMax must not wrap round into a huge
  // temperature.
  return readout < tjMax ? tjMax - readout : 0;
}

unsigned int WRingDriver::averageTemperature(const std::vector<std::optional<std::uint64_t>>& reads,
                                             const std::vector<unsigned int>& tjMax) {
  std::uint32_t sum = 0, count = 0;
  for (size_t i = 0; i < reads.size(); ++i) {
    ++count;
    if (!reads[i]) continue;
    if (!(*reads[i] & kReadingValid)) {
      --count;
      continue;
    }
    sum += temperatureFromThermStatus(*reads[i], i < tjMax.size() ? tjMax[i] : kDefaultTjMax);
  }
  return count ? sum / count : 0;
}
