// The hardware model over the Linux kernel's interfaces: hwmon chips in sysfs,
// processor times in /proc/stat, the board's name from DMI, and NVIDIA cards
// through NVML. Roots come from HOST_SYS, HOST_PROC and HOST_DEV when set.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "chippolicy.h"
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

// Reads a kernel file whole, in as many reads as it takes: files of many records such as
// /proc/cpuinfo hand over whole records only, so one short read is not their end.
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

// A kernel file read at every pass, kept open between reads: sysfs and procfs make the
// value afresh for every read from offset 0, so a pass costs one pread instead of a path
// walk, an open and a close. A failed read closes it (a chip that went away answers
// ENODEV), and the next read opens the path again. A file that was removed or replaced
// (an ordinary file system: a recorded tree) has no links left and is opened afresh.
class KeptFile {
 public:
  KeptFile() = default;
  explicit KeptFile(std::string path) : m_path(std::move(path)) {}
  KeptFile(KeptFile&& other) noexcept
      : m_path(std::move(other.m_path)),
        m_fd(std::exchange(other.m_fd, -1)),
        m_capacity(other.m_capacity) {}
  KeptFile& operator=(KeptFile&& other) noexcept {
    if (this != &other) {
      close();
      m_path = std::move(other.m_path);
      m_fd = std::exchange(other.m_fd, -1);
      m_capacity = other.m_capacity;
    }
    return *this;
  }
  ~KeptFile() { close(); }

  const std::string& path() const { return m_path; }
  bool empty() const { return m_path.empty(); }

  // The file from its start, up to `limit` bytes, in one read: the kernel makes the text
  // for a read from offset 0, and a second read further on could meet a newer text. For
  // files the kernel writes as one text (sysfs attributes, /proc/stat), whose short read
  // means the end; not for files of many records such as /proc/cpuinfo (readFile).
  std::optional<std::string> read(size_t limit = 256) {
    if (m_path.empty()) return std::nullopt;
    struct stat info {};
    if (m_fd >= 0 && (::fstat(m_fd, &info) != 0 || info.st_nlink == 0)) close();
    if (m_fd < 0) {
      m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
      if (m_fd < 0) return std::nullopt;
    }
    std::string text;
    if (!m_capacity) m_capacity = std::min<size_t>(limit, 4096);
    for (;;) {
      text.resize(m_capacity);
      ssize_t got;
      do {
        got = ::pread(m_fd, &text[0], text.size(), 0);
      } while (got < 0 && errno == EINTR);
      if (got < 0) {
        close();  // e.g. EIO from a chip that did not answer, ENODEV from one that left
        return std::nullopt;
      }
      if (static_cast<size_t>(got) < m_capacity || m_capacity >= limit) {
        text.resize(static_cast<size_t>(got));
        return text;
      }
      m_capacity = std::min(limit, m_capacity * 2);  // /proc/stat on a large machine
    }
  }

 private:
  void close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }

  std::string m_path;
  int m_fd = -1;
  size_t m_capacity = 0;
};

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

// A value, label or name read once (at discovery).
std::string readTrimmed(const std::string& path) {
  const std::optional<std::string> text = KeptFile(path).read();
  return text ? std::string(sys::trim(*text)) : std::string();
}

// A device the kernel has put to sleep must not be woken by reading its sensors.
bool isSuspended(KeptFile& runtimeStatus) {
  const std::optional<std::string> text = runtimeStatus.read();
  return text && sys::trim(*text) == "suspended";
}

// One sensor file of the hwmon ABI with its unit scale and plausible range; outside
// the range are the sentinels chips use for unconnected inputs (-128, 127, 0xffff).
struct FileSensor {
  std::unique_ptr<Sensor> sensor;
  KeptFile file;
  KeptFile fault;
  float scale = 1.f;
  float minValid = 0.f;
  float maxValid = 0.f;
};

