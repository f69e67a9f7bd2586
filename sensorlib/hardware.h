// The hardware model the query walks: a computer lists hardware items, an item
// has sensors and may have sub-items (a mainboard's sensor chips). Each platform
// provides one implementation through createComputer().
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelmora::hw {

// The numeric values are fixed: the query and the dump tool rely on them.
enum class HardwareType : int {
  Mainboard = 0,
  SuperIO = 1,
  CPU = 2,
  RAM = 3,
  GpuNvidia = 4,
  GpuAti = 5,
  TBalancer = 6,
  Heatmaster = 7,
  HDD = 8,
  GpuIntel = 9,
  Other = 100,  // drives, network cards, ACPI zones, batteries...
};

enum class SensorType : int {
  Voltage = 0,
  Clock = 1,
  Temperature = 2,
  Load = 3,
  Fan = 4,
  Flow = 5,
  Control = 6,
  Level = 7,
};

// Raised by an implementation when an item cannot be refreshed at all.
class HardwareError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ISensor {
 public:
  virtual ~ISensor() = default;
  virtual SensorType sensorType() const = 0;
  virtual std::string name() const = 0;
  // The value of the last refresh of the owning item; empty when there is none.
  virtual std::optional<float> value() const = 0;
};

class IHardware {
 public:
  virtual ~IHardware() = default;
  // Refreshes the values of this item's own sensors.
  virtual void update() = 0;
  virtual HardwareType hardwareType() const = 0;
  virtual std::string name() const = 0;
  virtual const std::vector<IHardware*>& subHardware() const = 0;
  virtual const std::vector<ISensor*>& sensors() const = 0;

  // Readings that are listed (by the dump tool) but do not enter the item's figures,
  // such as per-core temperatures; refreshed by updateDetails() only.
  virtual const std::vector<ISensor*>& details() const { return noSensors(); }
  virtual void updateDetails() {}
  // Which sensor supplies the item's figures, and why, in a line of words.
  virtual std::string choice() const { return {}; }
  // Where the readings come from, e.g. "k10temp, hwmon1"; empty for composed items.
  virtual std::string origin() const { return {}; }

 protected:
  static const std::vector<ISensor*>& noSensors() {
    static const std::vector<ISensor*> none;
    return none;
  }
};

class Computer {
 public:
  virtual ~Computer() = default;
  // Discovers the hardware. May throw HardwareError.
  virtual void open() = 0;
  virtual void setCPUEnabled(bool enabled) = 0;
  virtual void setGPUEnabled(bool enabled) = 0;
  virtual void setMainboardEnabled(bool enabled) = 0;
  virtual void setFanControllerEnabled(bool enabled) = 0;
  // Top-level items of the enabled groups, in a stable order.
  virtual const std::vector<IHardware*>& hardware() const = 0;
  // Follows hardware that appeared or vanished since open(); called before each walk,
  // so it must be cheap when nothing changed. Item pointers may change here.
  virtual void refresh() {}
  // Chips that supply none of the figures: never walked, listed for reports.
  virtual const std::vector<IHardware*>& unusedHardware() const {
    static const std::vector<IHardware*> none;
    return none;
  }
};

// A sensor whose value its owner sets; the building block of implementations.
class Sensor final : public ISensor {
 public:
  Sensor(SensorType type, std::string name) : m_type(type), m_name(std::move(name)) {}
  SensorType sensorType() const override { return m_type; }
  std::string name() const override { return m_name; }
  std::optional<float> value() const override { return m_value; }
  void setValue(std::optional<float> value) { m_value = value; }

 private:
  SensorType m_type;
  std::string m_name;
  std::optional<float> m_value;
};

const char* hardwareTypeName(HardwareType type);
const char* sensorTypeName(SensorType type);

}  // namespace pelmora::hw

namespace pelmora::platform {

// The platform's computer, reading from the roots of this machine (or the ones the
// environment names for tests and bug reports).
std::unique_ptr<hw::Computer> createComputer();

}  // namespace pelmora::platform
