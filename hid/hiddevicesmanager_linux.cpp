// Linux has no window messages for device changes: HIDHotplugMonitor (hotplug.h)
// reports them instead, so these two calls have nothing to do here.
#include "hiddevicesmanager.h"

void HIDDevicesManager::registerNotify(quintptr) {}

bool HIDDevicesManager::handleDeviceChange(const QByteArray&, void*, long*) { return false; }