std::optional<float> readFileSensor(FileSensor& file) {
  if (!file.fault.empty()) {
    const std::optional<std::string> flag = file.fault.read();
    const std::optional<long long> fault = flag ? sys::parseInteger(*flag) : std::nullopt;
    if (fault && *fault != 0) return std::nullopt;
  }
  const std::optional<std::string> text = file.file.read();
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
  explicit CpuLoadMeter(std::string statPath) : m_stat(std::move(statPath)) {
    const std::optional<std::string> text = m_stat.read(kStatLimit);
    if (!text) return;
    for (const sys::CpuTimes& times : sys::parseProcStat(*text)) {
      const std::string name =
          times.cpu < 0 ? "CPU Total" : "CPU Core #" + std::to_string(times.cpu + 1);
      m_lines.push_back({times.cpu, std::make_unique<Sensor>(SensorType::Load, name), {}, false});
    }
  }
  bool available() const { return !m_lines.empty(); }
  void appendSensors(std::vector<ISensor*>& sensors) const {
    for (const Line& line : m_lines) sensors.push_back(line.sensor.get());
  }
  void clear() {
    for (Line& line : m_lines) line.sensor->setValue(std::nullopt);
  }

  // A share is computed over at least kMinTicks clock ticks per processor (0.2 s at
  // the kernel's fixed 100 per second), so that a second refresh right after the first keeps the
  // last value instead of replacing it with the noise of a few ticks.
  void update() {
    const std::optional<std::string> text = m_stat.read(kStatLimit);
    const std::vector<sys::CpuTimes> now =
        text ? sys::parseProcStat(*text) : std::vector<sys::CpuTimes>();
    for (Line& line : m_lines) {
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
          line.cpu < 0 ? kMinTicks * std::max<std::uint64_t>(1, m_lines.size() - 1) : kMinTicks;
      if (current->total() - line.baseline.total() < minTicks) continue;
      line.sensor->setValue(sys::cpuLoadPercent(line.baseline, *current));
      line.baseline = *current;
    }
  }

 private:
  static constexpr std::uint64_t kMinTicks = 20;
  static constexpr size_t kStatLimit = 256 * 1024;
  struct Line {
    int cpu;
    std::unique_ptr<Sensor> sensor;
    sys::CpuTimes baseline;
    bool hasBaseline;
  };
  KeptFile m_stat;
  std::vector<Line> m_lines;
};

// The query refreshes each item twice in a row; a second read would only repeat the
// first, so an item reads its files once per walk (the computer counts the walks).
class OncePerWalk {
 public:
  void follow(const std::uint64_t* walk) { m_walk = walk; }
  bool due() {
    if (!m_walk) return true;
    if (m_seen == *m_walk) return false;
    m_seen = *m_walk;
    return true;
  }

 private:
  const std::uint64_t* m_walk = nullptr;
  std::uint64_t m_seen = ~std::uint64_t(0);
};

// An item backed by sysfs files: a hwmon chip, the CPU (chip plus load meter), or the
// mainboard (no files, the board chips as sub-items). A CPU or GPU chip shows one
// temperature, chosen by the policy among its inputs; the other inputs are details.
class SysfsHardware final : public IHardware, public OncePerWalk {
 public:
  SysfsHardware(HardwareType type, std::string name, std::string runtimeStatusPath)
      : m_type(type), m_name(std::move(name)), m_runtimeStatus(std::move(runtimeStatusPath)) {}

  void update() override {
    if (!due()) return;
    if (m_frozen || isSuspended(m_runtimeStatus)) {
      clear();
      return;
    }
    for (FileSensor& file : m_files) file.sensor->setValue(readFileSensor(file));
    if (m_figure) updateFigure();
    if (m_loadMeter) m_loadMeter->update();
  }
  void updateDetails() override {
    if (m_frozen || isSuspended(m_runtimeStatus)) return;
    for (FileSensor& file : m_inputs) file.sensor->setValue(readFileSensor(file));
  }
  HardwareType hardwareType() const override { return m_type; }
  std::string name() const override { return m_name; }
  const std::vector<IHardware*>& subHardware() const override { return m_childViews; }
  const std::vector<ISensor*>& sensors() const override { return m_sensorViews; }
  const std::vector<ISensor*>& details() const override { return m_detailViews; }
  std::string choice() const override { return m_choice.reason; }
  std::string origin() const override { return m_origin; }
  void setOrigin(std::string origin) { m_origin = std::move(origin); }

