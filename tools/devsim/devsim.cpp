// devsim: display devices simulated behind hidapi's C interface.
//
// Put in front of the real library with LD_PRELOAD, or linked into a test in its place.
// The devices come from the file named by STELVOX_DEVSIM_CONFIG, which is read again
// whenever it changes, so devices arrive and depart while a program runs. See README.md.
#include <dlfcn.h>
#include <fcntl.h>
#include <hidapi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hidprotocol.h"

using Clock = std::chrono::steady_clock;

namespace {

struct SimDevice {
  std::string path;
  unsigned short vendorId = hidreport::kVendorId;
  unsigned short productId = hidreport::kProductId;
  std::string serial;
  bool hasSerial = true;
  std::string product = "Stelvox display (simulated)";
  int interfaceNumber = 2;
  hidreport::Identity identity;
  bool failOpen = false, failWrite = false, failRead = false;
  bool silent = false, silentFrames = false, badReport = false, reject = false;
  int delayMs = 0;
  int writeDelayMs = 0;
};

struct PendingReply {
  hidreport::Buffer bytes;
  Clock::time_point readyAt;
};

}  // namespace

struct hid_device_ {
  std::string path;
  bool nonBlocking = false;
  std::deque<PendingReply> replies;
  std::wstring error;
  hid_device_info info{};
  long long frames = 0;
};

namespace {

// The state is never destroyed: a program may leave a thread inside a call when it exits.
std::mutex& g_mutex = *new std::mutex;
std::map<std::string, SimDevice>& g_devices = *new std::map<std::string, SimDevice>;
std::set<hid_device*>& g_handles = *new std::set<hid_device*>;
std::wstring& g_globalError = *new std::wstring;
struct ConfigStamp {
  std::string path;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  long long mtimeNs = -1;
  bool operator==(const ConfigStamp& o) const {
    return path == o.path && dev == o.dev && ino == o.ino && size == o.size && mtimeNs == o.mtimeNs;
  }
};
ConfigStamp& g_stamp = *new ConfigStamp;
// What each display shows now, for the screen print.
struct Shown {
  hidreport::FrameContent content;
  bool any = false;
};
std::map<std::string, Shown>& g_shown = *new std::map<std::string, Shown>;

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// STELVOX_DEVSIM_FRAMES=count: the simulator runs inside the measured program, so for
// overhead figures it logs only the first frame of each handle, counts the rest for the
// close line, and looks at its device file at most twice a second.
bool countingFrames() {
  static const bool counting = env("STELVOX_DEVSIM_FRAMES") == "count";
  return counting;
}

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string hex(const std::uint8_t* bytes, std::size_t count) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(count * 2);
  for (std::size_t i = 0; i < count; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 0x0F];
  }
  return text;
}

// One line of the frame log; each line is written with a single append.
void logLine(const std::string& path, const std::string& event, const std::string& fields = {}) {
  const std::string logPath = env("STELVOX_DEVSIM_LOG");
  if (logPath.empty()) return;
  std::string line = std::to_string(nowMs()) + " " + path + " " + event;
  if (!fields.empty()) line += " " + fields;
  line += "\n";
  const int fd = ::open(logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (::write(fd, line.data(), line.size()) < 0) {
    // Nothing sensible to do: the log is a diagnostic aid.
  }
  ::close(fd);
}

void complain(const std::string& text) { std::fprintf(stderr, "devsim: %s\n", text.c_str()); }

std::uint8_t parseByte(const std::string& text, bool* ok) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 10);
  *ok = *ok && end != text.c_str() && *end == '\0' && value <= 255;
  return static_cast<std::uint8_t>(value);
}

bool parseVersion(const std::string& text, std::uint8_t* major, std::uint8_t* minor) {
  const std::size_t dot = text.find('.');
  if (dot == std::string::npos) return false;
  bool ok = true;
  *major = parseByte(text.substr(0, dot), &ok);
  *minor = parseByte(text.substr(dot + 1), &ok);
  return ok;
}

bool parseHex16(const std::string& text, unsigned short* value) {
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(text.c_str(), &end, 16);
  if (text.empty() || *end != '\0' || parsed > 0xFFFF) return false;
  *value = static_cast<unsigned short>(parsed);
  return true;
}

