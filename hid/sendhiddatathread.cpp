#include "sendhiddatathread.h"

#include <hidapi.h>

#include <QDeadlineTimer>
#include <QMutexLocker>

#include "circulardisplaytimer.h"
#include "constants.h"
#include "rslogger.h"
#include "settings.h"

namespace {

const char* const kSendSource = "SendHIDDataThread::sendDataToHIDDevice";
// The reply wait is cut into slices so that a stop request is seen quickly even while a
// device never answers.
constexpr int kReplySliceMs = 50;

QString errorText(hid_device* handle) {
  const wchar_t* text = hid_error(handle);
  return text ? QString::fromWCharArray(text) : QString();
}

}  // namespace

SendHIDDataThread::SendHIDDataThread(QObject* parent)
    : QThread(parent),
      temperatureUnit_(COMMON::readIntSetting(COMMON::kKeyTemperatureUnit)) {
  thresholds_.temperatureAlarm =
      COMMON::readIntSetting(COMMON::kKeyTemperatureAlarm);
  thresholds_.usageRateAlarm =
      COMMON::readIntSetting(COMMON::kKeyUsageRateAlarm);
  thresholds_.fanRpmAlarm = COMMON::readIntSetting(COMMON::kKeyFanRpmAlarm);
  // Before the worker exists, so that hidapi is never set up by two threads at once.
  hid_init();
}

SendHIDDataThread::~SendHIDDataThread() {
  {
    QMutexLocker lock(&mutex_);
    paused_ = false;
    requestInterruption();
    wakeCondition_.wakeAll();
  }
  quit();
  wait();
}

int SendHIDDataThread::sampleValue(const QString& text) { return text.toInt(nullptr, 10); }

void SendHIDDataThread::onSetHardwareData(COMMON::HardwareInfo hardwareInfo) {
  QMutexLocker lock(&mutex_);
  sample_.cpuTemperature = sampleValue(hardwareInfo.strCPUTemperature);
  sample_.cpuUsageRate = sampleValue(hardwareInfo.strCPUUsageRate);
  sample_.gpuTemperature = sampleValue(hardwareInfo.strGPUTemperature);
  sample_.gpuUsageRate = sampleValue(hardwareInfo.strGPUUsageRate);
  sample_.fanRpm = sampleValue(hardwareInfo.strFanRpm);
}

void SendHIDDataThread::onSettingValueChanged(QString strSettingName, QString strSettingValue) {
  QMutexLocker lock(&mutex_);
  const int value = COMMON::clampSetting(strSettingName, strSettingValue.toInt(nullptr, 10));
  if (strSettingName == COMMON::kKeyTemperatureUnit)
    temperatureUnit_ = value;
  else if (strSettingName == COMMON::kKeyTemperatureAlarm)
    thresholds_.temperatureAlarm = value;
  else if (strSettingName == COMMON::kKeyUsageRateAlarm)
    thresholds_.usageRateAlarm = value;
  else if (strSettingName == COMMON::kKeyFanRpmAlarm)
    thresholds_.fanRpmAlarm = value;
}

void SendHIDDataThread::setDevices(const HIDDeviceTable& devices) {
  QMutexLocker lock(&mutex_);
  devices_ = devices;
}

void SendHIDDataThread::pauseSending() {
  QMutexLocker lock(&mutex_);
  paused_ = true;
}

void SendHIDDataThread::resumeSending() {
  QMutexLocker lock(&mutex_);
  paused_ = false;
  wakeCondition_.wakeAll();
}

bool SendHIDDataThread::isPaused() const {
  QMutexLocker lock(&mutex_);
  return paused_;
}

void SendHIDDataThread::run() {
  while (!isInterruptionRequested()) {
    {
      QMutexLocker lock(&mutex_);
      while (paused_ && !isInterruptionRequested()) wakeCondition_.wait(&mutex_);
    }
    if (isInterruptionRequested()) break;

    sendDataToHIDDevice();

    // The pause between passes; the destructor's wake ends it early.
    QDeadlineTimer deadline(kPassIntervalMs);
    QMutexLocker lock(&mutex_);
    while (!isInterruptionRequested() && !deadline.hasExpired())
      wakeCondition_.wait(&mutex_, deadline);
  }
}

void SendHIDDataThread::sendDataToHIDDevice() {
  HIDDeviceTable devices;
  int unit = 0;
  HIDReport::Thresholds thresholds;
  HIDReport::Sample sample;
  {
    QMutexLocker lock(&mutex_);
    devices = devices_;
    unit = temperatureUnit_;
    thresholds = thresholds_;
    sample = sample_;
  }
  if (devices.isEmpty()) return;

  for (const HIDDeviceInfo& device : qAsConst(devices)) {
    if (isInterruptionRequested()) return;
    const QString openPath = device.openPath.isEmpty() ? device.path : device.openPath;
    hid_device* handle = hid_open_path(openPath.toLocal8Bit().constData());
    if (!handle) {
      RSLogger::instance()->writeLog(
          RSLogger::LevelError,
          QStringLiteral("=== Open HID device fail, path: %1 ===").arg(device.path), kSendSource);
      continue;
    }

    const quint8 item = HIDReport::itemForDevice(CircularDisplayTimer::instance()->currentItem(),
                                                 device.pid == COMMON::kDeviceProductId);
    const HIDReport::Buffer frame = HIDReport::dataFrame(item, unit, sample, thresholds);
    if (hid_write(handle, frame.data(), frame.size()) >= 0) {
      HIDReport::Buffer reply{};
      int read = 0;
      QDeadlineTimer deadline(kReplyTimeoutMs);
      while (read == 0 && !deadline.hasExpired() && !isInterruptionRequested()) {
        const int slice =
            int(qMin<qint64>(kReplySliceMs, qMax<qint64>(1, deadline.remainingTime())));
        read = hid_read_timeout(handle, reply.data(), reply.size(), slice);
      }
      const QString deviceLine = QStringLiteral(" VID: %1, PID: %2, Device Path: %3!")
                                     .arg(device.vid, device.pid, device.path);
      if (read <= 0) {
        if (read == 0 && isInterruptionRequested()) {
          // Stopping: an unanswered frame is no failure worth a line.
        } else {
          const QString reason = read < 0
                                     ? errorText(handle)
                                     : QStringLiteral("no reply within %1 ms").arg(kReplyTimeoutMs);
          RSLogger::instance()->writeLog(
              RSLogger::LevelError,
              QStringLiteral(">>> Send data to HID device fail. [%1]! <<<\n").arg(reason) +
                  deviceLine,
              kSendSource);
        }
      } else if (!HIDReport::dataReplyAccepted(reply.data())) {
        RSLogger::instance()->writeLog(
            RSLogger::LevelError,
            QStringLiteral(">>> Send data to HID device fail! reply error.<<<\n") + deviceLine,
            kSendSource);
      }
    }
    hid_close(handle);
  }
}
