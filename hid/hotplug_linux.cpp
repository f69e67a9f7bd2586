// Linux hot-plug sources: a libudev monitor where a udev daemon runs, else the kernel's
// own uevent netlink socket. Both sit on a QSocketNotifier on the GUI thread.
#include <libudev.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>

#include "hotplug_p.h"

namespace {

const QString kHidraw = QStringLiteral("hidraw");

QString devNodeOf(const QString& devName) {
  if (devName.isEmpty()) return QString();
  return devName.startsWith(QLatin1Char('/')) ? devName : QStringLiteral("/dev/") + devName;
}

class UdevBackend : public HIDHotplugBackend {
 public:
  UdevBackend(HIDHotplugMonitor* monitor, udev* context, udev_monitor* udevMonitor)
      : m_monitor(monitor), m_udev(context), m_udevMonitor(udevMonitor) {
    m_notifier =
        new QSocketNotifier(udev_monitor_get_fd(m_udevMonitor), QSocketNotifier::Read, monitor);
    QObject::connect(m_notifier, &QSocketNotifier::activated, monitor, [this] { receive(); });
  }
  ~UdevBackend() override {
    delete m_notifier;
    udev_monitor_unref(m_udevMonitor);
    udev_unref(m_udev);
  }

  static std::unique_ptr<HIDHotplugBackend> create(HIDHotplugMonitor* monitor, QString* error) {
    udev* context = udev_new();
    if (!context) {
      *error = QStringLiteral("udev_new failed");
      return nullptr;
    }
    udev_monitor* udevMonitor = udev_monitor_new_from_netlink(context, "udev");
    if (!udevMonitor ||
        udev_monitor_filter_add_match_subsystem_devtype(udevMonitor, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(udevMonitor) < 0) {
      *error =
          QStringLiteral("cannot listen to udev: %1").arg(QString::fromLocal8Bit(strerror(errno)));
      if (udevMonitor) udev_monitor_unref(udevMonitor);
      udev_unref(context);
      return nullptr;
    }
    return std::make_unique<UdevBackend>(monitor, context, udevMonitor);
  }

 private:
  void receive() {
    // One notification may stand for several queued events; the fd is non-blocking.
    while (udev_device* device = udev_monitor_receive_device(m_udevMonitor)) {
      const QString action = QString::fromLatin1(udev_device_get_action(device));
      QString node = QString::fromLocal8Bit(udev_device_get_devnode(device));
      if (node.isEmpty()) node = devNodeOf(QString::fromLocal8Bit(udev_device_get_sysname(device)));
      if (action == QLatin1String("add")) {
        ushort vendorId = 0, productId = 0;
        udev_device* hid = udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr);
        const char* hidId = hid ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
        if (hidId && parseHidId(QString::fromLatin1(hidId), &vendorId, &productId) &&
            !node.isEmpty())
          emit m_monitor->deviceArrived(node, vendorId, productId);
      } else if (action == QLatin1String("remove") && !node.isEmpty()) {
        emit m_monitor->deviceRemoved(node);
      }
      udev_device_unref(device);
    }
  }

  HIDHotplugMonitor* m_monitor;
  udev* m_udev;
  udev_monitor* m_udevMonitor;
  QSocketNotifier* m_notifier = nullptr;
};

class KernelBackend : public HIDHotplugBackend {
 public:
  KernelBackend(HIDHotplugMonitor* monitor, int fd) : m_monitor(monitor), m_fd(fd) {
    QString root = qEnvironmentVariable("HOST_SYS");
    m_sysRoot = root.isEmpty() ? QStringLiteral("/sys") : root;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, monitor);
    QObject::connect(m_notifier, &QSocketNotifier::activated, monitor, [this] { receive(); });
  }
  ~KernelBackend() override {
    delete m_notifier;
    ::close(m_fd);
  }

