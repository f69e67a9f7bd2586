// Inside the hot-plug monitor: one backend object per running source.
#pragma once

#include <QList>

#include "hotplug.h"

class HIDHotplugBackend {
 public:
  virtual ~HIDHotplugBackend() = default;
};

namespace hid::platform {

// The sources worth trying, best first, among them the platform's own.
QList<HIDHotplugMonitor::Source> hotplugOrder();
// Linux: the order with and without a udev daemon (hotplugOrder() looks which it is).
QList<HIDHotplugMonitor::Source> hotplugOrderFor(bool udevDaemonRuns);
// The backend of one of the platform's own sources; null with `error` set when the
// source cannot run here.
std::unique_ptr<HIDHotplugBackend> createHotplugBackend(HIDHotplugMonitor::Source source,
                                                        HIDHotplugMonitor* monitor, QString* error);

}  // namespace hid::platform
