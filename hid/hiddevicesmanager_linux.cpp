// Linux has no window messages for device changes: HIDHotplugMonitor (hotplug.h)
// reports them instead.
#include "hiddevicesmanager.h"

namespace hid::platform {

void registerDeviceNotification(quintptr) {}

std::optional<DeviceChange> nativeDeviceChange(const QByteArray&, void*) { return std::nullopt; }

}  // namespace hid::platform
