// Windows device-change messages (WM_DEVICECHANGE) decoded into the two events the
// program needs. Pure and portable, so it is tested everywhere; only the Windows layer
// feeds it real messages.
#pragma once

#include <QString>
#include <QtGlobal>

constexpr quint32 kWmDeviceChange = 0x0219;
constexpr quintptr kDbtDeviceArrival = 0x8000;
constexpr quintptr kDbtDeviceRemoveComplete = 0x8004;
constexpr quint32 kDbtDevtypDeviceInterface = 5;

// The parts of a DEV_BROADCAST_DEVICEINTERFACE the decoder reads.
struct DeviceBroadcast {
  quint32 deviceType = 0;
  QString name;  // dbcc_name
};

struct DeviceChange {
  enum Kind { None, Arrival, Removal };
  Kind kind = None;
  unsigned short vendorId = 0;
  unsigned short productId = 0;
  QString path;  // upper case
};

// `broadcast` is null when lParam is null.
DeviceChange decodeDeviceChange(quint32 message, quintptr wParam, const DeviceBroadcast* broadcast);

// Vendor and product ID from an interface name such as
// \\?\HID#VID_2E3C&PID_0A15&MI_02#7&1a2b&0&0000#{4d1e55b2-...}; false when the name
// lacks the "#" and "&" parts. A part that does not parse gives 0.
bool parseInterfaceName(const QString& upperName, unsigned short* vendorId,
                        unsigned short* productId);
