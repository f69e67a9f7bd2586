#include "hiddevicesmanager.h"

#include <QDeadlineTimer>

#include "constants.h"
#include "hidaccess.h"
#include "hidapiguard.h"
#include "rslogger.h"

namespace {

const char* const kRecognizeSource = "HIDDevicesManager::recognize";

QString hexId(unsigned short id) { return QString::number(id, 16).toUpper(); }

}  // namespace

QString HIDDevicesManager::uuidText(const std::array<std::uint8_t, 12>& identifier) {
  QString text;
  for (std::uint8_t byte : identifier) text += QString::number(byte, 16).toUpper();
  return text;
}

HIDDeviceInfo HIDDevicesManager::makeDeviceInfo(const hidreport::Identity& identity,
                                                unsigned short vendorId, unsigned short productId,
                                                const QString& path) {
  HIDDeviceInfo info;
  info.uuid = uuidText(identity.identifier);
  info.vid = hexId(vendorId);
  info.pid = hexId(productId);
  info.path = path.toUpper();
  info.hardwareVersion =
      QStringLiteral("%1.%2").arg(identity.hardwareMajor).arg(identity.hardwareMinor);
  info.firmwareVersion =
      QStringLiteral("%1.%2").arg(identity.firmwareMajor).arg(identity.firmwareMinor);
  info.openPath = path;
  return info;
}

bool HIDDevicesManager::isDisplayDevice(unsigned short vendorId, unsigned short productId) {
  return vendorId == COMMON::kDeviceVendorId.toUShort(nullptr, 16) &&
         productId == COMMON::kDeviceProductId.toUShort(nullptr, 16);
}

HIDIdentifyResult HIDDevicesManager::identify(unsigned short vendorId, unsigned short productId,
                                              const QByteArray& path) {
  HIDIdentifyResult result;
  result.path = QString::fromLocal8Bit(path);
  if (!isDisplayDevice(vendorId, productId)) return result;

  hid_device* handle = hidguard::open(path);
  if (!handle) {
    result.outcome = hid::platform::permissionDenied(result.path)
                         ? HIDIdentifyResult::PermissionDenied
                         : HIDIdentifyResult::OpenFailed;
    return result;
  }

  const hidreport::Buffer request = hidreport::identifyRequest();
  hidreport::Buffer reply{};
  QDeadlineTimer deadline(kReplyTimeoutMs);
  int read = 0;
  do {
    if (hid_write(handle, request.data(), request.size()) < 0) {
      result.outcome = HIDIdentifyResult::WriteFailed;
      result.reason = hidguard::errorText(handle);
      hid_close(handle);
      return result;
    }
    const int wait = int(qBound<qint64>(0, deadline.remainingTime(), kRequestRepeatMs));
    read = hid_read_timeout(handle, reply.data(), reply.size(), wait);
  } while (read == 0 && !deadline.hasExpired());

  hidreport::Identity identity;
  if (read <= 0) {
    result.outcome = HIDIdentifyResult::ReadFailed;
    result.reason = read < 0 ? hidguard::errorText(handle)
                             : QStringLiteral("no reply within %1 ms").arg(kReplyTimeoutMs);
  } else if (hidreport::parseIdentifyReply(reply.data(), &identity)) {
    result.outcome = HIDIdentifyResult::Recognized;
    result.info = makeDeviceInfo(identity, vendorId, productId, result.path);
  }
  hid_close(handle);
  return result;
}

bool HIDDevicesManager::applyIdentifyResult(const HIDIdentifyResult& result) {
  switch (result.outcome) {
    case HIDIdentifyResult::Recognized:
      m_devices.insert(result.info.path, result.info);
      return true;
    case HIDIdentifyResult::PermissionDenied:
      // The most common trouble on Linux: the node exists but belongs to root. Say so once.
      if (!m_permissionWarned.contains(result.path)) {
        m_permissionWarned.insert(result.path);
        RSLogger::instance()->writeLog(RSLogger::LevelWarning,
                                       QStringLiteral("No permission to open HID device %1; %2.")
                                           .arg(result.path, hid::platform::permissionHint()),
                                       kRecognizeSource);
      }
      return false;
    case HIDIdentifyResult::WriteFailed:
      RSLogger::instance()->writeLog(
          RSLogger::LevelWarning,
          QStringLiteral("Invalid HID device！Write data to device fail: %1, device path: %2!")
              .arg(result.reason, result.path),
          kRecognizeSource);
      return false;
    case HIDIdentifyResult::ReadFailed:
      RSLogger::instance()->writeLog(
          RSLogger::LevelWarning,
          QStringLiteral("Read HID device data fail: %1, device path: %2!")
              .arg(result.reason, result.path),
          kRecognizeSource);
      return false;
    case HIDIdentifyResult::NotADisplay:
    case HIDIdentifyResult::OpenFailed:
      break;
  }
  return false;
}

void HIDDevicesManager::scanDevices() {
  for (const HIDInterface& entry : hidguard::enumerate())
    if (entry.hasSerial) recognize(entry.vendorId, entry.productId, entry.path.constData());
}

bool HIDDevicesManager::recognize(unsigned short vendorId, unsigned short productId,
                                  const char* path) {
  if (!isDisplayDevice(vendorId, productId)) return false;
  QByteArray ownPath(path);
  if (!path) {
    for (const HIDInterface& entry : hidguard::enumerate(vendorId, productId)) {
      if (entry.interfaceNumber == 2) {
        ownPath = entry.path;
        break;
      }
    }
    if (ownPath.isEmpty()) return false;
  }
  return applyIdentifyResult(identify(vendorId, productId, ownPath));
}

void HIDDevicesManager::registerNotify(quintptr windowHandle) {
  hid::platform::registerDeviceNotification(windowHandle);
}

bool HIDDevicesManager::handleDeviceChange(const QByteArray& eventType, void* message, long*) {
  if (const std::optional<DeviceChange> change =
          hid::platform::nativeDeviceChange(eventType, message))
    applyDeviceChange(*change);
  return false;
}

void HIDDevicesManager::applyDeviceChange(const DeviceChange& change) {
  switch (change.kind) {
    case DeviceChange::Arrival:
      recognize(change.vendorId, change.productId, change.path.toLocal8Bit().constData());
      break;
    case DeviceChange::Removal:
      m_devices.remove(change.path.toUpper());
      break;
    case DeviceChange::None:
      break;
  }
}

bool HIDDevicesManager::handleArrival(const QString& path, unsigned short vendorId,
                                      unsigned short productId) {
  if (path.isEmpty()) return false;
  return recognize(vendorId, productId, path.toLocal8Bit().constData());
}

void HIDDevicesManager::handleRemoval(const QString& path) {
  m_devices.remove(path.toUpper());
  m_permissionWarned.remove(path);
}
