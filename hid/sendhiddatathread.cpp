#include "sendhiddatathread.h"

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "circulardisplaytimer.h"
#include "constants.h"
#include "hidapiguard.h"
#include "rslogger.h"
#include "settings.h"

// What each frame is made of, written by the GUI thread's slots.
struct SendHIDDataThread::Feed {
  std::mutex mutex;
  int unit = 0;
  hidreport::Thresholds thresholds;
  hidreport::Sample sample;

  hidreport::Buffer frameFor(const HIDDeviceInfo& device) {
    const quint8 item = hidreport::itemForDevice(CircularDisplayTimer::instance()->currentItem(),
                                                 device.pid == COMMON::kDeviceProductId);
    std::lock_guard<std::mutex> lock(mutex);
    return hidreport::dataFrame(item, unit, sample, thresholds);
  }
};

// One display's link: its timing, a frame handed over by an explicit pass, and the state of
// the thread serving it.
struct SendHIDDataThread::Link {
  HIDDeviceInfo device;
  std::shared_ptr<Feed> feed;
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<bool> stopping{false};
  bool timed = false;  // frames of its own every kPassIntervalMs (the worker runs)
  bool paused = false;
  bool hasFrame = false;
  bool busy = false;  // an exchange is under way
  bool finished = false;
  hidreport::Buffer frame{};
};

namespace {

using Link = SendHIDDataThread::Link;

const char* const kSendSource = "SendHIDDataThread::sendDataToHIDDevice";
// The reply wait is cut into slices so that a stop request is seen quickly even while a
// device never answers.
constexpr int kReplySliceMs = 50;
// A device that floods input must not keep its link draining for ever.
constexpr int kMaxStaleReports = 16;

void closeHandle(hid_device** handle) {
  hid_close(*handle);
  *handle = nullptr;
}

// One frame and its reply. The handle stays open from one frame to the next and is closed
// when the device fails, to be opened again for the next frame. A healthy exchange builds
// no text: the messages are made only when there is something to log.
void exchange(Link& link, hid_device** handle, const hidreport::Buffer& frame) {
  const HIDDeviceInfo& device = link.device;
  const auto log = [&link](const QString& message) {
    if (!link.stopping) RSLogger::instance()->writeLog(RSLogger::LevelError, message, kSendSource);
  };
  if (!*handle) {
    const QString path = device.nodePath();
    *handle = hidguard::open(path.toLocal8Bit());
    if (!*handle) {
      log(QStringLiteral("=== Open HID device fail, path: %1 ===").arg(path));
      return;
    }
  }

  // A reply that came after its frame was given up is not the answer to this one.
  hidreport::Buffer reply{};
  for (int i = 0; i < kMaxStaleReports; ++i)
    if (hid_read_timeout(*handle, reply.data(), reply.size(), 0) <= 0) break;

  if (hid_write(*handle, frame.data(), frame.size()) < 0) {
    closeHandle(handle);
    return;
  }
  int read = 0;
  QDeadlineTimer deadline(SendHIDDataThread::kReplyTimeoutMs);
  while (read == 0 && !deadline.hasExpired() && !link.stopping) {
    const int slice = int(qBound<qint64>(1, deadline.remainingTime(), kReplySliceMs));
    read = hid_read_timeout(*handle, reply.data(), reply.size(), slice);
  }
  const auto deviceLine = [&device] {
    return QStringLiteral(" VID: %1, PID: %2, Device Path: %3!")
        .arg(device.vid, device.pid, device.nodePath());
  };
  if (read < 0) {
    log(QStringLiteral(">>> Send data to HID device fail. [%1]! <<<\n")
            .arg(hidguard::errorText(*handle)) +
        deviceLine());
    closeHandle(handle);
  } else if (read == 0) {
    log(QStringLiteral(">>> Send data to HID device fail. [no reply within %1 ms]! <<<\n")
            .arg(SendHIDDataThread::kReplyTimeoutMs) +
        deviceLine());
  } else if (!hidreport::dataReplyAccepted(reply.data())) {
    log(QStringLiteral(">>> Send data to HID device fail! reply error.<<<\n") + deviceLine());
  }
}

// The body of a link's thread: it sleeps until its next frame is due (or one is handed
// over), makes the frame from the latest sample and exchanges it.
void serve(const std::shared_ptr<Link>& link) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kInterval = std::chrono::milliseconds(SendHIDDataThread::kPassIntervalMs);
  hid_device* handle = nullptr;
  Clock::time_point due = Clock::now();
  for (;;) {
    hidreport::Buffer frame;
    bool handedOver = false;
    {
      std::unique_lock<std::mutex> lock(link->mutex);
      for (;;) {
        if (link->stopping || link->hasFrame) break;
        if (!link->timed || link->paused) {
          link->changed.wait(lock);
        } else if (Clock::now() < due) {
          link->changed.wait_until(lock, due);
        } else {
          break;
        }
      }
      if (link->stopping) break;
      handedOver = link->hasFrame;
      frame = link->frame;
      link->hasFrame = false;
      link->busy = true;
    }
    if (!handedOver) frame = link->feed->frameFor(link->device);
    exchange(*link, &handle, frame);
    {
      std::lock_guard<std::mutex> lock(link->mutex);
      link->busy = false;
    }
    link->changed.notify_all();
    if (!handedOver) {
      // A device slower than the interval gets its next frame one interval after its last
      // exchange ended, not a burst of frames that fell due meanwhile.
      const Clock::time_point now = Clock::now();
      due = due + kInterval > now ? due + kInterval : now + kInterval;
    }
  }
  if (handle) hid_close(handle);
  {
    std::lock_guard<std::mutex> lock(link->mutex);
    link->finished = true;
  }
  link->changed.notify_all();
}

