// The tray icon on today's desktops: on a private session bus with a small
// StatusNotifierWatcher, the real program registers its item, and the item carries the
// icon, the tool tip and a menu with the tray menu's entries.
#include <signal.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// Just enough of a watcher for Qt: it looks for a host before it registers an item.
class Watcher : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
  Q_PROPERTY(int ProtocolVersion READ protocolVersion)
  Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

 public:
  bool hostRegistered() const { return true; }
  int protocolVersion() const { return 0; }
  QStringList items() const { return m_items; }

 public slots:
  void RegisterStatusNotifierItem(const QString& service) {
    m_items << service;
    emit StatusNotifierItemRegistered(service);
  }
  void RegisterStatusNotifierHost(const QString&) {}

 signals:
  void StatusNotifierItemRegistered(const QString& service);
  void StatusNotifierHostRegistered();

 private:
  QStringList m_items;
};

namespace {

// The labels of a com.canonical.dbusmenu layout, depth first: (ia{sv}av).
void collectLabels(const QDBusArgument& node, QStringList* labels) {
  int id = 0;
  QVariantMap properties;
  node.beginStructure();
  node >> id >> properties;
  if (properties.contains(QStringLiteral("label")))
    labels->append(properties.value(QStringLiteral("label")).toString());
  node.beginArray();
  while (!node.atEnd()) {
    QDBusVariant child;
    node >> child;
    collectLabels(child.variant().value<QDBusArgument>(), labels);
  }
  node.endArray();
  node.endStructure();
}

// The icon pixmaps of an item, a(iiay): the number of well-formed ones.
int readPixmaps(const QDBusArgument& rows) {
  int pixmaps = 0;
  rows.beginArray();
  while (!rows.atEnd()) {
    int width = 0, height = 0;
    QByteArray argb;
    rows.beginStructure();
    rows >> width >> height >> argb;
    rows.endStructure();
    pixmaps += width > 0 && argb.size() == width * height * 4 ? 1 : 0;
  }
  rows.endArray();
  return pixmaps;
}

}  // namespace

class TstTray : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void registersItemWithIconToolTipAndMenu();

 private:
  QVariant itemProperty(const QString& name);

  QTemporaryDir m_work;
  QProcess m_xvfb;
  QProcess m_bus;
  QProcess m_program;
  QString m_address;
  Watcher m_watcher;
  QString m_item;
};

void TstTray::initTestCase() {
  for (const char* tool : {"Xvfb", "dbus-daemon"})
    if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
      QSKIP(qPrintable(QStringLiteral("%1 is not installed (make deps)").arg(tool)));
  QVERIFY(m_work.isValid());
  for (QProcess* p : {&m_xvfb, &m_bus}) p->setProcessChannelMode(QProcess::SeparateChannels);
  m_xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                        QStringLiteral("-nolisten"), QStringLiteral("tcp")});
  m_bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--session"), QStringLiteral("--nofork"),
               QStringLiteral("--print-address=1")});
  for (QProcess* p : {&m_xvfb, &m_bus}) {
    QElapsedTimer clock;
    clock.start();
    while (!p->canReadLine() && clock.elapsed() < 30000) p->waitForReadyRead(500);
    QVERIFY2(p->canReadLine(), p->readAllStandardError().constData());
  }
  const QString display = QStringLiteral(":") + QString::fromLatin1(m_xvfb.readLine().trimmed());
  m_address = QString::fromLatin1(m_bus.readLine().trimmed());

  QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("watcher"));
  QVERIFY(bus.isConnected());
  QVERIFY(bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &m_watcher,
                             QDBusConnection::ExportAllContents));
  QVERIFY(bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));

  // A copy of its own, so that its log stays out of the build folder.
  const QString program = m_work.filePath(QStringLiteral("stelvox"));
  QVERIFY(QFile::copy(qEnvironmentVariable("STELVOX_PROGRAM"), program));
  QVERIFY(QFile::link(qEnvironmentVariable("STELVOX_CPULOAD"),
                      m_work.filePath(QStringLiteral("stelvox-cpuload"))));
  for (const char* folder : {"config", "state", "runtime"})
    QVERIFY(QDir(m_work.path()).mkpath(QString::fromLatin1(folder)));
  QFile::setPermissions(m_work.filePath(QStringLiteral("runtime")),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  QFile devices(m_work.filePath(QStringLiteral("devsim.conf")));
  QVERIFY(devices.open(QIODevice::WriteOnly));
  devices.write("/dev/hidraw-tray serial=SIM-0001\n");
  devices.close();

  const QString fixture =
      qEnvironmentVariable("STELVOX_SOURCE_DIR") + QStringLiteral("/tests/fixtures/amd-desktop");
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DISPLAY"), display);
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_work.filePath(QStringLiteral("config")));
  env.insert(QStringLiteral("XDG_STATE_HOME"), m_work.filePath(QStringLiteral("state")));
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_work.filePath(QStringLiteral("runtime")));
  env.insert(QStringLiteral("HOST_SYS"), fixture + QStringLiteral("/sys"));
  env.insert(QStringLiteral("HOST_PROC"), fixture + QStringLiteral("/proc"));
  env.insert(QStringLiteral("LD_PRELOAD"), qEnvironmentVariable("STELVOX_DEVSIM"));
  env.insert(QStringLiteral("STELVOX_DEVSIM_CONFIG"), devices.fileName());
  env.insert(QStringLiteral("STELVOX_HOTPLUG"), QStringLiteral("poll"));
  env.insert(QStringLiteral("ASAN_OPTIONS"),
             QStringLiteral("verify_asan_link_order=0:detect_leaks=0:handle_segv=0:"
                            "handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:handle_abort=0"));
  m_program.setProcessEnvironment(env);
  m_program.setWorkingDirectory(m_work.path());
  m_program.setProcessChannelMode(QProcess::ForwardedChannels);
  m_program.start(program, QStringList());
  QVERIFY(m_program.waitForStarted(15000));
}