void defaultIdentifier(const std::string& path, std::array<std::uint8_t, 12>* id) {
  std::uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : path) hash = (hash ^ c) * 1099511628211ull;
  for (std::size_t i = 0; i < id->size(); ++i) {
    (*id)[i] = static_cast<std::uint8_t>(hash >> ((i % 8) * 8));
    if (i == 7) hash = hash * 6364136223846793005ull + 1442695040888963407ull;
  }
}

bool parseDeviceLine(const std::string& line, int number, SimDevice* device) {
  std::istringstream words(line);
  words >> device->path;
  device->identity.hardwareMajor = 1;
  device->identity.firmwareMajor = 1;
  defaultIdentifier(device->path, &device->identity.identifier);
  device->serial = "SIM-" + std::to_string(number);
  std::string word;
  while (words >> word) {
    const std::size_t equals = word.find('=');
    const std::string key = word.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : word.substr(equals + 1);
    bool ok = true;
    if (key == "vid") {
      ok = parseHex16(value, &device->vendorId);
    } else if (key == "pid") {
      ok = parseHex16(value, &device->productId);
    } else if (key == "serial") {
      device->hasSerial = value != "none";
      device->serial = value;
    } else if (key == "interface") {
      char* end = nullptr;
      device->interfaceNumber = int(std::strtol(value.c_str(), &end, 10));
      ok = !value.empty() && *end == '\0';
    } else if (key == "hw") {
      ok = parseVersion(value, &device->identity.hardwareMajor, &device->identity.hardwareMinor);
    } else if (key == "fw") {
      ok = parseVersion(value, &device->identity.firmwareMajor, &device->identity.firmwareMinor);
    } else if (key == "uuid") {
      ok = value.size() == 24 &&
           value.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
      for (std::size_t i = 0; ok && i < 12; ++i)
        device->identity.identifier[i] =
            static_cast<std::uint8_t>(std::strtoul(value.substr(i * 2, 2).c_str(), nullptr, 16));
    } else if (key == "delay") {
      char* end = nullptr;
      device->delayMs = int(std::strtol(value.c_str(), &end, 10));
      ok = !value.empty() && *end == '\0' && device->delayMs >= 0;
    } else if (key == "write-delay") {
      char* end = nullptr;
      device->writeDelayMs = int(std::strtol(value.c_str(), &end, 10));
      ok = !value.empty() && *end == '\0' && device->writeDelayMs >= 0;
    } else if (key == "fail") {
      std::istringstream modes(value);
      std::string mode;
      while (ok && std::getline(modes, mode, ',')) {
        if (mode == "open")
          device->failOpen = true;
        else if (mode == "write")
          device->failWrite = true;
        else if (mode == "read")
          device->failRead = true;
        else if (mode == "silent")
          device->silent = true;
        else if (mode == "silent-frames")
          device->silentFrames = true;
        else if (mode == "bad-report")
          device->badReport = true;
        else if (mode == "reject")
          device->reject = true;
        else
          ok = false;
      }
    } else {
      ok = false;
    }
    if (!ok) {
      complain("config line " + std::to_string(number) + ": cannot use \"" + word +
               "\"; line skipped");
      return false;
    }
  }
  return true;
}

// Called with g_mutex held. Reads the configuration again when the file changed.
void reloadIfChanged() {
  if (countingFrames()) {
    static Clock::time_point nextLook;
    const Clock::time_point now = Clock::now();
    if (now < nextLook) return;
    nextLook = now + std::chrono::milliseconds(500);
  }
  ConfigStamp stamp;
  stamp.path = env("STELVOX_DEVSIM_CONFIG");
  struct stat info {};
  if (!stamp.path.empty() && ::stat(stamp.path.c_str(), &info) == 0) {
    stamp.dev = info.st_dev;
    stamp.ino = info.st_ino;
    stamp.size = info.st_size;
    stamp.mtimeNs = (long long)info.st_mtim.tv_sec * 1000000000ll + info.st_mtim.tv_nsec;
  }
  if (stamp == g_stamp) return;
  g_stamp = stamp;

  std::map<std::string, SimDevice> devices;
  std::ifstream file(stamp.path);
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    const std::size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    SimDevice device;
    if (parseDeviceLine(line, number, &device)) devices[device.path] = device;
  }
  for (const auto& entry : g_devices)
    if (!devices.count(entry.first)) {
      logLine(entry.first, "depart");
      g_shown.erase(entry.first);
    }
  for (const auto& entry : devices)
    if (!g_devices.count(entry.first)) logLine(entry.first, "arrive");
  g_devices.swap(devices);
}

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