  // A reading that enters the item's figures, read on every refresh.
  void addFile(FileSensor file) {
    m_sensorViews.push_back(file.sensor.get());
    m_files.push_back(std::move(file));
  }
  // A temperature input the figure is chosen from; the rest are listed only.
  void addInput(FileSensor file) {
    m_detailViews.push_back(file.sensor.get());
    m_inputs.push_back(std::move(file));
  }
  void setFigure(policy::Choice choice, const std::string& name) {
    m_choice = std::move(choice);
    m_figure = std::make_unique<Sensor>(SensorType::Temperature, name);
    m_sensorViews.insert(m_sensorViews.begin(), m_figure.get());
  }
  void setChoice(std::string reason) { m_choice.reason = std::move(reason); }
  void setLoadMeter(std::unique_ptr<CpuLoadMeter> meter) {
    m_loadMeter = std::move(meter);
    m_loadMeter->appendSensors(m_sensorViews);
  }
  std::unique_ptr<CpuLoadMeter> takeLoadMeter() { return std::move(m_loadMeter); }
  void addChild(std::unique_ptr<SysfsHardware> child) {
    m_childViews.push_back(child.get());
    m_children.push_back(std::move(child));
  }
  // Listed, but never read (see the drive temperature note at discovery).
  void freeze() { m_frozen = true; }

 private:
  void clear() {
    for (FileSensor& file : m_files) file.sensor->setValue(std::nullopt);
    for (FileSensor& file : m_inputs) file.sensor->setValue(std::nullopt);
    if (m_figure) m_figure->setValue(std::nullopt);
    if (m_loadMeter) m_loadMeter->clear();
  }

  // Reads only the inputs the choice needs: for "the first that has a reading",
  // the preferred one alone as long as it answers.
  void updateFigure() {
    std::vector<std::optional<float>> values(m_inputs.size());
    for (size_t index : m_choice.inputs) {
      if (index >= m_inputs.size()) continue;
      values[index] = readFileSensor(m_inputs[index]);
      m_inputs[index].sensor->setValue(values[index]);
      if (m_choice.combine == policy::Combine::First && policy::combine(m_choice, values)) break;
    }
    m_figure->setValue(policy::combine(m_choice, values));
  }

  HardwareType m_type;
  std::string m_name;
  KeptFile m_runtimeStatus;
  std::string m_origin;
  bool m_frozen = false;
  std::vector<FileSensor> m_files;
  std::vector<FileSensor> m_inputs;
  policy::Choice m_choice;
  std::unique_ptr<Sensor> m_figure;
  std::unique_ptr<CpuLoadMeter> m_loadMeter;
  std::vector<std::unique_ptr<SysfsHardware>> m_children;
  std::vector<IHardware*> m_childViews;
  std::vector<ISensor*> m_sensorViews;
  std::vector<ISensor*> m_detailViews;
};

// An NVIDIA card bound to the proprietary driver, read through NVML while it is awake.
class NvidiaGpu final : public IHardware, public OncePerWalk {
 public:
  NvidiaGpu(nvml::Library& library, std::string slot, std::string name,
            std::string runtimeStatusPath)
      : m_library(library),
        m_slot(std::move(slot)),
        m_name(std::move(name)),
        m_runtimeStatus(std::move(runtimeStatusPath)),
        m_temperature(SensorType::Temperature, "GPU Core"),
        m_load(SensorType::Load, "GPU Core"),
        m_fan(SensorType::Fan, "GPU Fan"),
        m_sensorViews{&m_temperature, &m_load, &m_fan} {}
  ~NvidiaGpu() override { m_library.setAwake(this, false); }

  void update() override {
    if (!due()) return;
    const bool awake = !isSuspended(m_runtimeStatus);
    std::optional<nvml::Reading> reading;
    if (m_library.setAwake(this, awake)) reading = m_library.read(m_slot);
    if (!reading) reading = nvml::Reading();  // asleep, gone, or no NVML: no values
    if (!reading->name.empty()) m_name = reading->name;
    m_temperature.setValue(reading->temperature);
    m_load.setValue(reading->load);
    m_fan.setValue(reading->fanRpm);
  }
  HardwareType hardwareType() const override { return HardwareType::GpuNvidia; }
  std::string name() const override { return m_name; }
  const std::vector<IHardware*>& subHardware() const override { return m_noChildren; }
  const std::vector<ISensor*>& sensors() const override { return m_sensorViews; }

