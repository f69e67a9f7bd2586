// Decoding of device-change messages, hot-plug events and enumeration diffs; the choice of
// the hot-plug source and the packaged udev rule.
#include <QtTest>

#include "devicechange.h"
#include "hotplug.h"
#include "hotplug_p.h"

namespace {

// One device on the way from a hidraw node up to the USB device, as udev matches it.
struct UdevDevice {
  QString kernel;
  QString subsystem;
  QMap<QString, QString> attributes;
};

bool globMatches(const QString& pattern, const QString& text) {
  return QRegularExpression(QRegularExpression::anchoredPattern(
                                QRegularExpression::wildcardToRegularExpression(pattern)))
      .match(text)
      .hasMatch();
}

// Whether every match key of a rule holds: the node's own keys on the node, the parent
// keys (KERNELS, SUBSYSTEMS, ATTRS) all on one and the same device of the chain.
bool ruleMatches(const QList<QPair<QString, QString>>& matches, const QList<UdevDevice>& chain) {
  QList<QPair<QString, QString>> parentKeys;
  for (const auto& match : matches) {
    if (match.first == "SUBSYSTEM") {
      if (!globMatches(match.second, chain.first().subsystem)) return false;
    } else if (match.first == "KERNEL") {
      if (!globMatches(match.second, chain.first().kernel)) return false;
    } else {
      parentKeys << match;
    }
  }
  for (const UdevDevice& device : chain) {
    bool all = true;
    for (const auto& key : qAsConst(parentKeys)) {
      if (key.first == "KERNELS")
        all = all && globMatches(key.second, device.kernel);
      else if (key.first == "SUBSYSTEMS")
        all = all && globMatches(key.second, device.subsystem);
      else if (key.first.startsWith("ATTRS{"))
        all = all && device.attributes.contains(key.first.mid(6).chopped(1)) &&
              globMatches(key.second, device.attributes.value(key.first.mid(6).chopped(1)));
      else
        all = false;  // a key this check does not know: fail loudly
    }
    if (all) return true;
  }
  return false;
}

}  // namespace

class TestHIDParsing : public QObject {
  Q_OBJECT

 private slots:
  void deviceChange_data() {
    QTest::addColumn<quint32>("message");
    QTest::addColumn<quint64>("wParam");
    QTest::addColumn<bool>("hasBroadcast");
    QTest::addColumn<quint32>("deviceType");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("vendorId");
    QTest::addColumn<int>("productId");

    const QString name = QStringLiteral(
        "\\\\?\\hid#vid_2e3c&pid_0a15&mi_02#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-"
        "001111000030}");
    QTest::newRow("arrival") << kWmDeviceChange << quint64(kDbtDeviceArrival) << true << 5u << name
                             << int(DeviceChange::Arrival) << 0x2E3C << 0x0A15;
    QTest::newRow("removal") << kWmDeviceChange << quint64(kDbtDeviceRemoveComplete) << true << 5u
                             << name << int(DeviceChange::Removal) << 0 << 0;
    QTest::newRow("other message") << 0x0010u << quint64(kDbtDeviceArrival) << true << 5u << name
                                   << int(DeviceChange::None) << 0 << 0;
    QTest::newRow("other event") << kWmDeviceChange << quint64(0x0007) << true << 5u << name
                                 << int(DeviceChange::None) << 0 << 0;
    QTest::newRow("null lParam") << kWmDeviceChange << quint64(kDbtDeviceArrival) << false << 5u
                                 << name << int(DeviceChange::None) << 0 << 0;
    QTest::newRow("volume, not an interface")
        << kWmDeviceChange << quint64(kDbtDeviceArrival) << true << 2u << name
        << int(DeviceChange::None) << 0 << 0;
    QTest::newRow("no second # part") << kWmDeviceChange << quint64(kDbtDeviceArrival) << true << 5u
                                      << "\\\\?\\hid" << int(DeviceChange::None) << 0 << 0;
    QTest::newRow("one & part") << kWmDeviceChange << quint64(kDbtDeviceArrival) << true << 5u
                                << "\\\\?\\hid#vid_2e3c#x" << int(DeviceChange::None) << 0 << 0;
    QTest::newRow("unparsable ids give 0")
        << kWmDeviceChange << quint64(kDbtDeviceArrival) << true << 5u << "a#vid_zz&pid#b"
        << int(DeviceChange::Arrival) << 0 << 0;
    QTest::newRow("empty first part kept")
        << kWmDeviceChange << quint64(kDbtDeviceArrival) << true << 5u << "#VID_1&PID_2"
        << int(DeviceChange::Arrival) << 1 << 2;
    QTest::newRow("removal needs no # parts")
        << kWmDeviceChange << quint64(kDbtDeviceRemoveComplete) << true << 5u << "anything"
        << int(DeviceChange::Removal) << 0 << 0;
  }
  void deviceChange() {
    QFETCH(quint32, message);
    QFETCH(quint64, wParam);
    QFETCH(bool, hasBroadcast);
    QFETCH(quint32, deviceType);
    QFETCH(QString, name);
    QFETCH(int, kind);
    QFETCH(int, vendorId);
    QFETCH(int, productId);
    const DeviceBroadcast broadcast{deviceType, name};
    const DeviceChange change =
        decodeDeviceChange(message, quintptr(wParam), hasBroadcast ? &broadcast : nullptr);
    QCOMPARE(int(change.kind), kind);
    QCOMPARE(int(change.vendorId), vendorId);
    QCOMPARE(int(change.productId), productId);
    if (kind != DeviceChange::None) QCOMPARE(change.path, name.toUpper());
  }