wchar_t* wideCopy(const std::string& text) {
  const std::wstring wide = widen(text);
  auto* copy = static_cast<wchar_t*>(std::calloc(wide.size() + 1, sizeof(wchar_t)));
  std::wmemcpy(copy, wide.c_str(), wide.size());
  return copy;
}

void fillInfo(const SimDevice& device, hid_device_info* info) {
  info->path = strdup(device.path.c_str());
  info->vendor_id = device.vendorId;
  info->product_id = device.productId;
  info->serial_number = device.hasSerial ? wideCopy(device.serial) : nullptr;
  info->release_number = 0x0100;
  info->manufacturer_string = wideCopy("Stelvox");
  info->product_string = wideCopy(device.product);
  info->usage_page = 0xFF00;
  info->usage = 0x01;
  info->interface_number = device.interfaceNumber;
  info->next = nullptr;
  info->bus_type = HID_API_BUS_USB;
}

void freeInfoStrings(hid_device_info* info) {
  std::free(info->path);
  std::free(info->serial_number);
  std::free(info->manufacturer_string);
  std::free(info->product_string);
}

// Entries of enumerations we made, told apart from those of the real library.
std::set<hid_device_info*>& g_ourEntries = *new std::set<hid_device_info*>;

template <typename F>
F realFunction(const char* name) {
  if (env("STELVOX_DEVSIM_PASSTHROUGH") != "1") return nullptr;
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

const char* itemName(std::uint8_t item) {
  switch (item) {
    case hidreport::CPU_TEMPERATURE:
      return "CPU temperature";
    case hidreport::CPU_USAGE_RATE:
      return "CPU usage";
    case hidreport::GPU_TEMPERATURE:
      return "GPU temperature";
    case hidreport::GPU_USAGE_RATE:
      return "GPU usage";
    case hidreport::FAN_RPM:
      return "Fan speed";
    default:
      return nullptr;
  }
}

std::string shownText(const hidreport::FrameContent& c) {
  const char* name = itemName(c.item);
  if (!name) return "(blank)";
  const char* degrees = c.unit ? "\xC2\xB0"
                                 "F"
                               : "\xC2\xB0"
                                 "C";
  std::string value;
  switch (c.item) {
    case hidreport::CPU_TEMPERATURE:
      value = std::to_string(c.values.cpuTemperature) + " " + degrees;
      break;
    case hidreport::CPU_USAGE_RATE:
      value = std::to_string(c.values.cpuUsageRate) + " %";
      break;
    case hidreport::GPU_TEMPERATURE:
      value = std::to_string(c.values.gpuTemperature) + " " + degrees;
      break;
    case hidreport::GPU_USAGE_RATE:
      value = std::to_string(c.values.gpuUsageRate) + " %";
      break;
    default:
      value = std::to_string(c.values.fanRpm) + " rpm";
      break;
  }
  char line[128];
  std::snprintf(line, sizeof line, "%-16s %10s%s", name, value.c_str(), c.alarm ? "  ALARM" : "");
  return line;
}

// Called with g_mutex held after a frame: what every display shows now.
void printScreens(const std::string& changedPath, bool changed) {
  const std::string target = env("STELVOX_DEVSIM_SCREEN");
  if (target.empty()) return;
  if (target == "-") {
    if (!changed) return;
    const Shown& shown = g_shown[changedPath];
    std::fprintf(stderr, "devsim: %s shows %s\n", changedPath.c_str(),
                 shownText(shown.content).c_str());
    return;
  }
  std::string text = "devsim displays at " + std::to_string(nowMs()) + " ms\n";
  for (const auto& entry : g_devices) {
    const auto shown = g_shown.find(entry.first);
    text += entry.first + "  [" + (entry.second.hasSerial ? entry.second.serial : "-") + "]  " +
            (shown == g_shown.end() || !shown->second.any ? "(no frame yet)"
                                                          : shownText(shown->second.content)) +
            "\n";
  }
  const std::string temporary = target + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
  ::close(fd);
  if (written) ::rename(temporary.c_str(), target.c_str());
}

bool isOurs(hid_device* dev) { return g_handles.count(dev) != 0; }

void setError(hid_device* dev, const std::string& text) {
  if (dev)
    dev->error = widen(text);
  else
    g_globalError = widen(text);
}

}  // namespace

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void) {
  if (auto real = realFunction<int (*)(void)>("hid_init")) return real();
  return 0;
}

