// The hardware model over the Linux kernel's interfaces: hwmon chips in sysfs,
// processor times in /proc/stat, the board's name from DMI, and NVIDIA cards
// through NVML. Roots come from HOST_SYS, HOST_PROC and HOST_DEV when set.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "hardware.h"
#include "nvml.h"
#include "sysparse.h"

namespace pelmora::hw {

namespace {

struct Roots {
  std::string sys = "/sys";
  std::string proc = "/proc";
  std::string dev = "/dev";
};

Roots rootsFromEnvironment() {
  Roots roots;
  auto take = [](const char* variable, std::string& root) {
    const char* value = std::getenv(variable);
    if (value && *value) root = value;
  };
  take("HOST_SYS", roots.sys);
  take("HOST_PROC", roots.proc);
  take("HOST_DEV", roots.dev);
  return roots;
}

// Reads a small kernel file whole. sysfs values are a page at most; /proc/stat on a
// large machine is longer, hence the bound rather than one read.
std::optional<std::string> readFile(const std::string& path, size_t limit = 256 * 1024) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  while (text.size() < limit) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return std::nullopt;  // e.g. EIO from a chip that did not answer
    }
    if (got == 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return text;
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::vector<std::string> listDirectory(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::string readTrimmed(const std::string& path) {
  const std::optional<std::string> text = readFile(path, 4096);
  return text ? std::string(sys::trim(*text)) : std::string();
}

// A device the kernel has put to sleep must not be woken by reading its sensors.
bool isSuspended(const std::string& runtimeStatusPath) {
  return !runtimeStatusPath.empty() && readTrimmed(runtimeStatusPath) == "suspended";
}

// One sensor file of the hwmon ABI with its unit scale and plausible range; outside
// the range are the sentinels chips use for unconnected inputs (-128, 127, 0xffff).
struct FileSensor {
  std::unique_ptr<Sensor> sensor;
  std::string path;
  std::string faultPath;
  float scale = 1.f;
  float minValid = 0.f;
  float maxValid = 0.f;
};

std::optional<float> readFileSensor(const FileSensor& file) {
  if (!file.faultPath.empty()) {
    const std::optional<long long> fault = sys::parseInteger(readTrimmed(file.faultPath));
    if (fault && *fault != 0) return std::nullopt;
  }
  const std::optional<std::string> text = readFile(file.path, 4096);
  if (!text) return std::nullopt;
  const std::optional<long long> raw = sys::parseInteger(*text);
  if (!raw) return std::nullopt;
  const float value = static_cast<float>(static_cast<double>(*raw) * file.scale);
  if (value < file.minValid || value > file.maxValid) return std::nullopt;
  return value;
}

// Processor load from /proc/stat: "CPU Total" and one sensor per logical processor.
class CpuLoadMeter {
 public:
  explicit CpuLoadMeter(std::string statPath) : statPath_(std::move(statPath)) {
    const std::optional<std::string> text = readFile(statPath_);
    if (!text) return;
    for (const sys::CpuTimes& times : sys::parseProcStat(*text)) {
      const std::string name =
          times.cpu < 0 ? "CPU Total" : "CPU Core #" + std::to_string(times.cpu + 1);
      lines_.push_back({times.cpu, std::make_unique<Sensor>(SensorType::Load, name), {}, false});
    }
  }
  bool available() const { return !lines_.empty(); }
  void appendSensors(std::vector<ISensor*>& sensors) const {
    for (const Line& line : lines_) sensors.push_back(line.sensor.get());
  }
  void clear() {
    for (Line& line : lines_) line.sensor->setValue(std::nullopt);
  }

  // A share is computed over at least kMinTicks clock ticks per processor (0.2 s at
  // the kernel's fixed 100 per second), so that a second refresh right after the first keeps the
  // last value instead of replacing it with the noise of a few ticks.
  void update() {
    const std::optional<std::string> text = readFile(statPath_);
    const std::vector<sys::CpuTimes> now =
        text ? sys::parseProcStat(*text) : std::vector<sys::CpuTimes>();
    for (Line& line : lines_) {
      auto current = std::find_if(now.begin(), now.end(),
                                  [&](const sys::CpuTimes& t) { return t.cpu == line.cpu; });
      if (current == now.end()) {  // processor offline, or the file unreadable
        line.sensor->setValue(std::nullopt);
        line.hasBaseline = false;
        continue;
      }
      if (!line.hasBaseline || current->total() < line.baseline.total()) {
        line.baseline = *current;
        line.hasBaseline = true;
        continue;
      }
      // The total line counts the ticks of every processor.
      const std::uint64_t minTicks =
          line.cpu < 0 ? kMinTicks * std::max<std::uint64_t>(1, lines_.size() - 1) : kMinTicks;
      if (current->total() - line.baseline.total() < minTicks) continue;
      line.sensor->setValue(sys::cpuLoadPercent(line.baseline, *current));
      line.baseline = *current;
    }
  }

 private:
  static constexpr std::uint64_t kMinTicks = 20;
  struct Line {
    int cpu;
    std::unique_ptr<Sensor> sensor;
    sys::CpuTimes baseline;
    bool hasBaseline;
  };
  std::string statPath_;
  std::vector<Line> lines_;
};

// An item backed by sysfs files: a hwmon chip, the CPU (chip plus load meter), or the
// mainboard (no files, the board chips as sub-items).
class SysfsHardware final : public IHardware {
 public:
  SysfsHardware(HardwareType type, std::string name, std::string runtimeStatusPath)
      : type_(type), name_(std::move(name)), runtimeStatusPath_(std::move(runtimeStatusPath)) {}

  void update() override {
    if (frozen_ || isSuspended(runtimeStatusPath_)) {
      for (FileSensor& file : files_) file.sensor->setValue(std::nullopt);
      if (loadMeter_) loadMeter_->clear();
      return;
    }
    for (FileSensor& file : files_) file.sensor->setValue(readFileSensor(file));
    if (loadMeter_) loadMeter_->update();
  }
  HardwareType hardwareType() const override { return type_; }
  std::string name() const override { return name_; }
  const std::vector<IHardware*>& subHardware() const override { return childViews_; }
  const std::vector<ISensor*>& sensors() const override { return sensorViews_; }

  void addFile(FileSensor file) {
    sensorViews_.push_back(file.sensor.get());
    files_.push_back(std::move(file));
  }
  void setLoadMeter(std::unique_ptr<CpuLoadMeter> meter) {
    loadMeter_ = std::move(meter);
    loadMeter_->appendSensors(sensorViews_);
  }
  void addChild(std::unique_ptr<SysfsHardware> child) {
    childViews_.push_back(child.get());
    children_.push_back(std::move(child));
  }
  // Listed, but never read (see the drive temperature note at discovery).
  void freeze() { frozen_ = true; }

 private:
  HardwareType type_;
  std::string name_;
  std::string runtimeStatusPath_;
  bool frozen_ = false;
  std::vector<FileSensor> files_;
  std::unique_ptr<CpuLoadMeter> loadMeter_;
  std::vector<std::unique_ptr<SysfsHardware>> children_;
  std::vector<IHardware*> childViews_;
  std::vector<ISensor*> sensorViews_;
};

// An NVIDIA card bound to the proprietary driver, read through NVML while it is awake.
class NvidiaGpu final : public IHardware {
 public:
  NvidiaGpu(nvml::Library& library, std::string slot, std::string name,
            std::string runtimeStatusPath)
      : library_(library),
        slot_(std::move(slot)),
        name_(std::move(name)),
        runtimeStatusPath_(std::move(runtimeStatusPath)),
        temperature_(SensorType::Temperature, "GPU Core"),
        load_(SensorType::Load, "GPU Core"),
        fan_(SensorType::Fan, "GPU Fan"),
        sensorViews_{&temperature_, &load_, &fan_} {}
  ~NvidiaGpu() override { library_.setAwake(this, false); }

  void update() override {
    const bool awake = !isSuspended(runtimeStatusPath_);
    std::optional<nvml::Reading> reading;
    if (library_.setAwake(this, awake)) reading = library_.read(slot_);
    if (!reading) reading = nvml::Reading();  // asleep, gone, or no NVML: no values
    if (!reading->name.empty()) name_ = reading->name;
    temperature_.setValue(reading->temperature);
    load_.setValue(reading->load);
    fan_.setValue(reading->fanRpm);
  }
  HardwareType hardwareType() const override { return HardwareType::GpuNvidia; }
  std::string name() const override { return name_; }
  const std::vector<IHardware*>& subHardware() const override { return noChildren_; }
  const std::vector<ISensor*>& sensors() const override { return sensorViews_; }

 private:
  nvml::Library& library_;
  std::string slot_;
  std::string name_;
  std::string runtimeStatusPath_;
  Sensor temperature_, load_, fan_;
  std::vector<ISensor*> sensorViews_;
  std::vector<IHardware*> noChildren_;
};

class LinuxComputer final : public Computer {
 public:
  explicit LinuxComputer(Roots roots) : roots_(std::move(roots)) {}
  ~LinuxComputer() override {
    // The cards release the library before it goes.
    gpus_.clear();
  }

  void open() override {
    if (opened_) return;
    opened_ = true;
    discoverHwmon();
    discoverNvidia();
    relist();
  }
  void setCPUEnabled(bool enabled) override { cpuEnabled_ = enabled, relist(); }
  void setGPUEnabled(bool enabled) override { gpuEnabled_ = enabled, relist(); }
  void setMainboardEnabled(bool enabled) override { mainboardEnabled_ = enabled, relist(); }
  void setFanControllerEnabled(bool enabled) override { fanControllerEnabled_ = enabled; }
  const std::vector<IHardware*>& hardware() const override { return listed_; }

 private:
  std::string hwmonRoot() const { return roots_.sys + "/class/hwmon"; }

  std::string boardName() const {
    const std::string dmi = roots_.sys + "/class/dmi/id/";
    auto usable = [](const std::string& text) {
      // Firmware placeholders say nothing about the board.
      static const char* kPlaceholders[] = {"To be filled by O.E.M.", "To Be Filled By O.E.M.",
                                            "Default string", "Not Applicable",
                                            "System Product Name"};
      if (text.empty()) return false;
      for (const char* placeholder : kPlaceholders)
        if (text == placeholder) return false;
      return true;
    };
    const std::string vendor = readTrimmed(dmi + "board_vendor");
    const std::string board = readTrimmed(dmi + "board_name");
    std::string name;
    if (usable(vendor)) name = vendor;
    if (usable(board)) name += (name.empty() ? "" : " ") + board;
    if (name.empty()) name = readTrimmed(dmi + "product_name");
    return name.empty() ? "Mainboard" : name;
  }

  static std::unique_ptr<SysfsHardware> readChip(const std::string& dir, HardwareType type,
                                                 const std::string& name) {
    // Only a chip with a parent device can be runtime-suspended.
    const std::string status = dir + "/device/power/runtime_status";
    auto chip = std::make_unique<SysfsHardware>(type, name, exists(status) ? status : "");
    struct Entry {
      int kind;  // 0 temperature, 1 fan
      int index;
    };
    std::vector<Entry> entries;
    for (const std::string& file : listDirectory(dir)) {
      if (int index = sys::numberedName(file, "temp", "_input"); index >= 0)
        entries.push_back({0, index});
      else if (int fan = sys::numberedName(file, "fan", "_input"); fan >= 0)
        entries.push_back({1, fan});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      return std::make_pair(a.kind, a.index) < std::make_pair(b.kind, b.index);
    });
    for (const Entry& entry : entries) {
      const std::string base =
          dir + (entry.kind == 0 ? "/temp" : "/fan") + std::to_string(entry.index);
      std::string label = readTrimmed(base + "_label");
      if (label.empty()) label = (entry.kind == 0 ? "temp" : "fan") + std::to_string(entry.index);
      FileSensor file;
      file.path = base + "_input";
      if (entry.kind == 0) {
        file.sensor = std::make_unique<Sensor>(SensorType::Temperature, label);
        file.scale = 0.001f;  // millidegrees Celsius
        file.minValid = -55.f;
        file.maxValid = 125.f;
        if (exists(base + "_fault")) file.faultPath = base + "_fault";
      } else {
        file.sensor = std::make_unique<Sensor>(SensorType::Fan, label);
        file.minValid = 0.f;
        file.maxValid = 30000.f;  // rpm; larger numbers are stalled-fan counters
      }
      chip->addFile(std::move(file));
    }
    if (type == HardwareType::GpuAti) {
      FileSensor busy;
      busy.path = dir + "/device/gpu_busy_percent";
      if (exists(busy.path)) {
        busy.sensor = std::make_unique<Sensor>(SensorType::Load, "GPU Core");
        busy.minValid = 0.f;
        busy.maxValid = 100.f;
        chip->addFile(std::move(busy));
      }
    }
    return chip;
  }

  std::string gpuName(const std::string& deviceDir, const char* vendor) const {
    const std::string product = readTrimmed(deviceDir + "/product_name");
    if (!product.empty()) return product;
    const std::optional<std::string> uevent = readFile(deviceDir + "/uevent", 4096);
    const std::string id = uevent ? sys::ueventValue(*uevent, "PCI_ID") : std::string();
    return std::string(vendor) + " GPU" + (id.empty() ? "" : " [" + id + "]");
  }

  void discoverHwmon() {
    std::vector<std::pair<int, std::string>> chips;
    for (const std::string& entry : listDirectory(hwmonRoot())) {
      const int number = sys::numberedName(entry, "hwmon", "");
      if (number >= 0) chips.emplace_back(number, entry);
    }
    std::sort(chips.begin(), chips.end());

    const std::optional<std::string> cpuinfo = readFile(roots_.proc + "/cpuinfo", 1 << 20);
    std::string cpuName = cpuinfo ? sys::cpuModelName(*cpuinfo) : std::string();

    for (const auto& chipEntry : chips) {
      const std::string dir = hwmonRoot() + "/" + chipEntry.second;
      std::string driver = readTrimmed(dir + "/name");
      if (driver.empty()) driver = chipEntry.second;
      switch (sys::classifyHwmonChip(driver)) {
        case sys::ChipRole::Cpu:
          cpus_.push_back(readChip(dir, HardwareType::CPU, cpuName.empty() ? driver : cpuName));
          break;
        case sys::ChipRole::GpuAti:
          gpus_.push_back(readChip(dir, HardwareType::GpuAti, gpuName(dir + "/device", "AMD")));
          break;
        case sys::ChipRole::GpuNvidia:
          gpus_.push_back(
              readChip(dir, HardwareType::GpuNvidia, gpuName(dir + "/device", "NVIDIA")));
          break;
        case sys::ChipRole::Board:
          boardChips_.push_back(readChip(dir, HardwareType::SuperIO, driver));
          break;
        case sys::ChipRole::Other: {
          auto chip = readChip(dir, HardwareType::Other, driver);
          // Asking a drive for its temperature can keep it from spinning down, and
          // nothing reads these values: the drive is listed but left alone.
          if (driver == "drivetemp") chip->freeze();
          others_.push_back(std::move(chip));
          break;
        }
      }
    }

    auto meter = std::make_unique<CpuLoadMeter>(roots_.proc + "/stat");
    if (meter->available()) {
      if (cpus_.empty())
        cpus_.push_back(std::make_unique<SysfsHardware>(HardwareType::CPU,
                                                        cpuName.empty() ? "CPU" : cpuName, ""));
      cpus_.front()->setLoadMeter(std::move(meter));
    }

    auto board = std::make_unique<SysfsHardware>(HardwareType::Mainboard, boardName(), "");
    for (auto& chip : boardChips_) board->addChild(std::move(chip));
    boardChips_.clear();
    mainboard_ = std::move(board);
  }

  void discoverNvidia() {
    const std::string devices = roots_.sys + "/bus/pci/devices";
    for (const std::string& slot : listDirectory(devices)) {
      const std::string dir = devices + "/" + slot;
      if (readTrimmed(dir + "/vendor") != "0x10de") continue;
      if (readTrimmed(dir + "/class").rfind("0x03", 0) != 0) continue;  // display controllers
      const std::optional<std::string> uevent = readFile(dir + "/uevent", 4096);
      // Cards on nouveau are read through their hwmon chip instead.
      if (!uevent || sys::ueventValue(*uevent, "DRIVER") != "nvidia") continue;
      std::string pciSlot = sys::ueventValue(*uevent, "PCI_SLOT_NAME");
      if (pciSlot.empty()) pciSlot = slot;
      gpus_.push_back(std::make_unique<NvidiaGpu>(nvml_, pciSlot, gpuName(dir, "NVIDIA"),
                                                  dir + "/power/runtime_status"));
    }
  }

  void relist() {
    listed_.clear();
    if (!opened_) return;
    if (mainboardEnabled_ && mainboard_) listed_.push_back(mainboard_.get());
    if (cpuEnabled_)
      for (auto& cpu : cpus_) listed_.push_back(cpu.get());
    if (gpuEnabled_)
      for (auto& gpu : gpus_) listed_.push_back(gpu.get());
    for (auto& other : others_) listed_.push_back(other.get());
  }

  Roots roots_;
  bool opened_ = false;
  bool cpuEnabled_ = false, gpuEnabled_ = false, mainboardEnabled_ = false,
       fanControllerEnabled_ = false;
  nvml::Library nvml_;
  std::unique_ptr<SysfsHardware> mainboard_;
  std::vector<std::unique_ptr<SysfsHardware>> cpus_, others_;
  std::vector<std::unique_ptr<IHardware>> gpus_;
  std::vector<std::unique_ptr<SysfsHardware>> boardChips_;
  std::vector<IHardware*> listed_;
};

}  // namespace

std::unique_ptr<Computer> createComputer() {
  return std::make_unique<LinuxComputer>(rootsFromEnvironment());
}

}  // namespace pelmora::hw
