// The wire format: frame layout, unit conversion, alarms and the identify exchange.
#include <QtTest>

#include "hidprotocol.h"

using namespace hidreport;

Q_DECLARE_METATYPE(hidreport::Sample)

class TestHIDProtocol : public QObject {
  Q_OBJECT

 private slots:
  void identifyRequestLayout() {
    const Buffer request = identifyRequest();
    QCOMPARE(request.size(), std::size_t(65));
    QCOMPARE(request[0], std::uint8_t(0x10));
    QCOMPARE(request[1], std::uint8_t(0x01));
    for (std::size_t i = 2; i < request.size(); ++i) QCOMPARE(request[i], std::uint8_t(0));
  }

  void identifyReplyRoundTrip() {
    Identity identity;
    identity.hardwareMajor = 1;
    identity.hardwareMinor = 10;
    identity.firmwareMajor = 2;
    identity.firmwareMinor = 0;
    for (std::size_t i = 0; i < 12; ++i) identity.identifier[i] = std::uint8_t(0xA0 + i);
    Buffer reply = identifyReply(identity);
    Identity parsed;
    QVERIFY(parseIdentifyReply(reply.data(), &parsed));
    QCOMPARE(parsed.hardwareMinor, std::uint8_t(10));
    QCOMPARE(parsed.firmwareMajor, std::uint8_t(2));
    QVERIFY(parsed.identifier == identity.identifier);

    reply[0] = 0x12;
    QVERIFY(!parseIdentifyReply(reply.data(), &parsed));
  }