int HID_API_EXPORT HID_API_CALL hid_exit(void) {
  if (auto real = realFunction<int (*)(void)>("hid_exit")) return real();
  return 0;
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_enumerate(unsigned short vendor_id,
                                                                  unsigned short product_id) {
  hid_device_info* head = nullptr;
  hid_device_info** tail = &head;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    reloadIfChanged();
    for (const auto& entry : g_devices) {
      const SimDevice& device = entry.second;
      if ((vendor_id && vendor_id != device.vendorId) ||
          (product_id && product_id != device.productId))
        continue;
      auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
      fillInfo(device, info);
      g_ourEntries.insert(info);
      *tail = info;
      tail = &info->next;
    }
  }
  using Enumerate = hid_device_info* (*)(unsigned short, unsigned short);
  if (auto real = realFunction<Enumerate>("hid_enumerate")) *tail = real(vendor_id, product_id);
  return head;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info* devs) {
  std::unique_lock<std::mutex> lock(g_mutex);
  while (devs && g_ourEntries.count(devs)) {
    hid_device_info* next = devs->next;
    g_ourEntries.erase(devs);
    freeInfoStrings(devs);
    std::free(devs);
    devs = next;
  }
  lock.unlock();
  // What is left came from the real library, which appended it whole.
  if (devs)
    if (auto real = realFunction<void (*)(hid_device_info*)>("hid_free_enumeration")) real(devs);
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open_path(const char* path) {
  if (!path) return nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    reloadIfChanged();
    const auto found = g_devices.find(path);
    if (found != g_devices.end()) {
      if (found->second.failOpen) {
        setError(nullptr, "simulated open failure");
        logLine(path, "open-fail");
        return nullptr;
      }
      auto* handle = new hid_device_();
      handle->path = path;
      fillInfo(found->second, &handle->info);
      g_handles.insert(handle);
      logLine(path, "open");
      return handle;
    }
  }
  if (auto real = realFunction<hid_device* (*)(const char*)>("hid_open_path")) return real(path);
  setError(nullptr, std::string("no such device: ") + path);
  return nullptr;
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open(unsigned short vendor_id,
                                                 unsigned short product_id,
                                                 const wchar_t* serial_number) {
  std::string path;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    reloadIfChanged();
    for (const auto& entry : g_devices) {
      const SimDevice& d = entry.second;
      if (d.vendorId == vendor_id && d.productId == product_id &&
          (!serial_number || (d.hasSerial && widen(d.serial) == serial_number))) {
        path = d.path;
        break;
      }
    }
  }
  if (!path.empty()) return hid_open_path(path.c_str());
  using Open = hid_device* (*)(unsigned short, unsigned short, const wchar_t*);
  if (auto real = realFunction<Open>("hid_open")) return real(vendor_id, product_id, serial_number);
  return nullptr;
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device* dev, const unsigned char* data,
                                          size_t length) {
  std::unique_lock<std::mutex> lock(g_mutex);
  if (!isOurs(dev)) {
    lock.unlock();
    using Write = int (*)(hid_device*, const unsigned char*, size_t);
    if (auto real = realFunction<Write>("hid_write")) return real(dev, data, length);
    return -1;
  }
  reloadIfChanged();
  auto found = g_devices.find(dev->path);
  if (found != g_devices.end() && found->second.writeDelayMs > 0) {
    // A device that stalls the write: the caller blocks, as in write(2) on a hidraw node.
    const auto until = Clock::now() + std::chrono::milliseconds(found->second.writeDelayMs);
    lock.unlock();
    std::this_thread::sleep_until(until);
    lock.lock();
    reloadIfChanged();
    found = g_devices.find(dev->path);
  }
  if (found == g_devices.end()) {
    setError(dev, "device disconnected");
    logLine(dev->path, "write-fail", "reason=departed");
    return -1;
  }
  const SimDevice& device = found->second;
  if (device.failWrite || !data || length == 0) {
    setError(dev, "simulated write failure");
    logLine(dev->path, "write-fail", "reason=simulated");
    return -1;
  }
  hidreport::Buffer report{};
  std::memcpy(report.data(), data, std::min(length, report.size()));
  const Clock::time_point readyAt = Clock::now() + std::chrono::milliseconds(device.delayMs);

  if (report[0] == hidreport::kIdentifyRequestId) {
    std::string answer = "reply=identity";
    if (device.silent) {
      answer = "reply=none";
    } else {
      hidreport::Buffer reply = hidreport::identifyReply(device.identity);
      if (device.badReport) {
        reply[0] = hidreport::kIdentifyReplyId + 1;
        answer = "reply=bad-report";
      }
      dev->replies.push_back({reply, readyAt});
    }
    logLine(dev->path, "identify", answer);
  } else if (report[0] == hidreport::kDataFrameId) {
    hidreport::FrameContent content;
    hidreport::parseDataFrame(report.data(), &content);
    const bool answers = !device.silent && !device.silentFrames;
    if (answers) dev->replies.push_back({hidreport::dataReply(!device.reject), readyAt});
    if (++dev->frames == 1 || !countingFrames()) {
      char fields[256];
      std::snprintf(fields, sizeof fields,
                    "item=0x%02x unit=%u alarm=0x%02x cpu=%d cpu_usage=%d gpu=%d gpu_usage=%d "
                    "fan=%d reply=%s raw=",
                    content.item, content.unit, content.alarm, content.values.cpuTemperature,
                    content.values.cpuUsageRate, content.values.gpuTemperature,
                    content.values.gpuUsageRate, content.values.fanRpm,
                    !answers        ? "none"
                    : device.reject ? "rejected"
                                    : "accepted");
      logLine(dev->path, "frame", fields + hex(report.data(), report.size()));
    }
    Shown& shown = g_shown[dev->path];
    const bool changed = !shown.any || std::memcmp(&shown.content, &content, sizeof content) != 0;
    shown.content = content;
    shown.any = true;
    printScreens(dev->path, changed);
  } else {
    logLine(dev->path, "write", "raw=" + hex(report.data(), report.size()));
  }
  return int(length);
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device* dev, unsigned char* data,
                                                 size_t length, int milliseconds) {
  std::unique_lock<std::mutex> lock(g_mutex);
  if (!isOurs(dev)) {
    lock.unlock();
    using Read = int (*)(hid_device*, unsigned char*, size_t, int);
    if (auto real = realFunction<Read>("hid_read_timeout"))
      return real(dev, data, length, milliseconds);
    return -1;
  }
  const Clock::time_point deadline = milliseconds < 0
                                         ? Clock::time_point::max()
                                         : Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    reloadIfChanged();
    const auto found = g_devices.find(dev->path);
    if (found == g_devices.end()) {
      setError(dev, "device disconnected");
      logLine(dev->path, "read-fail", "reason=departed");
      return -1;
    }
    if (found->second.failRead) {
      setError(dev, "simulated read failure");
      logLine(dev->path, "read-fail", "reason=simulated");
      return -1;
    }
    const Clock::time_point now = Clock::now();
    Clock::time_point wakeAt = deadline;
    if (!dev->replies.empty()) {
      const PendingReply& next = dev->replies.front();
      if (next.readyAt <= now) {
        const std::size_t count = std::min(length, next.bytes.size());
        std::memcpy(data, next.bytes.data(), count);
        dev->replies.pop_front();
        return int(count);
      }
      wakeAt = std::min(wakeAt, next.readyAt);
    }
    if (now >= deadline) return 0;
    // Sleep without the lock, in short steps so departures are noticed.
    wakeAt = std::min(wakeAt, now + std::chrono::milliseconds(100));
    lock.unlock();
    std::this_thread::sleep_until(wakeAt);
    lock.lock();
    if (!isOurs(dev)) return -1;
  }
}

