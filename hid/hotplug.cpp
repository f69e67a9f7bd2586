#include "hotplug.h"

#include <QTimer>

#include "hidapiguard.h"
#include "hotplug_p.h"
#include "rslogger.h"

namespace {

const char* const kStartSource = "HIDHotplugMonitor::start";

HIDInterfaceMap enumerateInterfaces() {
  HIDInterfaceMap interfaces;
  for (const HIDInterface& entry : hidguard::enumerate())
    interfaces.insert(QString::fromLocal8Bit(entry.path), {entry.vendorId, entry.productId});
  return interfaces;
}

// The portable fallback: compare enumerations every two seconds.
class PollBackend : public HIDHotplugBackend {
 public:
  explicit PollBackend(HIDHotplugMonitor* monitor) : m_known(enumerateInterfaces()) {
    m_timer.setInterval(HIDHotplugMonitor::kPollIntervalMs);
    QObject::connect(&m_timer, &QTimer::timeout, monitor, [this, monitor] {
      const HIDInterfaceMap now = enumerateInterfaces();
      QStringList arrived, removed;
      diffInterfaces(m_known, now, &arrived, &removed);
      m_known = now;
      for (const QString& path : qAsConst(removed)) emit monitor->deviceRemoved(path);
      for (const QString& path : qAsConst(arrived)) {
        const HIDInterfaceId id = now.value(path);
        emit monitor->deviceArrived(path, id.vendorId, id.productId);
      }
    });
    m_timer.start();
  }

 private:
  HIDInterfaceMap m_known;
  QTimer m_timer;
};

}  // namespace

HIDHotplugMonitor::HIDHotplugMonitor(QObject* parent) : QObject(parent) {}

HIDHotplugMonitor::~HIDHotplugMonitor() = default;

QString HIDHotplugMonitor::sourceName(Source source) {
  switch (source) {
    case Source::Udev:
      return QStringLiteral("udev");
    case Source::Kernel:
      return QStringLiteral("kernel");
    case Source::Poll:
      return QStringLiteral("poll");
    case Source::None:
      break;
  }
  return QStringLiteral("none");
}

HIDHotplugMonitor::Source HIDHotplugMonitor::forcedSource(const QString& value) {
  const QString name = value.trimmed().toLower();
  for (Source source : {Source::Udev, Source::Kernel, Source::Poll})
    if (name == sourceName(source)) return source;
  return Source::None;
}

bool HIDHotplugMonitor::startSource(Source source) {
  QString error;
  if (source == Source::Poll)
    m_backend = std::make_unique<PollBackend>(this);
  else
    m_backend = hid::platform::createHotplugBackend(source, this, &error);
  if (!m_backend) {
    RSLogger::instance()->writeLog(
        RSLogger::LevelWarning,
        QStringLiteral("HID hot-plug source \"%1\" unavailable: %2").arg(sourceName(source), error),
        kStartSource);
    return false;
  }
  m_source = source;
  RSLogger::instance()->writeLog(RSLogger::LevelInfo,
                                 QStringLiteral("HID hot-plug source: %1").arg(sourceName(source)),
                                 kStartSource);
  return true;
}

QList<HIDHotplugMonitor::Source> HIDHotplugMonitor::sourcesToTry(
    const QString& forcedName, const QList<Source>& platformOrder) {
  const Source forced = forcedSource(forcedName);
  if (forced != Source::None) return {forced};
  QList<Source> order = platformOrder;
  if (!order.contains(Source::Poll)) order.append(Source::Poll);
  return order;
}

bool HIDHotplugMonitor::start() {
  stop();
  const QString forcedName = qEnvironmentVariable("STELVOX_HOTPLUG");
  if (!forcedName.isEmpty() && forcedSource(forcedName) == Source::None)
    RSLogger::instance()->writeLog(
        RSLogger::LevelWarning,
        QStringLiteral("STELVOX_HOTPLUG=%1 is not one of udev, kernel, poll; choosing a source.")
            .arg(forcedName),
        kStartSource);
  const QList<Source> order = sourcesToTry(forcedName, hid::platform::hotplugOrder());
  // A forced source that cannot run leaves the program without hot-plug, as asked.
  for (Source source : order)
    if (startSource(source)) return true;
  return false;
}

void HIDHotplugMonitor::stop() {
  m_backend.reset();
  m_source = Source::None;
}

void diffInterfaces(const HIDInterfaceMap& before, const HIDInterfaceMap& after,
                    QStringList* arrived, QStringList* removed) {
  for (auto it = before.cbegin(); it != before.cend(); ++it) {
    const auto now = after.constFind(it.key());
    if (now == after.cend() || !(now.value() == it.value())) removed->append(it.key());
  }
  for (auto it = after.cbegin(); it != after.cend(); ++it) {
    const auto was = before.constFind(it.key());
    if (was == before.cend() || !(was.value() == it.value())) arrived->append(it.key());
  }
}

bool parseHidId(const QString& hidId, ushort* vendorId, ushort* productId) {
  const QStringList parts = hidId.trimmed().split(QLatin1Char(':'));
  if (parts.size() != 3) return false;
  bool vendorOk = false, productOk = false;
  const uint vendor = parts.at(1).toUInt(&vendorOk, 16);
  const uint product = parts.at(2).toUInt(&productOk, 16);
  if (!vendorOk || !productOk || vendor > 0xFFFF || product > 0xFFFF) return false;
  *vendorId = static_cast<ushort>(vendor);
  *productId = static_cast<ushort>(product);
  return true;
}

bool parseUevent(const QByteArray& message, Uevent* event) {
  // A libudev message starts with its own header and says where the properties start;
  // a kernel message starts with "action@devpath" and the properties follow it.
  int start = 0;
  static const QByteArray kLibudevPrefix("libudev\0", 8);
  if (message.startsWith(kLibudevPrefix)) {
    if (message.size() < 24) return false;
    quint32 offset = 0, length = 0;
    memcpy(&offset, message.constData() + 16, sizeof offset);
    memcpy(&length, message.constData() + 20, sizeof length);
    if (offset < 24 || offset > quint32(message.size()) ||
        length > quint32(message.size()) - offset)
      return false;
    start = int(offset);
  } else {
    const int end = message.indexOf('\0');
    if (end < 0 || !message.left(end).contains('@')) return false;
    start = end + 1;
  }

  *event = Uevent();
  while (start < message.size()) {
    int end = message.indexOf('\0', start);
    if (end < 0) end = message.size();
    const QByteArray field = message.mid(start, end - start);
    start = end + 1;
    const int equals = field.indexOf('=');
    if (equals <= 0) continue;
    const QByteArray key = field.left(equals);
    const QString value = QString::fromUtf8(field.mid(equals + 1));
    if (key == "ACTION")
      event->action = value;
    else if (key == "SUBSYSTEM")
      event->subsystem = value;
    else if (key == "DEVNAME")
      event->devName = value;
    else if (key == "DEVPATH")
      event->devPath = value;
    else if (key == "HID_ID")
      event->hidId = value;
  }
  return !event->action.isEmpty() && !event->subsystem.isEmpty();
}