void stop(Link& link) {
  {
    std::lock_guard<std::mutex> lock(link.mutex);
    link.stopping = true;
  }
  link.changed.notify_all();
}

}  // namespace

SendHIDDataThread::SendHIDDataThread(QObject* parent)
    : QThread(parent), m_feed(std::make_shared<Feed>()) {
  m_feed->unit = COMMON::readIntSetting(COMMON::kKeyTemperatureUnit);
  m_feed->thresholds.temperatureAlarm = COMMON::readIntSetting(COMMON::kKeyTemperatureAlarm);
  m_feed->thresholds.usageRateAlarm = COMMON::readIntSetting(COMMON::kKeyUsageRateAlarm);
  m_feed->thresholds.fanRpmAlarm = COMMON::readIntSetting(COMMON::kKeyFanRpmAlarm);
}

SendHIDDataThread::~SendHIDDataThread() {
  {
    QMutexLocker lock(&m_mutex);
    m_paused = false;
    requestInterruption();
    m_wakeCondition.wakeAll();
  }
  quit();
  wait();  // the worker never waits for a device
  stopLinks();
}

void SendHIDDataThread::stopLinks() {
  QMutexLocker passLock(&m_passMutex);
  for (const auto& link : qAsConst(m_links)) stop(*link);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
  for (const auto& link : qAsConst(m_links)) {
    std::unique_lock<std::mutex> lock(link->mutex);
    link->changed.wait_until(lock, deadline, [&] { return link->finished; });
  }
  m_links.clear();
}

int SendHIDDataThread::sampleValue(const QString& text, bool* known) {
  return text.toInt(known, 10);
}

void SendHIDDataThread::onSetHardwareData(COMMON::HardwareInfo hardwareInfo) {
  hidreport::Sample sample;
  sample.cpuTemperature = sampleValue(hardwareInfo.strCPUTemperature, &sample.cpuTemperatureKnown);
  sample.cpuUsageRate = sampleValue(hardwareInfo.strCPUUsageRate);
  sample.gpuTemperature = sampleValue(hardwareInfo.strGPUTemperature, &sample.gpuTemperatureKnown);
  sample.gpuUsageRate = sampleValue(hardwareInfo.strGPUUsageRate);
  sample.fanRpm = sampleValue(hardwareInfo.strFanRpm);
  std::lock_guard<std::mutex> lock(m_feed->mutex);
  m_feed->sample = sample;
}

