#include <QLabel>
#include <QTest>

#include "caboutdlg.h"
#include "constants.h"
#include "hiddevicesmanager.h"
#include "uitesthelpers.h"

class TestAboutDlg : public QObject {
  Q_OBJECT

 private slots:
  void versions_data();
  void versions();
  void formInEachLanguage_data();
  void formInEachLanguage();
  void closingDoesNotEndTheProgram();

 private:
  static QString label(const CAboutDlg& dialog, const char* name) {
    const auto* l = dialog.findChild<QLabel*>(QLatin1String(name));
    return l ? l->text() : QStringLiteral("<missing>");
  }
};

void TestAboutDlg::versions_data() {
  QTest::addColumn<bool>("withDevice");
  QTest::addColumn<QString>("hardware");
  QTest::addColumn<QString>("firmware");
  QTest::addColumn<QString>("shownHardware");
  QTest::addColumn<QString>("shownFirmware");
  QTest::newRow("no device") << false << QString() << QString() << "--"
                             << "--";
  QTest::newRow("device 2.0 / 1.10") << true << "2.0"
                                     << "1.10"
                                     << "V2.0"
                                     << "V1.10";
  QTest::newRow("device 1.0 / 0.0") << true << "1.0"
                                    << "0.0"
                                    << "V1.0"
                                    << "V0.0";
}

void TestAboutDlg::versions() {
  QFETCH(bool, withDevice);
  QFETCH(QString, hardware);
  QFETCH(QString, firmware);
  QFETCH(QString, shownHardware);
  QFETCH(QString, shownFirmware);
  CAboutDlg dialog(nullptr);
  QCOMPARE(label(dialog, "lbl_software_vv"), COMMON::kProgramVersion);
  QCOMPARE(label(dialog, "lbl_hardware_vv"), QStringLiteral("--"));

  HIDDeviceInfo device;
  device.hardwareVersion = hardware;
  device.firmwareVersion = firmware;
  dialog.setDeviceInfo(withDevice ? &device : nullptr);
  QCOMPARE(label(dialog, "lbl_hardware_vv"), shownHardware);
  QCOMPARE(label(dialog, "lbl_firmware_vv"), shownFirmware);
  QCOMPARE(label(dialog, "lbl_software_vv"), COMMON::kProgramVersion);

  // A device that went away shows the placeholders again.
  dialog.setDeviceInfo(nullptr);
  QCOMPARE(label(dialog, "lbl_hardware_vv"), QStringLiteral("--"));
  QCOMPARE(label(dialog, "lbl_firmware_vv"), QStringLiteral("--"));
}

void TestAboutDlg::formInEachLanguage_data() {
  QTest::addColumn<QString>("catalogue");
  QTest::addColumn<QStringList>("texts");  // title, heading, three captions
  QTest::newRow("simplified") << ":/zh_CN.qm"
                              << QStringList{"关于", "设备监测软件", "软件版本：", "硬件版本：",
                                             "固件版本："};
  QTest::newRow("traditional") << ":/zh_TW.qm"
                               << QStringList{"關於", "設備監測軟體", "軟體版本：", "硬體版本：",
                                              "韌體版本："};
  QTest::newRow("English") << ":/eg_EN.qm"
                           << QStringList{
                                  "About", "Device Monitor Application",
                                  "Software Version:", "Hardware Version:", "Firmware Version:"};
}

void TestAboutDlg::formInEachLanguage() {
  QFETCH(QString, catalogue);
  QFETCH(QStringList, texts);
  ScopedCatalogue scope(catalogue);
  QVERIFY(scope.loaded);
  CAboutDlg dialog(nullptr);
  QCOMPARE(
      (QStringList{dialog.windowTitle(), label(dialog, "lbl_description_aboutDlg"),
                   label(dialog, "lbl_software_version"), label(dialog, "lbl_hardware_version"),
                   label(dialog, "lbl_firmware_version")}),
      texts);
  QCOMPARE(dialog.minimumSize(), QSize(500, 500));
  QCOMPARE(dialog.maximumSize(), QSize(500, 500));
  QVERIFY(!dialog.testAttribute(Qt::WA_QuitOnClose));
}

void TestAboutDlg::closingDoesNotEndTheProgram() {
  QVERIFY(!endsTheProgram([]() {
    CAboutDlg dialog(nullptr);
    whenModalOpens([](QWidget* modal) { modal->close(); });
    dialog.exec();
    dialog.show();
    dialog.close();
  }));
}

QTEST_MAIN(TestAboutDlg)
#include "tst_aboutdlg.moc"