void TstTray::cleanupTestCase() {
  if (m_program.state() != QProcess::NotRunning) {
    ::kill(static_cast<pid_t>(m_program.processId()), SIGTERM);
    if (!m_program.waitForFinished(30000)) m_program.kill();
  }
  for (QProcess* p : {&m_bus, &m_xvfb}) {
    p->terminate();
    if (!p->waitForFinished(10000)) p->kill();
  }
}

QVariant TstTray::itemProperty(const QString& name) {
  QDBusMessage get = QDBusMessage::createMethodCall(
      m_item, QStringLiteral("/StatusNotifierItem"),
      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << QStringLiteral("org.kde.StatusNotifierItem") << name;
  const QDBusMessage reply =
      QDBusConnection(QStringLiteral("watcher")).call(get, QDBus::Block, 10000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
  return reply.arguments().first().value<QDBusVariant>().variant();
}

void TstTray::registersItemWithIconToolTipAndMenu() {
  QTRY_VERIFY_WITH_TIMEOUT(!m_watcher.items().isEmpty(), 60000);
  m_item = m_watcher.items().first();

  // The icon travels as a name the desktop looks up or as pixmaps.
  const QVariant iconPixmap = itemProperty(QStringLiteral("IconPixmap"));
  const int pixmaps =
      iconPixmap.canConvert<QDBusArgument>() ? readPixmaps(iconPixmap.value<QDBusArgument>()) : 0;
  const QString iconName = itemProperty(QStringLiteral("IconName")).toString();
  QVERIFY2(pixmaps > 0 || !iconName.isEmpty(), "the item carries no icon");

  // ToolTip: (icon name, pixmaps, title, text).
  const QDBusArgument toolTip = itemProperty(QStringLiteral("ToolTip")).value<QDBusArgument>();
  QString tipIcon, title, text;
  toolTip.beginStructure();
  toolTip >> tipIcon;
  readPixmaps(toolTip);
  toolTip >> title >> text;
  toolTip.endStructure();
  // The fixed title first, then the values of the latest sample.
  QVERIFY2(title.startsWith(QStringLiteral("Device Monitor Application - Monitoring")),
           qPrintable(title));

  const QString menu = itemProperty(QStringLiteral("Menu")).value<QDBusObjectPath>().path();
  QVERIFY2(!menu.isEmpty() && menu != QStringLiteral("/"), qPrintable(menu));
  QStringList labels;
  const auto readLayout = [&]() {
    QDBusMessage get = QDBusMessage::createMethodCall(
        m_item, menu, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
    get << 0 << -1 << QStringList{QStringLiteral("label")};
    const QDBusMessage reply =
        QDBusConnection(QStringLiteral("watcher")).call(get, QDBus::Block, 10000);
    labels.clear();
    if (reply.arguments().size() == 2)
      collectLabels(reply.arguments().at(1).value<QDBusArgument>(), &labels);
    return labels;
  };
  // The device submenu fills once the simulated display is recognised.
  QTRY_VERIFY_WITH_TIMEOUT(
      !readLayout().filter(QRegularExpression(QStringLiteral("^ZRT\\(.+\\)$"))).isEmpty(), 60000);
  for (const char* entry : {"Devices", "Settings", "Update", "About", "Quit"})
    QVERIFY2(labels.contains(QString::fromLatin1(entry)), qPrintable(labels.join(", ")));
}

QTEST_GUILESS_MAIN(TstTray)
#include "tst_tray.moc"
