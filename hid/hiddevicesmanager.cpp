#include "hiddevicesmanager.h"

#include <hidapi.h>

#include "constants.h"
#include "hidaccess.h"
#include "rslogger.h"

namespace {

const char* const kRecognizeSource = "HIDDevicesManager::recognize";

QString errorText(hid_device* handle) {
  const wchar_t* text = hid_error(handle);
  return text ? QString::fromWCharArray(text) : QString();
}

QString hexId(unsigned short id) { return QString::number(id, 16).toUpper(); }

}  // namespace

QString HIDDevicesManager::uuidText(const std::array<std::uint8_t, 12>& identifier) {
  QString text;
  for (std::uint8_t byte : identifier) text += QString::number(byte, 16).toUpper();
  return text;
}

HIDDeviceInfo HIDDevicesManager::makeDeviceInfo(const HIDReport::Identity& identity,
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

void HIDDevicesManager::scanDevices() {
  // hidapi sets itself up on first use; doing it here, on the GUI thread, keeps that from
  // racing with the send thread's first open.
  hid_init();
  hid_device_info* list = hid_enumerate(0, 0);
  for (hid_device_info* entry = list; entry; entry = entry->next) {
    if (!entry->serial_number || !entry->path) continue;
    recognize(entry->vendor_id, entry->product_id, entry->path);
  }
  hid_free_enumeration(list);
}

bool HIDDevicesManager::recognize(unsigned short vendorId, unsigned short productId,
                                  const char* path) {
  if (vendorId != COMMON::kDeviceVendorId.toUShort(nullptr, 16)) return false;
  if (productId != COMMON::kDeviceProductId.toUShort(nullptr, 16)) return false;

  QByteArray ownPath;
  if (path) {
    ownPath = QByteArray(path);
  } else {
    hid_device_info* list = hid_enumerate(vendorId, productId);
    for (hid_device_info* entry = list; entry; entry = entry->next) {
      if (entry->interface_number == 2 && entry->path) {
        ownPath = QByteArray(entry->path);
        break;
      }
    }
    hid_free_enumeration(list);
    if (ownPath.isEmpty()) return false;
  }
  const QString pathText = QString::fromLocal8Bit(ownPath);

  hid_device* handle = hid_open_path(ownPath.constData());
  if (!handle) {
    // The most common trouble on Linux: the node exists but belongs to root. Say so once.
    if (hidPermissionDenied(pathText) && !permissionWarned_.contains(pathText)) {
      permissionWarned_.insert(pathText);
      RSLogger::instance()->writeLog(RSLogger::LevelWarning,
                                     QStringLiteral("No permission to open HID device %1; %2.")
                                         .arg(pathText, hidPermissionHint()),
                                     kRecognizeSource);
    }
    return false;
  }

  const HIDReport::Buffer request = HIDReport::identifyRequest();
  if (hid_write(handle, request.data(), request.size()) < 0) {
    RSLogger::instance()->writeLog(
        RSLogger::LevelWarning,
        QStringLiteral("Invalid HID device！Write data to device fail: %1, device path: %2!")
            .arg(errorText(handle), pathText),
        kRecognizeSource);
    hid_close(handle);
    return false;
  }

  HIDReport::Buffer reply{};
  const int read = hid_read_timeout(handle, reply.data(), reply.size(), kReplyTimeoutMs);
  if (read <= 0) {
    const QString reason =
        read < 0 ? errorText(handle) : QStringLiteral("no reply within %1 ms").arg(kReplyTimeoutMs);
    RSLogger::instance()->writeLog(
        RSLogger::LevelWarning,
        QStringLiteral("Read HID device data fail: %1, device path: %2!").arg(reason, pathText),
        kRecognizeSource);
    hid_close(handle);
    return false;
  }

  HIDReport::Identity identity;
  if (!HIDReport::parseIdentifyReply(reply.data(), &identity)) {
    hid_close(handle);
    return false;
  }

  const HIDDeviceInfo info = makeDeviceInfo(identity, vendorId, productId, pathText);
  devices_.insert(info.path, info);
  hid_close(handle);
  return true;
}

void HIDDevicesManager::applyDeviceChange(const DeviceChange& change) {
  switch (change.kind) {
    case DeviceChange::Arrival:
      recognize(change.vendorId, change.productId, change.path.toLocal8Bit().constData());
      break;
    case DeviceChange::Removal:
      devices_.remove(change.path.toUpper());
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
  devices_.remove(path.toUpper());
  permissionWarned_.remove(path);
}
