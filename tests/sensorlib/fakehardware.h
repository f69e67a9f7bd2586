// An in-memory hardware model for driving the query walk with exact values.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "hardware.h"

namespace fake {

using pelmora::hw::HardwareType;
using pelmora::hw::SensorType;

class Item final : public pelmora::hw::IHardware {
 public:
  Item(HardwareType type, std::string name) : m_type(type), m_name(std::move(name)) {}

  Item& sensor(SensorType type, std::optional<float> value) {
    m_sensors.push_back(std::make_unique<pelmora::hw::Sensor>(type, "s"));
    m_sensors.back()->setValue(value);
    m_views.push_back(m_sensors.back().get());
    return *this;
  }
  Item& temperature(std::optional<float> v) { return sensor(SensorType::Temperature, v); }
  Item& load(std::optional<float> v) { return sensor(SensorType::Load, v); }
  Item& fan(std::optional<float> v) { return sensor(SensorType::Fan, v); }
  Item& child(std::unique_ptr<Item> item) {
    m_childViews.push_back(item.get());
    m_children.push_back(std::move(item));
    return *m_children.back();
  }
  Item& child(HardwareType type, std::string name) {
    return child(std::make_unique<Item>(type, std::move(name)));
  }

  void update() override {
    ++updates;
    if (throwOnUpdate) throw pelmora::hw::HardwareError("device went away");
  }
  HardwareType hardwareType() const override { return m_type; }
  std::string name() const override { return m_name; }
  const std::vector<pelmora::hw::IHardware*>& subHardware() const override { return m_childViews; }
  const std::vector<pelmora::hw::ISensor*>& sensors() const override { return m_views; }

  int updates = 0;
  bool throwOnUpdate = false;

 private:
  HardwareType m_type;
  std::string m_name;
  std::vector<std::unique_ptr<pelmora::hw::Sensor>> m_sensors;
  std::vector<pelmora::hw::ISensor*> m_views;
  std::vector<std::unique_ptr<Item>> m_children;
  std::vector<pelmora::hw::IHardware*> m_childViews;
};

class Computer final : public pelmora::hw::Computer {
 public:
  Item& add(HardwareType type, std::string name) {
    m_items.push_back(std::make_unique<Item>(type, std::move(name)));
    m_views.push_back(m_items.back().get());
    return *m_items.back();
  }
  void open() override {
    ++opens;
    if (failOpen) throw pelmora::hw::HardwareError("no access");
  }
  void setCPUEnabled(bool) override { ++enables; }
  void setGPUEnabled(bool) override { ++enables; }
  void setMainboardEnabled(bool) override { ++enables; }
  void setFanControllerEnabled(bool) override { ++enables; }
  const std::vector<pelmora::hw::IHardware*>& hardware() const override { return m_views; }

  int opens = 0;
  int enables = 0;
  bool failOpen = false;

 private:
  std::vector<std::unique_ptr<Item>> m_items;
  std::vector<pelmora::hw::IHardware*> m_views;
};

}  // namespace fake
