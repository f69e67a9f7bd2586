// Linux: Qt shows the icon as a StatusNotifierItem when a watcher runs on the session
// bus, else in an X11 notification area. Both questions are asked with a short bound:
// they run on the GUI thread at start-up.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

#include "startupreport.h"

namespace COMMON::platform {

namespace {

constexpr int kBusTimeoutMs = 1000;
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");

bool statusNotifierHostRuns() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage get = QDBusMessage::createMethodCall(
      kWatcher, QStringLiteral("/StatusNotifierWatcher"),
      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
  const QDBusMessage reply = bus.call(get, QDBus::Block, kBusTimeoutMs);
  return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
         reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

}  // namespace

QString notificationAreaDescription(bool x11Tray) {
  if (!QDBusConnection::sessionBus().isConnected() && !x11Tray)
    return QStringLiteral(
        "Notification area: none found and no D-Bus session bus; the icon appears when a "
        "panel with a notification area starts. Start the program again to open its window.");
  if (statusNotifierHostRuns())
    return QStringLiteral("Notification area: StatusNotifierItem over D-Bus.");
  if (x11Tray) return QStringLiteral("Notification area: X11 system tray.");
  return QStringLiteral(
      "Notification area: none found (on GNOME, the AppIndicator extension provides one); "
      "the icon appears when one starts. Start the program again to open its window.");
}

}  // namespace COMMON::platform