  void twoByteFields_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("readBack");
    QTest::newRow("fan 1200") << 1200 << 0x04 << 0xB0 << 1200;
    QTest::newRow("zero") << 0 << 0x00 << 0x00 << 0;
    QTest::newRow("199") << 199 << 0x00 << 0xC7 << 199;
    QTest::newRow("65535") << 65535 << 0xFF << 0xFF << -1;  // read back as a negative value
    QTest::newRow("-5 truncates toward zero") << -5 << 0x00 << 0xFB << 251;
    QTest::newRow("-300") << -300 << 0xFF << 0xD4 << -300;
  }
  void twoByteFields() {
    QFETCH(int, value);
    QFETCH(int, high);
    QFETCH(int, low);
    QFETCH(int, readBack);
    std::uint8_t bytes[2] = {0xAA, 0xAA};
    putTwoBytes(bytes, value);
    QCOMPARE(int(bytes[0]), high);
    QCOMPARE(int(bytes[1]), low);
    if (value != 65535) QCOMPARE(readTwoBytes(bytes), readBack);
  }

  void fahrenheit_data() {
    QTest::addColumn<int>("celsius");
    QTest::addColumn<int>("fahrenheit");
    QTest::newRow("95") << 95 << 203;
    QTest::newRow("36") << 36 << 96;
    QTest::newRow("-5") << -5 << 23;
    QTest::newRow("0") << 0 << 32;
    QTest::newRow("-1 truncates toward zero") << -1 << 31;
  }
  void fahrenheit() {
    QFETCH(int, celsius);
    QFETCH(int, fahrenheit);
    QCOMPARE(toFahrenheit(celsius), fahrenheit);
  }

  // Whole frames: temperatures, unit, cap and byte positions.
  void frameLayout_data() {
    QTest::addColumn<int>("unit");
    QTest::addColumn<Sample>("sample");
    QTest::addColumn<QByteArray>("expected");  // bytes 1 to 12
    Sample hot{95, 40, 95, 60, 1200};
    QTest::newRow("fahrenheit caps cpu at 199, gpu uncapped") << 1 << hot
                                                              << QByteArray::fromHex(
                                                                     "01010000"
                                                                     "00c7"
                                                                     "28"
                                                                     "00cb"
                                                                     "3c"
                                                                     "04b0");
    QTest::newRow("celsius") << 0 << hot
                             << QByteArray::fromHex(
                                    "01000000"
                                    "005f"
                                    "28"
                                    "005f"
                                    "3c"
                                    "04b0");
    Sample cold{36, 0, -5, 0, 0};
    QTest::newRow("fahrenheit 36 and -5") << 1 << cold
                                          << QByteArray::fromHex(
                                                 "01010000"
                                                 "0060"
                                                 "00"
                                                 "0017"
                                                 "00"
                                                 "0000");
    QTest::newRow("celsius -5 gpu") << 0 << cold
                                    << QByteArray::fromHex(
                                           "01000000"
                                           "0024"
                                           "00"
                                           "00fb"
                                           "00"
                                           "0000");
    QTest::newRow("any non-zero unit means fahrenheit") << 7 << cold
                                                        << QByteArray::fromHex(
                                                               "01010000"
                                                               "0060"
                                                               "00"
                                                               "0017"
                                                               "00"
                                                               "0000");
    Sample cpu250{250, 0, 0, 0, 0};
    QTest::newRow("celsius cpu above 199 is capped too") << 0 << cpu250
                                                         << QByteArray::fromHex(
                                                                "01000000"
                                                                "00c7"
                                                                "00"
                                                                "0000"
                                                                "00"
                                                                "0000");
  }
  void frameLayout() {
    QFETCH(int, unit);
    QFETCH(Sample, sample);
    QFETCH(QByteArray, expected);
    const Buffer frame = dataFrame(CPU_TEMPERATURE, unit, sample, Thresholds{});
    QCOMPARE(frame[0], std::uint8_t(0x20));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(frame.data()) + 1, 12).toHex(),
             expected.toHex());
    for (std::size_t i = 13; i < frame.size(); ++i) QCOMPARE(frame[i], std::uint8_t(0));

    FrameContent content;
    QVERIFY(parseDataFrame(frame.data(), &content));
    QCOMPARE(content.item, std::uint8_t(CPU_TEMPERATURE));
    QCOMPARE(content.values.fanRpm, sample.fanRpm);
  }

  void alarms_data() {
    QTest::addColumn<int>("item");
    QTest::addColumn<Sample>("sample");
    QTest::addColumn<int>("flag");
    // Thresholds: temperature 90, usage 95, fan 300.
    QTest::newRow("fan at threshold") << int(FAN_RPM) << Sample{0, 0, 0, 0, 300} << 0x10;
    QTest::newRow("fan above threshold") << int(FAN_RPM) << Sample{0, 0, 0, 0, 301} << 0x00;
    QTest::newRow("fan stopped") << int(FAN_RPM) << Sample{0, 0, 0, 0, 0} << 0x10;
    QTest::newRow("cpu usage at threshold")
        << int(CPU_USAGE_RATE) << Sample{0, 95, 0, 0, 0} << 0x02;
    QTest::newRow("cpu usage below") << int(CPU_USAGE_RATE) << Sample{0, 94, 0, 0, 0} << 0x00;
    QTest::newRow("gpu usage at threshold")
        << int(GPU_USAGE_RATE) << Sample{0, 0, 0, 95, 0} << 0x08;
    QTest::newRow("gpu temperature at threshold")
        << int(GPU_TEMPERATURE) << Sample{0, 0, 90, 0, 0} << 0x04;
    QTest::newRow("gpu temperature below")
        << int(GPU_TEMPERATURE) << Sample{0, 0, 89, 0, 0} << 0x00;
    QTest::newRow("cpu temperature has no alarm")
        << int(CPU_TEMPERATURE) << Sample{150, 100, 150, 100, 0} << 0x00;
    QTest::newRow("no item") << 0 << Sample{150, 100, 150, 100, 0} << 0x00;
    QTest::newRow("flag follows the item only")
        << int(CPU_USAGE_RATE) << Sample{0, 10, 150, 100, 0} << 0x00;
  }
  void alarms() {
    QFETCH(int, item);
    QFETCH(Sample, sample);
    QFETCH(int, flag);
    QCOMPARE(int(alarmFlags(std::uint8_t(item), sample, Thresholds{})), flag);
    QCOMPARE(int(dataFrame(std::uint8_t(item), 0, sample, Thresholds{})[3]), flag);
  }

  // The GPU alarm compares degrees Celsius even when the frame carries Fahrenheit.
  void gpuAlarmInCelsiusWhateverTheUnit() {
    const Sample sample{0, 0, 89, 0, 0};  // 192 F, above 90 but not in Celsius
    QCOMPARE(int(dataFrame(GPU_TEMPERATURE, 1, sample, Thresholds{})[3]), 0);
    const Sample hot{0, 0, 90, 0, 0};
    QCOMPARE(int(dataFrame(GPU_TEMPERATURE, 1, hot, Thresholds{})[3]), 0x04);
  }

  void reducedProductOnlyKnowsTheFirstItem_data() {
    QTest::addColumn<int>("current");
    QTest::addColumn<bool>("reduced");
    QTest::addColumn<int>("sent");
    for (int item : {0x00, 0x01, 0x02, 0x04, 0x08, 0x10}) {
      QTest::addRow("A15 %02x", item) << item << true << (item ? 0x01 : 0x00);
      QTest::addRow("other %02x", item) << item << false << item;
    }
  }
  void reducedProductOnlyKnowsTheFirstItem() {
    QFETCH(int, current);
    QFETCH(bool, reduced);
    QFETCH(int, sent);
    const std::uint8_t item = itemForDevice(std::uint8_t(current), reduced);
    QCOMPARE(int(item), sent);
    // A reduced device never sees an alarm: its code is 0x01 or 0x00.
    if (reduced) QCOMPARE(int(alarmFlags(item, Sample{0, 100, 100, 100, 0}, Thresholds{})), 0);
  }

  void dataReplyVerdict() {
    QVERIFY(dataReplyAccepted(dataReply(true).data()));
    QVERIFY(!dataReplyAccepted(dataReply(false).data()));
    Buffer odd{};
    odd[0] = 0x55;  // the report ID is not looked at
    odd[2] = 0x80;
    QVERIFY(dataReplyAccepted(odd.data()));
  }
};

QTEST_APPLESS_MAIN(TestHIDProtocol)
#include "tst_hidprotocol.moc"