void SendHIDDataThread::onSettingValueChanged(QString strSettingName, QString strSettingValue) {
  const int value = COMMON::clampSetting(strSettingName, strSettingValue.toInt(nullptr, 10));
  std::lock_guard<std::mutex> lock(m_feed->mutex);
  if (strSettingName == COMMON::kKeyTemperatureUnit)
    m_feed->unit = value;
  else if (strSettingName == COMMON::kKeyTemperatureAlarm)
    m_feed->thresholds.temperatureAlarm = value;
  else if (strSettingName == COMMON::kKeyUsageRateAlarm)
    m_feed->thresholds.usageRateAlarm = value;
  else if (strSettingName == COMMON::kKeyFanRpmAlarm)
    m_feed->thresholds.fanRpmAlarm = value;
}

void SendHIDDataThread::setDevices(const HIDDeviceTable& devices) {
  {
    QMutexLocker lock(&m_mutex);
    m_devices = devices;
    ++m_changes;
    m_wakeCondition.wakeAll();
  }
  // A departed device's handle is closed now, not at the next pass, which a pause may delay.
  QMutexLocker passLock(&m_passMutex);
  for (auto it = m_links.begin(); it != m_links.end();) {
    const auto found = devices.constFind(it.key());
    if (found == devices.cend() || found.value().nodePath() != it.value()->device.nodePath()) {
      stop(*it.value());
      it = m_links.erase(it);
    } else {
      ++it;
    }
  }
}

void SendHIDDataThread::pauseSending() {
  QMutexLocker lock(&m_mutex);
  m_paused = true;
  ++m_changes;
  m_wakeCondition.wakeAll();
}

void SendHIDDataThread::resumeSending() {
  QMutexLocker lock(&m_mutex);
  m_paused = false;
  ++m_changes;
  m_wakeCondition.wakeAll();
}

bool SendHIDDataThread::isPaused() const {
  QMutexLocker lock(&m_mutex);
  return m_paused;
}

void SendHIDDataThread::run() {
  QMutexLocker lock(&m_mutex);
  while (!isInterruptionRequested()) {
    const HIDDeviceTable devices = m_devices;
    const bool paused = m_paused;
    const int changes = m_changes;
    lock.unlock();
    {
      // Every device gets a timed link; departed ones were stopped by setDevices().
      QMutexLocker passLock(&m_passMutex);
      for (const HIDDeviceInfo& device : devices) {
        const std::shared_ptr<Link> link = linkFor(device);
        {
          std::lock_guard<std::mutex> linkLock(link->mutex);
          link->timed = true;
          link->paused = paused;
        }
        link->changed.notify_all();
      }
    }
    lock.relock();
    while (changes == m_changes && !isInterruptionRequested()) m_wakeCondition.wait(&m_mutex);
  }
}

std::shared_ptr<SendHIDDataThread::Link> SendHIDDataThread::linkFor(const HIDDeviceInfo& device) {
  std::shared_ptr<Link>& link = m_links[device.path];
  if (link && link->device.nodePath() != device.nodePath()) {
    stop(*link);
    link.reset();
  }
  if (!link) {
    link = std::make_shared<Link>();
    link->device = device;
    link->feed = m_feed;
    std::thread(serve, link).detach();
  }
  return link;
}

void SendHIDDataThread::sendDataToHIDDevice() {
  HIDDeviceTable devices;
  {
    QMutexLocker lock(&m_mutex);
    devices = m_devices;
  }
  QMutexLocker passLock(&m_passMutex);
  QList<std::shared_ptr<Link>> handedOver;
  for (const HIDDeviceInfo& device : qAsConst(devices)) {
    if (isInterruptionRequested()) break;
    const std::shared_ptr<Link> link = linkFor(device);
    {
      std::lock_guard<std::mutex> lock(link->mutex);
      // Still busy with an earlier frame: this device skips the pass, the others do not wait.
      if (link->busy) continue;
      link->frame = m_feed->frameFor(device);
      link->hasFrame = true;
      link->busy = true;
    }
    link->changed.notify_all();
    handedOver.append(link);
  }
  for (const auto& link : qAsConst(handedOver)) {
    std::unique_lock<std::mutex> lock(link->mutex);
    link->changed.wait(lock, [&] { return !link->busy || link->finished; });
  }
}
