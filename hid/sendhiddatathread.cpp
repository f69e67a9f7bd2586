#include "sendhiddatathread.h"

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "circulardisplaytimer.h"
#include "constants.h"
#include "hidapiguard.h"
#include "rslogger.h"
#include "settings.h"

// One display's link: the frame handed over by a pass, and the state of the thread serving it.
struct SendHIDDataThread::Link {
  HIDDeviceInfo device;
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<bool> stopping{false};
  bool hasFrame = false;
  bool busy = false;  // a frame was handed over and its exchange is not over
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

// The body of a link's thread.
void serve(const std::shared_ptr<Link>& link) {
  hid_device* handle = nullptr;
  for (;;) {
    hidreport::Buffer frame;
    {
      std::unique_lock<std::mutex> lock(link->mutex);
      link->changed.wait(lock, [&] { return link->stopping || link->hasFrame; });
      if (link->stopping) break;
      frame = link->frame;
      link->hasFrame = false;
    }
    exchange(*link, &handle, frame);
    {
      std::lock_guard<std::mutex> lock(link->mutex);
      link->busy = false;
    }
    link->changed.notify_all();
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
    : QThread(parent), m_temperatureUnit(COMMON::readIntSetting(COMMON::kKeyTemperatureUnit)) {
  m_thresholds.temperatureAlarm = COMMON::readIntSetting(COMMON::kKeyTemperatureAlarm);
  m_thresholds.usageRateAlarm = COMMON::readIntSetting(COMMON::kKeyUsageRateAlarm);
  m_thresholds.fanRpmAlarm = COMMON::readIntSetting(COMMON::kKeyFanRpmAlarm);
}

SendHIDDataThread::~SendHIDDataThread() {
  {
    QMutexLocker lock(&m_mutex);
    m_paused = false;
    requestInterruption();
    m_wakeCondition.wakeAll();
  }
  quit();
  wait();  // passes never wait for a device
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
  QMutexLocker lock(&m_mutex);
  m_sample.cpuTemperature =
      sampleValue(hardwareInfo.strCPUTemperature, &m_sample.cpuTemperatureKnown);
  m_sample.cpuUsageRate = sampleValue(hardwareInfo.strCPUUsageRate);
  m_sample.gpuTemperature =
      sampleValue(hardwareInfo.strGPUTemperature, &m_sample.gpuTemperatureKnown);
  m_sample.gpuUsageRate = sampleValue(hardwareInfo.strGPUUsageRate);
  m_sample.fanRpm = sampleValue(hardwareInfo.strFanRpm);
}

void SendHIDDataThread::onSettingValueChanged(QString strSettingName, QString strSettingValue) {
  QMutexLocker lock(&m_mutex);
  const int value = COMMON::clampSetting(strSettingName, strSettingValue.toInt(nullptr, 10));
  if (strSettingName == COMMON::kKeyTemperatureUnit)
    m_temperatureUnit = value;
  else if (strSettingName == COMMON::kKeyTemperatureAlarm)
    m_thresholds.temperatureAlarm = value;
  else if (strSettingName == COMMON::kKeyUsageRateAlarm)
    m_thresholds.usageRateAlarm = value;
  else if (strSettingName == COMMON::kKeyFanRpmAlarm)
    m_thresholds.fanRpmAlarm = value;
}

void SendHIDDataThread::setDevices(const HIDDeviceTable& devices) {
  {
    QMutexLocker lock(&m_mutex);
    m_devices = devices;
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
}

void SendHIDDataThread::resumeSending() {
  QMutexLocker lock(&m_mutex);
  m_paused = false;
  m_wakeCondition.wakeAll();
}

bool SendHIDDataThread::isPaused() const {
  QMutexLocker lock(&m_mutex);
  return m_paused;
}

void SendHIDDataThread::run() {
  while (!isInterruptionRequested()) {
    {
      QMutexLocker lock(&m_mutex);
      while (m_paused && !isInterruptionRequested()) m_wakeCondition.wait(&m_mutex);
    }
    if (isInterruptionRequested()) break;

    sendPass(false);

    // The pause between passes; the destructor's wake ends it early.
    QDeadlineTimer deadline(kPassIntervalMs);
    QMutexLocker lock(&m_mutex);
    while (!isInterruptionRequested() && !deadline.hasExpired())
      m_wakeCondition.wait(&m_mutex, deadline);
  }
}

void SendHIDDataThread::sendDataToHIDDevice() { sendPass(true); }

void SendHIDDataThread::sendPass(bool waitForReplies) {
  HIDDeviceTable devices;
  int unit = 0;
  hidreport::Thresholds thresholds;
  hidreport::Sample sample;
  {
    QMutexLocker lock(&m_mutex);
    devices = m_devices;
    unit = m_temperatureUnit;
    thresholds = m_thresholds;
    sample = m_sample;
  }
  if (devices.isEmpty()) return;

  QMutexLocker passLock(&m_passMutex);
  QList<std::shared_ptr<Link>> handedOver;
  for (const HIDDeviceInfo& device : qAsConst(devices)) {
    if (isInterruptionRequested()) break;
    std::shared_ptr<Link>& link = m_links[device.path];
    if (link && link->device.nodePath() != device.nodePath()) {
      stop(*link);
      link.reset();
    }
    if (!link) {
      link = std::make_shared<Link>();
      link->device = device;
      std::thread(serve, link).detach();
    }
    const quint8 item = hidreport::itemForDevice(CircularDisplayTimer::instance()->currentItem(),
                                                 device.pid == COMMON::kDeviceProductId);
    {
      std::lock_guard<std::mutex> lock(link->mutex);
      // Still busy with an earlier frame: this device skips the pass, the others do not wait.
      if (link->busy) continue;
      link->frame = hidreport::dataFrame(item, unit, sample, thresholds);
      link->hasFrame = true;
      link->busy = true;
    }
    link->changed.notify_all();
    handedOver.append(link);
  }
  if (!waitForReplies) return;
  for (const auto& link : qAsConst(handedOver)) {
    std::unique_lock<std::mutex> lock(link->mutex);
    link->changed.wait(lock, [&] { return !link->busy || link->finished; });
  }
}
