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
  Item(HardwareType type, std::string name) : type_(type), name_(std::move(name)) {}

  Item& sensor(SensorType type, std::optional<float> value) {
    sensors_.push_back(std::make_unique<pelmora::hw::Sensor>(type, "s"));
    sensors_.back()->setValue(value);
    views_.push_back(sensors_.back().get());
    return *this;
  }
  Item& temperature(std::optional<float> v) { return sensor(SensorType::Temperature, v); }
  Item& load(std::optional<float> v) { return sensor(SensorType::Load, v); }
  Item& fan(std::optional<float> v) { return sensor(SensorType::Fan, v); }
  Item& child(std::unique_ptr<Item> item) {
    childViews_.push_back(item.get());
    children_.push_back(std::move(item));
    return *children_.back();
  }
  Item& child(HardwareType type, std::string name) {
    return child(std::make_unique<Item>(type, std::move(name)));
  }

  void update() override {
    ++updates;
    if (throwOnUpdate) throw pelmora::hw::HardwareError("device went away");
  }
  HardwareType hardwareType() const override { return type_; }
  std::string name() const override { return name_; }
  const std::vector<pelmora::hw::IHardware*>& subHardware() const override { return childViews_; }
  const std::vector<pelmora::hw::ISensor*>& sensors() const override { return views_; }

  int updates = 0;
  bool throwOnUpdate = false;

 private:
  HardwareType type_;
  std::string name_;
  std::vector<std::unique_ptr<pelmora::hw::Sensor>> sensors_;
  std::vector<pelmora::hw::ISensor*> views_;
  std::vector<std::unique_ptr<Item>> children_;
  std::vector<pelmora::hw::IHardware*> childViews_;
};

class Computer final : public pelmora::hw::Computer {
 public:
  Item& add(HardwareType type, std::string name) {
    items_.push_back(std::make_unique<Item>(type, std::move(name)));
    views_.push_back(items_.back().get());
    return *items_.back();
  }
  void open() override {
    ++opens;
    if (failOpen) throw pelmora::hw::HardwareError("no access");
  }
  void setCPUEnabled(bool) override { ++enables; }
  void setGPUEnabled(bool) override { ++enables; }
  void setMainboardEnabled(bool) override { ++enables; }
  void setFanControllerEnabled(bool) override { ++enables; }
  const std::vector<pelmora::hw::IHardware*>& hardware() const override { return views_; }

  int opens = 0;
  int enables = 0;
  bool failOpen = false;

 private:
  std::vector<std::unique_ptr<Item>> items_;
  std::vector<pelmora::hw::IHardware*> views_;
};

}  // namespace fake