 private:
  nvml::Library& m_library;
  std::string m_slot;
  std::string m_name;
  KeptFile m_runtimeStatus;
  Sensor m_temperature, m_load, m_fan;
  std::vector<ISensor*> m_sensorViews;
  std::vector<IHardware*> m_noChildren;
};

// A hwmon chip's inputs as discovery finds them, in hwmon order.
struct ChipInputs {
  struct Input {
    int index;
    std::string label;
  };
  std::vector<Input> temperatures, fans;
  std::vector<std::string> voltageLabels;

  std::vector<std::string> temperatureLabels() const {
    std::vector<std::string> labels;
    for (const Input& input : temperatures) labels.push_back(input.label);
    return labels;
  }
};

ChipInputs scanChip(const std::string& dir, bool withVoltages) {
  ChipInputs chip;
  std::vector<std::pair<int, std::string>> temperatures, fans, voltages;
  for (const std::string& file : listDirectory(dir)) {
    if (int index = sys::numberedName(file, "temp", "_input"); index >= 0)
      temperatures.emplace_back(index, "temp");
    else if (int fan = sys::numberedName(file, "fan", "_input"); fan >= 0)
      fans.emplace_back(fan, "fan");
    else if (int in = sys::numberedName(file, "in", "_label"); in >= 0 && withVoltages)
      voltages.emplace_back(in, "in");
  }
  auto labelled = [&](std::vector<std::pair<int, std::string>>& found,
                      std::vector<ChipInputs::Input>& out) {
    std::sort(found.begin(), found.end());
    for (const auto& [index, prefix] : found) {
      const std::string base = dir + "/" + prefix + std::to_string(index);
      std::string label = readTrimmed(base + "_label");
      // A chip without label files (or with an empty one) gets the kernel's name.
      if (label.empty()) label = prefix + std::to_string(index);
      out.push_back({index, label});
    }
  };
  labelled(temperatures, chip.temperatures);
  labelled(fans, chip.fans);
  std::vector<ChipInputs::Input> volts;
  labelled(voltages, volts);
  for (const ChipInputs::Input& input : volts) chip.voltageLabels.push_back(input.label);
  return chip;
}

FileSensor temperatureFile(const std::string& dir, const ChipInputs::Input& input) {
  FileSensor file;
  const std::string base = dir + "/temp" + std::to_string(input.index);
  file.file = KeptFile(base + "_input");
  file.sensor = std::make_unique<Sensor>(SensorType::Temperature, input.label);
  file.scale = 0.001f;  // millidegrees Celsius
  file.minValid = -55.f;
  file.maxValid = 125.f;
  if (exists(base + "_fault")) file.fault = KeptFile(base + "_fault");
  return file;
}

FileSensor fanFile(const std::string& dir, const ChipInputs::Input& input) {
  FileSensor file;
  file.file = KeptFile(dir + "/fan" + std::to_string(input.index) + "_input");
  file.sensor = std::make_unique<Sensor>(SensorType::Fan, input.label);
  file.minValid = 0.f;
  file.maxValid = 30000.f;  // rpm; larger numbers are stalled-fan counters
  return file;
}

std::string figureName(const policy::Choice& choice, const std::vector<std::string>& labels) {
  if (choice.inputs.empty()) return "Temperature";
  switch (choice.combine) {
    case policy::Combine::Max:
      return "Core Max";
    case policy::Combine::Mean:
      return "Mean";
    case policy::Combine::First:
      break;
  }
  return labels[choice.inputs.front()];
}

class LinuxComputer final : public Computer {
 public:
  explicit LinuxComputer(Roots roots) : m_roots(std::move(roots)) {}
  ~LinuxComputer() override {
    // The cards release the library before it goes.
    m_gpus.clear();
  }