int HID_API_EXPORT HID_API_CALL hid_read(hid_device* dev, unsigned char* data, size_t length) {
  bool nonBlocking = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!isOurs(dev)) {
      if (auto real = realFunction<int (*)(hid_device*, unsigned char*, size_t)>("hid_read"))
        return real(dev, data, length);
      return -1;
    }
    nonBlocking = dev->nonBlocking;
  }
  return hid_read_timeout(dev, data, length, nonBlocking ? 0 : -1);
}

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking(hid_device* dev, int nonblock) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!isOurs(dev)) {
    if (auto real = realFunction<int (*)(hid_device*, int)>("hid_set_nonblocking"))
      return real(dev, nonblock);
    return -1;
  }
  dev->nonBlocking = nonblock != 0;
  return 0;
}

int HID_API_EXPORT HID_API_CALL hid_send_feature_report(hid_device* dev, const unsigned char* data,
                                                        size_t length) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!isOurs(dev)) {
    using F = int (*)(hid_device*, const unsigned char*, size_t);
    if (auto real = realFunction<F>("hid_send_feature_report")) return real(dev, data, length);
    return -1;
  }
  setError(dev, "feature reports are not simulated");
  return -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_feature_report(hid_device* dev, unsigned char* data,
                                                       size_t length) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!isOurs(dev)) {
    using F = int (*)(hid_device*, unsigned char*, size_t);
    if (auto real = realFunction<F>("hid_get_feature_report")) return real(dev, data, length);
    return -1;
  }
  setError(dev, "feature reports are not simulated");
  return -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_input_report(hid_device* dev, unsigned char* data,
                                                     size_t length) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!isOurs(dev)) {
    using F = int (*)(hid_device*, unsigned char*, size_t);
    if (auto real = realFunction<F>("hid_get_input_report")) return real(dev, data, length);
    return -1;
  }
  setError(dev, "input reports on demand are not simulated");
  return -1;
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device* dev) {
  if (!dev) return;
  std::unique_lock<std::mutex> lock(g_mutex);
  if (!isOurs(dev)) {
    lock.unlock();
    if (auto real = realFunction<void (*)(hid_device*)>("hid_close")) real(dev);
    return;
  }
  g_handles.erase(dev);
  logLine(dev->path, "close", countingFrames() ? "frames=" + std::to_string(dev->frames) : "");
  freeInfoStrings(&dev->info);
  delete dev;
}

