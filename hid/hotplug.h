// Arrival and removal of HID interfaces, reported as text (path, vendor and product ID),
// never as native handles.
//
// On Linux one of three sources runs, chosen at start() and named in the log:
//   "udev"   a libudev monitor on the hidraw subsystem (when a udev daemon runs)
//   "kernel" the kernel's own uevent netlink socket (no udev daemon: containers)
//   "poll"   a hid_enumerate() diff every 2 s (when neither socket can be had)
// The environment variable STELVOX_HOTPLUG=udev|kernel|poll forces one.
// The main window connects the signals to HIDDevicesManager::handleArrival/handleRemoval.
#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <memory>

class HIDHotplugBackend;

class HIDHotplugMonitor : public QObject {
  Q_OBJECT

 public:
  enum class Source { None, Udev, Kernel, Poll };
  static constexpr int kPollIntervalMs = 2000;

  explicit HIDHotplugMonitor(QObject* parent = nullptr);
  ~HIDHotplugMonitor() override;

  // Starts the forced or best available source; false when none could be started.
  bool start();
  void stop();
  Source source() const { return m_source; }
  static QString sourceName(Source source);

  // Parses STELVOX_HOTPLUG; None when unset or unknown.
  static Source forcedSource(const QString& value);
  // What start() tries, in order: the forced source alone, or the platform's order with the
  // polling fallback last.
  static QList<Source> sourcesToTry(const QString& forcedName, const QList<Source>& platformOrder);

 signals:
  void deviceArrived(QString path, ushort vendorId, ushort productId);
  void deviceRemoved(QString path);

 private:
  bool startSource(Source source);

  Source m_source = Source::None;
  std::unique_ptr<HIDHotplugBackend> m_backend;
};

// One enumerated interface, for the polling diff.
struct HIDInterfaceId {
  ushort vendorId = 0;
  ushort productId = 0;
  bool operator==(const HIDInterfaceId& o) const {
    return vendorId == o.vendorId && productId == o.productId;
  }
};
using HIDInterfaceMap = QMap<QString, HIDInterfaceId>;  // by path

// Paths that appeared (or changed identity) and paths that are gone.
void diffInterfaces(const HIDInterfaceMap& before, const HIDInterfaceMap& after,
                    QStringList* arrived, QStringList* removed);

// "0003:00002E3C:00000A15" (a HID device's HID_ID) into vendor and product ID.
bool parseHidId(const QString& hidId, ushort* vendorId, ushort* productId);

// One kernel or libudev netlink uevent message.
struct Uevent {
  QString action;
  QString subsystem;
  QString devName;  // e.g. "hidraw0"
  QString devPath;  // sysfs path below /sys
  QString hidId;    // only when the message carries it
};
bool parseUevent(const QByteArray& message, Uevent* event);
