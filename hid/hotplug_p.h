// Inside the hot-plug monitor: one backend object per running source.
#pragma once

#include <QList>

#include "hotplug.h"

class HIDHotplugBackend {
 public:
  virtual ~HIDHotplugBackend() = default;
};

// Platform layer: the sources worth trying, best first, and the platform's own sources.
QList<HIDHotplugMonitor::Source> platformHotplugOrder();
// Linux: the order with and without a udev daemon (platformHotplugOrder() looks which it is).
QList<HIDHotplugMonitor::Source> hotplugOrderFor(bool udevDaemonRuns);
// Null with `error` set when the source cannot run here.
std::unique_ptr<HIDHotplugBackend> createPlatformHotplugBackend(HIDHotplugMonitor::Source source,
                                                                HIDHotplugMonitor* monitor,
                                                                QString* error);