  void open() override {
    if (m_opened) return;
    m_opened = true;
    m_signature = signature();
    m_lastScan = std::chrono::steady_clock::now();
    discover();
  }
  void setCPUEnabled(bool enabled) override { m_cpuEnabled = enabled, relist(); }
  void setGPUEnabled(bool enabled) override { m_gpuEnabled = enabled, relist(); }
  void setMainboardEnabled(bool enabled) override { m_mainboardEnabled = enabled, relist(); }
  void setFanControllerEnabled(bool enabled) override { m_fanControllerEnabled = enabled; }
  const std::vector<IHardware*>& hardware() const override { return m_listed; }
  const std::vector<IHardware*>& unusedHardware() const override { return m_unusedViews; }

  // Chips come and go with modules loaded late, driver rebinds, external GPUs and
  // resumes. A look at the directory listings every few seconds notices it; only
  // then is the model built again.
  void refresh() override {
    ++m_walk;
    if (!m_opened) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastScan < kRescanInterval) return;
    m_lastScan = now;
    std::string current = signature();
    if (current == m_signature) return;
    m_signature = std::move(current);
    discover();
  }

 private:
  static constexpr std::chrono::seconds kRescanInterval{3};

  std::string hwmonRoot() const { return m_roots.sys + "/class/hwmon"; }

  // What the machine's chips and cards are, as cheaply as it can be told: directory
  // listings and the links of the hwmon entries (a rebind changes the target).
  std::string signature() const {
    std::string text;
    for (const std::string& entry : listDirectory(hwmonRoot())) {
      char target[512];
      const ssize_t length =
          ::readlink((hwmonRoot() + "/" + entry).c_str(), target, sizeof target - 1);
      text += entry + '>' + (length > 0 ? std::string(target, length) : std::string()) + '\n';
    }
    for (const char* folder : {"/bus/pci/devices", "/bus/pci/drivers/nvidia"}) {
      text += '|';
      for (const std::string& entry : listDirectory(m_roots.sys + folder)) text += entry + ',';
    }
    return text;
  }

  std::string boardName() const {
    const std::string dmi = m_roots.sys + "/class/dmi/id/";
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

  std::string gpuName(const std::string& deviceDir, const char* vendor) const {
    const std::string product = readTrimmed(deviceDir + "/product_name");
    if (!product.empty()) return product;
    const std::optional<std::string> uevent = readFile(deviceDir + "/uevent", 4096);
    const std::string id = uevent ? sys::ueventValue(*uevent, "PCI_ID") : std::string();
    return std::string(vendor) + " GPU" + (id.empty() ? "" : " [" + id + "]");
  }

  static std::string runtimeStatus(const std::string& dir) {
    // Only a chip with a parent device can be runtime-suspended.
    const std::string status = dir + "/device/power/runtime_status";
    return exists(status) ? status : std::string();
  }

  struct Gpu {
    std::unique_ptr<IHardware> item;
    bool integrated;
  };

  void discover() {
    std::unique_ptr<CpuLoadMeter> meter;
    if (!m_cpus.empty()) meter = m_cpus.front()->takeLoadMeter();  // keeps its baseline
    m_listed.clear();
    m_cpus.clear();
    m_gpus.clear();
    m_unused.clear();
    m_unusedViews.clear();
    m_mainboard.reset();

    std::vector<Gpu> gpus;
    discoverHwmon(gpus, std::move(meter));
    discoverNvidia(gpus);
    // A hybrid laptop's working discrete card, not its idle integrated one; while
    // the discrete card sleeps it gives no values and the integrated one shows.
    std::stable_partition(gpus.begin(), gpus.end(), [](const Gpu& gpu) { return !gpu.integrated; });
    for (Gpu& gpu : gpus) m_gpus.push_back(std::move(gpu.item));
    relist();
  }

  void discoverHwmon(std::vector<Gpu>& gpus, std::unique_ptr<CpuLoadMeter> meter) {
    std::vector<std::pair<int, std::string>> chips;
    for (const std::string& entry : listDirectory(hwmonRoot())) {
      const int number = sys::numberedName(entry, "hwmon", "");
      if (number >= 0) chips.emplace_back(number, entry);
    }
    std::sort(chips.begin(), chips.end());

    const std::optional<std::string> cpuinfo = readFile(m_roots.proc + "/cpuinfo", 1 << 20);
    const std::string cpuName = cpuinfo ? sys::cpuModelName(*cpuinfo) : std::string();

    std::vector<std::pair<policy::BoardGroup, std::unique_ptr<SysfsHardware>>> boardChips;
    for (const auto& chipEntry : chips) {
      const std::string dir = hwmonRoot() + "/" + chipEntry.second;
      std::string driver = readTrimmed(dir + "/name");
      if (driver.empty()) driver = chipEntry.second;
      const policy::ChipClass chipClass = policy::classifyChip(driver);
      const ChipInputs inputs = scanChip(dir, chipClass.role == policy::ChipRole::Gpu);
      const std::string origin = driver + ", " + chipEntry.second;
      switch (chipClass.role) {
        case policy::ChipRole::Cpu: {
          auto chip = std::make_unique<SysfsHardware>(
              HardwareType::CPU, cpuName.empty() ? driver : cpuName, runtimeStatus(dir));
          addTemperatureChoice(*chip, dir, inputs,
                               policy::chooseCpuTemperature(driver, inputs.temperatureLabels()));
          for (const auto& fan : inputs.fans) chip->addFile(fanFile(dir, fan));
          chip->setOrigin(origin);
          chip->follow(&m_walk);
          m_cpus.push_back(std::move(chip));
          break;
        }
        case policy::ChipRole::Gpu:
          gpus.push_back(readGpu(dir, driver, inputs, origin));
          break;
        case policy::ChipRole::Board: {
          auto chip =
              std::make_unique<SysfsHardware>(HardwareType::SuperIO, driver, runtimeStatus(dir));
          policy::Choice temperature = policy::chooseBoardTemperature(inputs.temperatureLabels());
          const std::string reason = std::string(chipClass.kind) +
                                     ": the mean of its turning fans; temperature " +
                                     temperature.reason;
          if (!inputs.temperatures.empty())
            addTemperatureChoice(*chip, dir, inputs, std::move(temperature));
          for (const auto& fan : inputs.fans) {
            if (policy::isBoardFan(fan.label))
              chip->addFile(fanFile(dir, fan));
            else
              chip->addInput(fanFile(dir, fan));
          }
          chip->setChoice(reason);
          chip->setOrigin(origin);
          chip->follow(&m_walk);
          boardChips.emplace_back(chipClass.group, std::move(chip));
          break;
        }
        case policy::ChipRole::Unused: {
          auto chip =
              std::make_unique<SysfsHardware>(HardwareType::Other, driver, runtimeStatus(dir));
          for (const auto& temperature : inputs.temperatures)
            chip->addFile(temperatureFile(dir, temperature));
          for (const auto& fan : inputs.fans) chip->addFile(fanFile(dir, fan));
          chip->setChoice("supplies none of the figures");
          chip->setOrigin(origin);
          // Asking a drive for its temperature can keep it from spinning down: the
          // drive is listed but left alone even by the dump tool.
          if (driver == "drivetemp") chip->freeze();
          m_unusedViews.push_back(chip.get());
          m_unused.push_back(std::move(chip));
          break;
        }
      }
    }

    if (!meter) {
      meter = std::make_unique<CpuLoadMeter>(m_roots.proc + "/stat");
      if (!meter->available()) meter.reset();
    }
    if (meter) {
      if (m_cpus.empty()) {
        m_cpus.push_back(std::make_unique<SysfsHardware>(HardwareType::CPU,
                                                         cpuName.empty() ? "CPU" : cpuName, ""));
        m_cpus.back()->follow(&m_walk);
      }
      m_cpus.front()->setLoadMeter(std::move(meter));
    }

    // Super-I/O chips first, then embedded controllers and firmware, each group in
    // hwmon order: the fan figure must not depend on the order the kernel probed them.
    std::stable_sort(boardChips.begin(), boardChips.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    auto board = std::make_unique<SysfsHardware>(HardwareType::Mainboard, boardName(), "");
    for (auto& chip : boardChips) board->addChild(std::move(chip.second));
    m_mainboard = std::move(board);
  }

  static void addTemperatureChoice(SysfsHardware& chip, const std::string& dir,
                                   const ChipInputs& inputs, policy::Choice choice) {
    const std::vector<std::string> labels = inputs.temperatureLabels();
    for (const auto& temperature : inputs.temperatures)
      chip.addInput(temperatureFile(dir, temperature));
    const std::string name = figureName(choice, labels);
    chip.setFigure(std::move(choice), name);
  }

  Gpu readGpu(const std::string& dir, const std::string& driver, const ChipInputs& inputs,
              const std::string& origin) {
    const bool amd = driver == "amdgpu" || driver == "radeon";
    const bool intel = driver == "i915" || driver == "xe";
    const HardwareType type = amd     ? HardwareType::GpuAti
                              : intel ? HardwareType::GpuIntel
                                      : HardwareType::GpuNvidia;
    const std::string device = dir + "/device";
    auto chip = std::make_unique<SysfsHardware>(type,
                                                gpuName(device, amd     ? "AMD"
                                                                : intel ? "Intel"
                                                                        : "NVIDIA"),
                                                runtimeStatus(dir));
    addTemperatureChoice(*chip, dir, inputs,
                         policy::chooseGpuTemperature(driver, inputs.temperatureLabels()));
    for (const auto& fan : inputs.fans) chip->addFile(fanFile(dir, fan));
    chip->setOrigin(origin);
    chip->follow(&m_walk);
    if (driver == "amdgpu") {
      FileSensor busy;
      busy.file = KeptFile(device + "/gpu_busy_percent");
      if (exists(busy.file.path())) {
        busy.sensor = std::make_unique<Sensor>(SensorType::Load, "GPU Core");
        busy.minValid = 0.f;
        busy.maxValid = 100.f;
        chip->addFile(std::move(busy));
      }
    }
    const std::optional<std::string> uevent = readFile(device + "/uevent", 4096);
    const std::string slot = uevent ? sys::ueventValue(*uevent, "PCI_SLOT_NAME") : std::string();
    return {std::move(chip), policy::isIntegratedGpu(driver, inputs.voltageLabels, slot)};
  }

  void discoverNvidia(std::vector<Gpu>& gpus) {
    const std::string devices = m_roots.sys + "/bus/pci/devices";
    for (const std::string& slot : listDirectory(devices)) {
      const std::string dir = devices + "/" + slot;
      if (readTrimmed(dir + "/vendor") != "0x10de") continue;
      if (readTrimmed(dir + "/class").rfind("0x03", 0) != 0) continue;  // display controllers
      const std::optional<std::string> uevent = readFile(dir + "/uevent", 4096);
      // Cards on nouveau are read through their hwmon chip instead.
      if (!uevent || sys::ueventValue(*uevent, "DRIVER") != "nvidia") continue;
      std::string pciSlot = sys::ueventValue(*uevent, "PCI_SLOT_NAME");
      if (pciSlot.empty()) pciSlot = slot;
      auto card = std::make_unique<NvidiaGpu>(m_nvml, pciSlot, gpuName(dir, "NVIDIA"),
                                              dir + "/power/runtime_status");
      card->follow(&m_walk);
      gpus.push_back({std::move(card), false});
    }
  }

  void relist() {
    m_listed.clear();
    if (!m_opened) return;
    if (m_mainboardEnabled && m_mainboard) m_listed.push_back(m_mainboard.get());
    if (m_cpuEnabled)
      for (auto& cpu : m_cpus) m_listed.push_back(cpu.get());
    if (m_gpuEnabled)
      for (auto& gpu : m_gpus) m_listed.push_back(gpu.get());
  }

  Roots m_roots;
  bool m_opened = false;
  bool m_cpuEnabled = false, m_gpuEnabled = false, m_mainboardEnabled = false,
       m_fanControllerEnabled = false;
  std::string m_signature;
  std::chrono::steady_clock::time_point m_lastScan;
  std::uint64_t m_walk = 0;
  nvml::Library m_nvml;
  std::unique_ptr<SysfsHardware> m_mainboard;
  std::vector<std::unique_ptr<SysfsHardware>> m_cpus, m_unused;
  std::vector<std::unique_ptr<IHardware>> m_gpus;
  std::vector<IHardware*> m_listed, m_unusedViews;
};

}  // namespace

}  // namespace pelmora::hw

namespace pelmora::platform {

std::unique_ptr<hw::Computer> createComputer() {
  return std::make_unique<hw::LinuxComputer>(hw::rootsFromEnvironment());
}

}  // namespace pelmora::platform
