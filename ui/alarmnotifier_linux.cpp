// Desktop notifications through the freedesktop notification service on the session
// bus. The call is asynchronous: a slow or missing service never holds up the window.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include "alarmnotifier.h"
#include "constants.h"

namespace ui::platform {

void sendDesktopNotification(const QString& title, const QString& body,
                             std::function<void()> fallback) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    fallback();
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"),
      QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(2)));  // critical
  call << COMMON::kApplicationName << uint(0) << QStringLiteral("dialog-warning") << title << body
       << QStringList() << hints << int(-1);
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                   [watcher, fallback = std::move(fallback)]() {
                     if (watcher->isError()) fallback();
                     watcher->deleteLater();
                   });
}

}  // namespace ui::platform
