// Windows: device-interface notifications for the main window and their messages.
#include <windows.h>
// After windows.h:
#include <dbt.h>
#include <hidclass.h>

#include "hiddevicesmanager.h"
#include "rslogger.h"

namespace hid::platform {

void registerDeviceNotification(quintptr windowHandle) {
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_reserved = 0;
  filter.dbcc_classguid = GUID_DEVINTERFACE_HID;
  // The notification handle is kept by the system for the life of the window.
  if (!RegisterDeviceNotificationW(reinterpret_cast<HWND>(windowHandle), &filter,
                                   DEVICE_NOTIFY_WINDOW_HANDLE)) {
    RSLogger::instance()->writeLog(RSLogger::LevelError,
                                   QStringLiteral("Register device notification failed. "),
                                   "HIDDevicesManager::registerNotify");
  }
}

std::optional<DeviceChange> nativeDeviceChange(const QByteArray&, void* message) {
  const MSG* msg = static_cast<const MSG*>(message);
  if (!msg || msg->message != WM_DEVICECHANGE) return std::nullopt;
  DeviceBroadcast broadcast;
  const DeviceBroadcast* present = nullptr;
  if (msg->lParam) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(msg->lParam);
    broadcast.deviceType = header->dbch_devicetype;
    if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
      const auto* deviceInterface =
          reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(msg->lParam);
      broadcast.name = QString::fromWCharArray(deviceInterface->dbcc_name);
    }
    present = &broadcast;
  }
  return decodeDeviceChange(msg->message, msg->wParam, present);
}

}  // namespace hid::platform
