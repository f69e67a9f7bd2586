// Discovery and recognition of the display devices, and the table of recognised ones.
//
// Use (all on the GUI thread):
//   HIDDevicesManager manager;             // held by value
//   manager.registerNotify(winId());       // Windows only; a no-op elsewhere
//   manager.scanDevices();                 // full enumeration at start-up
//   manager.devices();                     // the table, keyed by upper-case path
// Hot-plug: on Linux an HIDHotplugMonitor (hotplug.h) reports arrivals and removals;
// forward them to handleArrival()/handleRemoval() and refresh the device list when
// devices().size() changed. Start the monitor before scanDevices(): a device plugged in
// between is then seen twice, which only overwrites its record, instead of not at all. On Windows
// nativeEvent forwards to handleDeviceChange().
//
// `HIDDeviceInfo::path` is the upper-case path (the key, shown in lists); `openPath`
// keeps the system's own spelling, which is what must be opened on Linux, where device
// paths are case-sensitive. Show `openPath` to Linux users.
#pragma once

#include <QMap>
#include <QSet>
#include <QString>

#include "devicechange.h"
#include "hidprotocol.h"

struct HIDDeviceInfo {
  QString uuid;
  QString vid;
  QString pid;
  QString path;
  QString hardwareVersion;
  QString firmwareVersion;
  QString openPath;
};

// Ordered by the upper-case device path.
using HIDDeviceTable = QMap<QString, HIDDeviceInfo>;

class HIDDevicesManager {
 public:
  // How long recognition waits for an identify reply. It runs on the GUI thread, and a
  // real device answers within a few milliseconds.
  static constexpr int kReplyTimeoutMs = 250;

  void scanDevices();
  // Filter, identify exchange and table update; true only when a record was stored.
  // A null path looks up interface 2 of the device itself.
  bool recognize(unsigned short vendorId, unsigned short productId, const char* path);

  // Windows: ask for HID interface arrival/removal messages for this window.
  void registerNotify(quintptr windowHandle);
  // Windows: one native message of the window's event hook; always false.
  bool handleDeviceChange(const QByteArray& eventType, void* message, long* result);
  // A decoded device-change message (both platforms).
  void applyDeviceChange(const DeviceChange& change);

  // Hot-plug events from HIDHotplugMonitor. An arrival of a known path overwrites its record.
  bool handleArrival(const QString& path, unsigned short vendorId, unsigned short productId);
  void handleRemoval(const QString& path);

  const HIDDeviceTable& devices() const { return devices_; }

  // Record texts from an identify reply.
  static HIDDeviceInfo makeDeviceInfo(const HIDReport::Identity& identity, unsigned short vendorId,
                                      unsigned short productId, const QString& path);
  static QString uuidText(const std::array<std::uint8_t, 12>& identifier);

 private:
  HIDDeviceTable devices_;
  QSet<QString> permissionWarned_;
};
