// The udev and kernel hot-plug sources against an emulated hidraw device (umockdev).
// The test runs with libumockdev-preload in LD_PRELOAD (see CMakeLists.txt).
#include <umockdev.h>
// glib first: Qt's keyword macros would clash with its headers.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include "hotplug.h"

namespace {

QString take(gchar* text) {
  const QString result = QString::fromUtf8(text);
  g_free(text);
  return result;
}

}  // namespace

class TestHIDHotplug : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (!qEnvironmentVariable("LD_PRELOAD").contains("umockdev"))
      QSKIP("needs libumockdev-preload in LD_PRELOAD; run through ctest");
  }

  void sourceReportsArrivalAndRemoval_data() {
    QTest::addColumn<QString>("source");
    QTest::newRow("udev") << "udev";
    QTest::newRow("kernel") << "kernel";
  }
  void sourceReportsArrivalAndRemoval() {
    QFETCH(QString, source);
    UMockdevTestbed* testbed = umockdev_testbed_new();
    const QString root = take(umockdev_testbed_get_root_dir(testbed));

    const QString usb = take(umockdev_testbed_add_device(testbed, "usb", "1-1", nullptr, "idVendor",
                                                         "2e3c", "idProduct", "0a15", nullptr,
                                                         "DEVTYPE", "usb_device", nullptr));
    const QString interface = take(umockdev_testbed_add_device(
        testbed, "usb", "1-1:1.2", usb.toUtf8().constData(), "bInterfaceNumber", "02", nullptr,
        "DEVTYPE", "usb_interface", nullptr));
    const QString hid = take(umockdev_testbed_add_device(
        testbed, "hid", "0003:2E3C:0A15.0001", interface.toUtf8().constData(), nullptr, "HID_ID",
        "0003:00002E3C:00000A15", "HID_NAME", "Stelvox display", "HID_UNIQ", "SIM1", nullptr));

    qputenv("STELVOX_HOTPLUG", source.toLatin1());
    HIDHotplugMonitor monitor;
    QVERIFY(monitor.start());
    QCOMPARE(HIDHotplugMonitor::sourceName(monitor.source()), source);
    QSignalSpy arrived(&monitor, &HIDHotplugMonitor::deviceArrived);
    QSignalSpy removed(&monitor, &HIDHotplugMonitor::deviceRemoved);

    // This umockdev makes neither the node nor the hidraw device's "device" link.
    QVERIFY(QDir(root).mkpath("dev"));
    QFile node(root + "/dev/hidraw0");
    QVERIFY(node.open(QIODevice::WriteOnly));
    node.close();
    const QString rawDir = root + hid + "/hidraw/hidraw0";
    QVERIFY(QDir().mkpath(rawDir));
    QVERIFY(::symlink("../..", QFile::encodeName(rawDir + "/device").constData()) == 0);
    const QString raw = take(umockdev_testbed_add_device(testbed, "hidraw", "hidraw/hidraw0",
                                                         hid.toUtf8().constData(), nullptr,
                                                         "DEVNAME", "hidraw0", nullptr));

    QVERIFY(arrived.wait(20000));
    QCOMPARE(arrived.first().at(0).toString(), "/dev/hidraw0");
    QCOMPARE(arrived.first().at(1).value<ushort>(), ushort(0x2E3C));
    QCOMPARE(arrived.first().at(2).value<ushort>(), ushort(0x0A15));

    umockdev_testbed_uevent(testbed, raw.toUtf8().constData(), "remove");
    QVERIFY(removed.wait(20000));
    QCOMPARE(removed.first().at(0).toString(), "/dev/hidraw0");

    monitor.stop();
    // Children first, each announced, or the next testbed trips over stale links.
    for (const QString& path : {raw, hid, interface, usb}) {
      if (path != raw) umockdev_testbed_uevent(testbed, path.toUtf8().constData(), "remove");
      umockdev_testbed_remove_device(testbed, path.toUtf8().constData());
    }
    g_object_unref(testbed);
  }
};

QTEST_GUILESS_MAIN(TestHIDHotplug)
#include "tst_hidhotplug.moc"
