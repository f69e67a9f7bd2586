// Windows reports device changes to the main window's native event hook
// (HIDDevicesManager::handleDeviceChange); the monitor only has the polling fallback.
#include "hotplug_p.h"

namespace hid::platform {

QList<HIDHotplugMonitor::Source> hotplugOrder() { return {}; }

std::unique_ptr<HIDHotplugBackend> createHotplugBackend(HIDHotplugMonitor::Source,
                                                        HIDHotplugMonitor*, QString* error) {
  *error = QStringLiteral("device changes arrive as window messages on this platform");
  return nullptr;
}

}  // namespace hid::platform