static int copyString(hid_device* dev, const char* which, wchar_t* string, size_t maxlen) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const auto found = g_devices.find(dev->path);
  if (found == g_devices.end()) {
    setError(dev, "device disconnected");
    return -1;
  }
  std::string text;
  if (!std::strcmp(which, "serial")) {
    if (!found->second.hasSerial) {
      setError(dev, "no serial number");
      return -1;
    }
    text = found->second.serial;
  } else if (!std::strcmp(which, "manufacturer")) {
    text = "Stelvox";
  } else {
    text = found->second.product;
  }
  if (!string || maxlen == 0) return -1;
  const std::wstring wide = widen(text);
  const std::size_t count = std::min(wide.size(), maxlen - 1);
  std::wmemcpy(string, wide.c_str(), count);
  string[count] = L'\0';
  return 0;
}

#define DEVSIM_STRING_FUNCTION(name, which)                                       \
  int HID_API_EXPORT_CALL name(hid_device* dev, wchar_t* string, size_t maxlen) { \
    bool ours;                                                                    \
    {                                                                             \
      std::lock_guard<std::mutex> lock(g_mutex);                                  \
      ours = isOurs(dev);                                                         \
    }                                                                             \
    if (ours) return copyString(dev, which, string, maxlen);                      \
    if (auto real = realFunction<int (*)(hid_device*, wchar_t*, size_t)>(#name))  \
      return real(dev, string, maxlen);                                           \
    return -1;                                                                    \
  }

DEVSIM_STRING_FUNCTION(hid_get_manufacturer_string, "manufacturer")
DEVSIM_STRING_FUNCTION(hid_get_product_string, "product")
DEVSIM_STRING_FUNCTION(hid_get_serial_number_string, "serial")

int HID_API_EXPORT_CALL hid_get_indexed_string(hid_device* dev, int string_index, wchar_t* string,
                                               size_t maxlen) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!isOurs(dev)) {
    using F = int (*)(hid_device*, int, wchar_t*, size_t);
    if (auto real = realFunction<F>("hid_get_indexed_string"))
      return real(dev, string_index, string, maxlen);
    return -1;
  }
  setError(dev, "indexed strings are not simulated");
  return -1;
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_get_device_info(hid_device* dev) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!isOurs(dev)) {
    if (auto real = realFunction<hid_device_info* (*)(hid_device*)>("hid_get_device_info"))
      return real(dev);
    return nullptr;
  }
  return &dev->info;
}

HID_API_EXPORT const wchar_t* HID_API_CALL hid_error(hid_device* dev) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!dev) return g_globalError.empty() ? nullptr : g_globalError.c_str();
  if (!isOurs(dev)) {
    if (auto real = realFunction<const wchar_t* (*)(hid_device*)>("hid_error")) return real(dev);
    return nullptr;
  }
  return dev->error.empty() ? nullptr : dev->error.c_str();
}

HID_API_EXPORT const struct hid_api_version* HID_API_CALL hid_version(void) {
  static const hid_api_version version{HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR,
                                       HID_API_VERSION_PATCH};
  return &version;
}

HID_API_EXPORT const char* HID_API_CALL hid_version_str(void) { return HID_API_VERSION_STR; }

}  // extern "C"
