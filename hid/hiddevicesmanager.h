// Discovery and recognition of the display devices, and the table of recognised ones.
//
// Use (all on the GUI thread):
//   HIDDevicesManager manager;             // held by value
//   manager.registerNotify(winId());       // Windows only; a no-op elsewhere
//   manager.devices();                     // the table, keyed by upper-case path
// The identify exchange waits for the device, so the window does not run it itself: an
// HIDRecognizer (hidrecognizer.h) runs the start-up scan and each arrival on workers and
// hands every result to applyIdentifyResult(); refresh the device list when devices().size()
// changed. Removals go to handleRemoval(). Start the hot-plug monitor (hotplug.h) before the
// scan: a device plugged in between is then seen twice, which only overwrites its record,
// instead of not at all. scanDevices() and recognize() do the same work blocking, for tests
// and for Windows, whose nativeEvent forwards to handleDeviceChange().
//
// `HIDDeviceInfo::path` is the upper-case path (the key, shown in lists); `openPath`
// keeps the system's own spelling, which is what must be opened on Linux, where device
// paths are case-sensitive. Show `openPath` to Linux users.
#pragma once

#include <QMap>
#include <QSet>
#include <QString>

#include <optional>

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

  // Linux paths are case-sensitive: the system's own spelling, to open and to show.
  QString nodePath() const { return openPath.isEmpty() ? path : openPath; }
};

// Ordered by the upper-case device path.
using HIDDeviceTable = QMap<QString, HIDDeviceInfo>;

// What one identify exchange found. Made on any thread, applied to the table on the GUI thread.
struct HIDIdentifyResult {
  enum Outcome { NotADisplay, OpenFailed, PermissionDenied, WriteFailed, ReadFailed, Recognized };
  Outcome outcome = NotADisplay;
  QString path;        // as the system spells it
  QString reason;      // hidapi's text for a failed write or read
  HIDDeviceInfo info;  // when recognised
};

class HIDDevicesManager {
 public:
  // How long recognition waits for an identify reply. A device that is still starting may
  // miss the request, so it is repeated whenever a short wait brings nothing.
  static constexpr int kReplyTimeoutMs = 2500;
  static constexpr int kRequestRepeatMs = 250;

  static bool isDisplayDevice(unsigned short vendorId, unsigned short productId);
  // The exchange alone, blocking for up to kReplyTimeoutMs (longer while a write stalls).
  static HIDIdentifyResult identify(unsigned short vendorId, unsigned short productId,
                                    const QByteArray& path);
  // Stores a recognised device or logs why not; true when a record was stored.
  bool applyIdentifyResult(const HIDIdentifyResult& result);

  // Blocking forms of the scan and of one recognition (filter, exchange, table update).
  void scanDevices();
  // True only when a record was stored. A null path looks up interface 2 of the device itself.
  bool recognize(unsigned short vendorId, unsigned short productId, const char* path);

  // Windows: ask for HID interface arrival/removal messages for this window; a no-op elsewhere.
  void registerNotify(quintptr windowHandle);
  // Windows: one native message of the window's event hook; always false.
  bool handleDeviceChange(const QByteArray& eventType, void* message, long* result);
  // A decoded device-change message (both platforms).
  void applyDeviceChange(const DeviceChange& change);

  // Hot-plug events from HIDHotplugMonitor. An arrival of a known path overwrites its record.
  bool handleArrival(const QString& path, unsigned short vendorId, unsigned short productId);
  void handleRemoval(const QString& path);

  const HIDDeviceTable& devices() const { return m_devices; }

  // Record texts from an identify reply.
  static HIDDeviceInfo makeDeviceInfo(const hidreport::Identity& identity, unsigned short vendorId,
                                      unsigned short productId, const QString& path);
  static QString uuidText(const std::array<std::uint8_t, 12>& identifier);

 private:
  HIDDeviceTable m_devices;
  QSet<QString> m_permissionWarned;
};

namespace hid::platform {

// Windows: asks for HID interface arrival and removal messages for the window.
void registerDeviceNotification(quintptr windowHandle);
// Windows: the device change one native message of the window reports, if it is one.
std::optional<DeviceChange> nativeDeviceChange(const QByteArray& eventType, void* message);

}  // namespace hid::platform
