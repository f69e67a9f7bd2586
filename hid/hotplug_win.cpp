// Windows reports device changes to the main window's native event hook
// (HIDDevicesManager::handleDeviceChange); the monitor only has the polling fallback.
#include "hotplug_p.h"

QList<HIDHotplugMonitor::Source> platformHotplugOrder() { return {}; }

std::unique_ptr<HIDHotplugBackend> createPlatformHotplugBackend(HIDHotplugMonitor::Source,
                                                                HIDHotplugMonitor*,
                                                                QString* error) {
  *error = QStringLiteral("device changes arrive as window messages on this platform");
  return nullptr;
}
