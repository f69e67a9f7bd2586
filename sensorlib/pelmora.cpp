#include <cmath>
#include <mutex>

#include "pelmoracore.h"

namespace pelmora {

std::atomic<Pelmora*> Pelmora::m_pInstance{nullptr};

namespace {
std::mutex& instanceMutex() {
  static std::mutex mutex;
  return mutex;
}

// Temperatures and fans whose integer part is 0 are unconnected inputs, not readings.
bool hasIntegerPart(float value) { return std::trunc(value) != 0.f; }

// A value to merge over: anything below 0.1 counts as not provided.
void fillIfEmpty(float& existing, float candidate) {
  if (existing < 0.1f) existing = candidate;
}
}  // namespace

Pelmora* Pelmora::GetInstance() {
  Pelmora* instance = m_pInstance.load(std::memory_order_acquire);
  if (!instance) {
    std::lock_guard<std::mutex> lock(instanceMutex());
    instance = m_pInstance.load(std::memory_order_relaxed);
    if (!instance) {
      // Held for the life of the process, never closed.
      instance = new Pelmora(platform::createComputer());
      m_pInstance.store(instance, std::memory_order_release);
    }
  }
  return instance;
}

Pelmora::Pelmora(std::unique_ptr<hw::Computer> computer) : m_pComputer(std::move(computer)) {
  if (!m_pComputer) throw hw::HardwareError("no hardware model");
  m_pComputer->open();
  m_pComputer->setCPUEnabled(true);
  m_pComputer->setGPUEnabled(true);
  m_pComputer->setMainboardEnabled(true);
  m_pComputer->setFanControllerEnabled(true);
}

bool Pelmora::getHardwareInfo(HardwareDatas& datas) {
  try {
    m_pComputer->refresh();
    for (hw::IHardware* item : m_pComputer->hardware()) {
      item->update();
      switch (item->hardwareType()) {
        case hw::HardwareType::CPU:
          getSensorInfo(*item, HWType::CPU, datas);
          break;
        case hw::HardwareType::GpuAti:
        case hw::HardwareType::GpuNvidia:
        case hw::HardwareType::GpuIntel:
          getSensorInfo(*item, HWType::GPU, datas);
          break;
        case hw::HardwareType::Mainboard:
          getSensorInfo(*item, HWType::Mainboard, datas);
          break;
        default:
          break;  // refreshed, never reported
      }
    }
  } catch (...) {
    return false;
  }
  return true;
}

void Pelmora::getSensorInfo(hw::IHardware& hardware, HWType type, HardwareDatas& datas) {
  hardware.update();
  const std::vector<hw::IHardware*>& children = hardware.subHardware();
  if (!children.empty()) {
    for (hw::IHardware* child : children) getSensorInfo(*child, type, datas);
    return;
  }

  float temperatureSum = 0.f, loadSum = 0.f, fanSum = 0.f;
  int temperatureCount = 0, loadCount = 0, fanCount = 0;
  for (const hw::ISensor* sensor : hardware.sensors()) {
    const std::optional<float> value = sensor->value();
    // A non-finite value is a broken reading; it would poison the mean.
    if (!value || !std::isfinite(*value)) continue;
    switch (sensor->sensorType()) {
      case hw::SensorType::Temperature:
        if (hasIntegerPart(*value)) {
          temperatureSum += *value;
          ++temperatureCount;
        }
        break;
      case hw::SensorType::Load:
        loadSum += *value;
        ++loadCount;
        break;
      case hw::SensorType::Fan:
        if (hasIntegerPart(*value)) {
          fanSum += *value;
          ++fanCount;
        }
        break;
      default:
        break;
    }
  }
  if (temperatureCount == 0 && loadCount == 0 && fanCount == 0) return;

  HardwareNode node;
  node.name = toNarrowName(hardware.name());
  node.temperature = temperatureCount ? temperatureSum / temperatureCount : 0.f;
  node.load = loadCount ? loadSum / loadCount : 0.f;
  node.fan = fanCount ? fanSum / fanCount : 0.f;

  auto existing = datas.find(type);
  if (existing == datas.end()) {
    datas.emplace(type, std::move(node));
    return;
  }
  fillIfEmpty(existing->second.fan, node.fan);
  fillIfEmpty(existing->second.temperature, node.temperature);
  fillIfEmpty(existing->second.load, node.load);
}

std::string toNarrowName(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  size_t i = 0;
  while (i < name.size()) {
    const auto lead = static_cast<unsigned char>(name[i]);
    size_t length = 0;
    if (lead < 0x80) {
      out.push_back(lead < 0x20 || lead == 0x7f ? '?' : static_cast<char>(lead));
      ++i;
      continue;
    }
    if (lead >= 0xc2 && lead <= 0xdf) {
      length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
      length = 3;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
      length = 4;
    }
    bool valid = length != 0 && i + length <= name.size();
    for (size_t k = 1; valid && k < length; ++k)
      valid = (static_cast<unsigned char>(name[i + k]) & 0xc0) == 0x80;
    if (valid && length == 3) {
      const auto second = static_cast<unsigned char>(name[i + 1]);
      valid = !(lead == 0xe0 && second < 0xa0) && !(lead == 0xed && second >= 0xa0);
    } else if (valid && length == 4) {
      const auto second = static_cast<unsigned char>(name[i + 1]);
      valid = !(lead == 0xf0 && second < 0x90) && !(lead == 0xf4 && second >= 0x90);
    }
    if (!valid) {
      out.push_back('?');
      ++i;
      continue;
    }
    out.append(name, i, length);
    i += length;
  }
  return out;
}

const char* hw::hardwareTypeName(HardwareType type) {
  switch (type) {
    case HardwareType::Mainboard:
      return "Mainboard";
    case HardwareType::SuperIO:
      return "SuperIO";
    case HardwareType::CPU:
      return "CPU";
    case HardwareType::RAM:
      return "RAM";
    case HardwareType::GpuNvidia:
      return "GpuNvidia";
    case HardwareType::GpuAti:
      return "GpuAti";
    case HardwareType::TBalancer:
      return "TBalancer";
    case HardwareType::Heatmaster:
      return "Heatmaster";
    case HardwareType::GpuIntel:
      return "GpuIntel";
    case HardwareType::HDD:
      return "HDD";
    case HardwareType::Other:
      return "Other";
  }
  return "Unknown";
}

const char* hw::sensorTypeName(SensorType type) {
  switch (type) {
    case SensorType::Voltage:
      return "Voltage";
    case SensorType::Clock:
      return "Clock";
    case SensorType::Temperature:
      return "Temperature";
    case SensorType::Load:
      return "Load";
    case SensorType::Fan:
      return "Fan";
    case SensorType::Flow:
      return "Flow";
    case SensorType::Control:
      return "Control";
    case SensorType::Level:
      return "Level";
  }
  return "Unknown";
}

}  // namespace pelmora

// The one export. Nothing thrown inside, construction included, reaches the caller.
extern "C" bool PLM_GetHardwareInfo(pelmora::HardwareDatas& datas) {
  try {
    return pelmora::Pelmora::GetInstance()->getHardwareInfo(datas);
  } catch (...) {
    return false;
  }
}