  static std::unique_ptr<HIDHotplugBackend> create(HIDHotplugMonitor* monitor, QString* error) {
    const int fd =
        ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    if (fd < 0) {
      *error = QStringLiteral("netlink socket: %1").arg(QString::fromLocal8Bit(strerror(errno)));
      return nullptr;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1;  // the kernel's own broadcast group
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
      *error = QStringLiteral("netlink bind: %1").arg(QString::fromLocal8Bit(strerror(errno)));
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<KernelBackend>(monitor, fd);
  }

 private:
  void receive() {
    char buffer[8192];
    for (;;) {
      sockaddr_nl sender{};
      iovec io{buffer, sizeof buffer};
      msghdr header{};
      header.msg_name = &sender;
      header.msg_namelen = sizeof sender;
      header.msg_iov = &io;
      header.msg_iovlen = 1;
      const ssize_t size = ::recvmsg(m_fd, &header, 0);
      if (size < 0) {
        if (errno == EINTR) continue;
        return;  // EAGAIN: drained
      }
      // Only the kernel (port 0) may tell us about devices; user-space senders are ignored.
      if (header.msg_namelen == sizeof sender && sender.nl_pid != 0) continue;
      if (header.msg_flags & MSG_TRUNC) continue;
      Uevent event;
      if (!parseUevent(QByteArray(buffer, int(size)), &event) || event.subsystem != kHidraw)
        continue;
      const QString node = devNodeOf(event.devName);
      if (node.isEmpty()) continue;
      if (event.action == QLatin1String("add")) {
        ushort vendorId = 0, productId = 0;
        if (hidIdOf(event, &vendorId, &productId))
          emit m_monitor->deviceArrived(node, vendorId, productId);
      } else if (event.action == QLatin1String("remove")) {
        emit m_monitor->deviceRemoved(node);
      }
    }
  }

  // The hidraw event itself does not name the device; its parent HID device does.
  bool hidIdOf(const Uevent& event, ushort* vendorId, ushort* productId) const {
    if (!event.hidId.isEmpty()) return parseHidId(event.hidId, vendorId, productId);
    if (event.devPath.isEmpty() || event.devPath.contains(QLatin1String(".."))) return false;
    QFile uevent(m_sysRoot + event.devPath + QStringLiteral("/device/uevent"));
    if (!uevent.open(QIODevice::ReadOnly)) return false;
    const QList<QByteArray> lines = uevent.read(16384).split('\n');
    for (const QByteArray& line : lines)
      if (line.startsWith("HID_ID="))
        return parseHidId(QString::fromLatin1(line.mid(7)), vendorId, productId);
    return false;
  }

  HIDHotplugMonitor* m_monitor;
  int m_fd;
  QString m_sysRoot;
  QSocketNotifier* m_notifier = nullptr;
};

}  // namespace

namespace hid::platform {

QList<HIDHotplugMonitor::Source> hotplugOrderFor(bool udevDaemonRuns) {
  using Source = HIDHotplugMonitor::Source;
  // Events through udev come after its rules ran, so the node already has its access
  // rights; without a daemon nothing would ever arrive on the udev socket.
  if (udevDaemonRuns) return {Source::Udev, Source::Kernel, Source::Poll};
  return {Source::Kernel, Source::Poll};
}

QList<HIDHotplugMonitor::Source> hotplugOrder() {
  return hotplugOrderFor(::access("/run/udev/control", F_OK) == 0);
}

std::unique_ptr<HIDHotplugBackend> createHotplugBackend(HIDHotplugMonitor::Source source,
                                                        HIDHotplugMonitor* monitor,
                                                        QString* error) {
  switch (source) {
    case HIDHotplugMonitor::Source::Udev:
      return UdevBackend::create(monitor, error);
    case HIDHotplugMonitor::Source::Kernel:
      return KernelBackend::create(monitor, error);
    default:
      *error = QStringLiteral("not a platform source");
      return nullptr;
  }
}

}  // namespace hid::platform
