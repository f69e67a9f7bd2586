// Decoding of device-change messages, hot-plug events and enumeration diffs.
#include <QtTest>

#include "devicechange.h"
#include "hotplug.h"

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
};

QTEST_APPLESS_MAIN(TestHIDParsing)
#include "tst_hidparsing.moc"