  void hidId_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("vendorId");
    QTest::addColumn<int>("productId");
    QTest::newRow("usb") << "0003:00002E3C:00000A15" << true << 0x2E3C << 0x0A15;
    QTest::newRow("lower case, newline") << "0003:00002e3c:00000a15\n" << true << 0x2E3C << 0x0A15;
    QTest::newRow("two parts") << "0003:00002E3C" << false << 0 << 0;
    QTest::newRow("not hex") << "0003:XYZ:00000A15" << false << 0 << 0;
    QTest::newRow("too large") << "0003:00012E3C:00000A15" << false << 0 << 0;
    QTest::newRow("empty") << "" << false << 0 << 0;
  }
  void hidId() {
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, vendorId);
    QFETCH(int, productId);
    ushort vendor = 0, product = 0;
    QCOMPARE(parseHidId(text, &vendor, &product), ok);
    if (ok) {
      QCOMPARE(int(vendor), vendorId);
      QCOMPARE(int(product), productId);
    }
  }

  void kernelUevent() {
    const QByteArray message(
        "add@/devices/pci0000:00/usb1/1-1/1-1:1.2/0003:2E3C:0A15.0001/hidraw/hidraw3\0"
        "ACTION=add\0DEVPATH=/devices/pci0000:00/usb1/1-1/1-1:1.2/0003:2E3C:0A15.0001/hidraw/"
        "hidraw3\0SUBSYSTEM=hidraw\0MAJOR=243\0MINOR=3\0DEVNAME=hidraw3\0SEQNUM=4242",
        sizeof(
            "add@/devices/pci0000:00/usb1/1-1/1-1:1.2/0003:2E3C:0A15.0001/hidraw/hidraw3\0"
            "ACTION=add\0DEVPATH=/devices/pci0000:00/usb1/1-1/1-1:1.2/0003:2E3C:0A15.0001/"
            "hidraw/hidraw3\0SUBSYSTEM=hidraw\0MAJOR=243\0MINOR=3\0DEVNAME=hidraw3\0SEQNUM=4242") -
            1);
    Uevent event;
    QVERIFY(parseUevent(message, &event));
    QCOMPARE(event.action, "add");
    QCOMPARE(event.subsystem, "hidraw");
    QCOMPARE(event.devName, "hidraw3");
    QVERIFY(event.devPath.endsWith("/hidraw/hidraw3"));
  }

  void libudevUevent() {
    QByteArray properties("ACTION=remove\0SUBSYSTEM=hidraw\0DEVNAME=/dev/hidraw1\0", 52);
    QByteArray message(40, '\0');
    memcpy(message.data(), "libudev", 8);
    const quint32 offset = 40, length = quint32(properties.size());
    memcpy(message.data() + 16, &offset, 4);
    memcpy(message.data() + 20, &length, 4);
    message += properties;
    Uevent event;
    QVERIFY(parseUevent(message, &event));
    QCOMPARE(event.action, "remove");
    QCOMPARE(event.devName, "/dev/hidraw1");
  }

  void malformedUevents_data() {
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("no header") << QByteArray("ACTION=add\0SUBSYSTEM=hidraw", 27);
    QTest::newRow("no subsystem") << QByteArray("add@/x\0ACTION=add", 17);
    QByteArray badOffset(24, '\0');
    memcpy(badOffset.data(), "libudev", 8);
    const quint32 offset = 4000;
    memcpy(badOffset.data() + 16, &offset, 4);
    QTest::newRow("libudev offset past the end") << badOffset;
    QByteArray shortHeader("libudev\0\0\0", 10);
    QTest::newRow("libudev header cut") << shortHeader;
  }
  void malformedUevents() {
    QFETCH(QByteArray, message);
    Uevent event;
    QVERIFY(!parseUevent(message, &event));
  }

  void interfaceDiff() {
    const HIDInterfaceMap before{{"/dev/hidraw0", {0x2E3C, 0x0A15}},
                                 {"/dev/hidraw1", {0x046D, 0xC52B}},
                                 {"/dev/hidraw2", {0x2E3C, 0x0A15}}};
    const HIDInterfaceMap after{{"/dev/hidraw0", {0x2E3C, 0x0A15}},
                                {"/dev/hidraw2", {0x1234, 0x0001}},  // reused node
                                {"/dev/hidraw3", {0x2E3C, 0x0A15}}};
    QStringList arrived, removed;
    diffInterfaces(before, after, &arrived, &removed);
    QCOMPARE(removed, QStringList({"/dev/hidraw1", "/dev/hidraw2"}));
    QCOMPARE(arrived, QStringList({"/dev/hidraw2", "/dev/hidraw3"}));

    arrived.clear();
    removed.clear();
    diffInterfaces(after, after, &arrived, &removed);
    QVERIFY(arrived.isEmpty() && removed.isEmpty());
  }

  void forcedSourceNames() {
    QCOMPARE(HIDHotplugMonitor::forcedSource("udev"), HIDHotplugMonitor::Source::Udev);
    QCOMPARE(HIDHotplugMonitor::forcedSource(" Kernel "), HIDHotplugMonitor::Source::Kernel);
    QCOMPARE(HIDHotplugMonitor::forcedSource("poll"), HIDHotplugMonitor::Source::Poll);
    QCOMPARE(HIDHotplugMonitor::forcedSource("usb"), HIDHotplugMonitor::Source::None);
  }

  // Which sources start() tries, in order.
  void hotplugSourceChoice_data() {
    QTest::addColumn<QString>("forced");
    QTest::addColumn<bool>("udevDaemon");
    QTest::addColumn<QString>("expected");
    QTest::newRow("udev daemon runs") << "" << true << "udev kernel poll";
    QTest::newRow("no udev daemon (container)") << "" << false << "kernel poll";
    QTest::newRow("forced") << "poll" << true << "poll";
    QTest::newRow("forced without its daemon") << "udev" << false << "udev";
    QTest::newRow("unknown name") << "usb" << true << "udev kernel poll";
  }
  void hotplugSourceChoice() {
    QFETCH(QString, forced);
    QFETCH(bool, udevDaemon);
    QFETCH(QString, expected);
    QStringList names;
    for (auto source :
         HIDHotplugMonitor::sourcesToTry(forced, hid::platform::hotplugOrderFor(udevDaemon)))
      names << HIDHotplugMonitor::sourceName(source);
    QCOMPARE(names.join(' '), expected);
  }

  // The packaged rule opens the displays' hidraw nodes, and only theirs, to the seat's user.
  void udevRule_data() {
    QTest::addColumn<QString>("hidName");    // the HID device's kernel name
    QTest::addColumn<QString>("usbVendor");  // idVendor as sysfs writes it; empty: not USB
    QTest::addColumn<QString>("usbProduct");
    QTest::addColumn<bool>("granted");
    QTest::newRow("display over USB") << "0003:2E3C:0A15.0001"
                                      << "2e3c"
                                      << "0a15" << true;
    QTest::newRow("display over Bluetooth") << "0005:2E3C:0A15.0002"
                                            << ""
                                            << "" << true;
    QTest::newRow("other product") << "0003:2E3C:0A16.0003"
                                   << "2e3c"
                                   << "0a16" << false;
    QTest::newRow("other vendor") << "0003:046D:0A15.0004"
                                  << "046d"
                                  << "0a15" << false;
  }
  void udevRule() {
    QFETCH(QString, hidName);
    QFETCH(QString, usbVendor);
    QFETCH(QString, usbProduct);
    QFETCH(bool, granted);
    const QString rulesPath =
        qEnvironmentVariable("STELVOX_SOURCE_DIR") + "/packaging/71-stelvox.rules";
    // Sorted before 73-seat-late.rules, which turns the uaccess tag into an access right.
    QVERIFY(QFileInfo(rulesPath).fileName() < QStringLiteral("73-seat-late.rules"));
    QFile file(rulesPath);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(rulesPath));

    QList<UdevDevice> chain{{"hidraw0", "hidraw", {}}, {hidName, "hid", {}}};
    if (!usbVendor.isEmpty()) {
      chain.append({"1-1:1.2", "usb", {{"bInterfaceNumber", "02"}}});
      chain.append({"1-1", "usb", {{"idVendor", usbVendor}, {"idProduct", usbProduct}}});
    }
    const QRegularExpression pair("([A-Z]+(?:\\{\\w+\\})?)\\s*(==|!=|\\+=|:=|=)\\s*\"([^\"]*)\"");
    bool uaccess = false;
    int rules = 0;
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
      if (line.trimmed().isEmpty() || line.trimmed().startsWith('#')) continue;
      ++rules;
      QList<QPair<QString, QString>> matches;
      QStringList assignments;
      for (auto it = pair.globalMatch(line); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QVERIFY2(m.captured(2) != "!=", qPrintable(line));
        if (m.captured(2) == "==")
          matches << qMakePair(m.captured(1), m.captured(3));
        else
          assignments << m.captured(1) + m.captured(2) + m.captured(3);
      }
      QVERIFY2(matches.contains(qMakePair(QString("SUBSYSTEM"), QString("hidraw"))),
               qPrintable(line));
      if (ruleMatches(matches, chain)) uaccess = uaccess || assignments.contains("TAG+=uaccess");
    }
    QVERIFY(rules > 0);
    QCOMPARE(uaccess, granted);
  }
};

QTEST_APPLESS_MAIN(TestHIDParsing)
#include "tst_hidparsing.moc"
