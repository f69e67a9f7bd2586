// The arithmetic of one sampling pass: source order, truncation, the "--" rules and
// the slew limiters, driven with exact library results.
#include <QtTest>

#include "samplepass.h"

using pelmora::HardwareDatas;
using pelmora::HardwareNode;
using pelmora::HWType;

namespace {
// Library result written as text: "cpu:t,l,f board:t,f gpu:t,l" (any subset).
HardwareDatas parseDatas(const QString& text) {
  HardwareDatas datas;
  for (const QString& part : text.split(' ', Qt::SkipEmptyParts)) {
    const QString kind = part.section(':', 0, 0);
    const QStringList v = part.section(':', 1).split(',');
    HardwareNode node;
    node.name = kind.toStdString();
    if (kind == "cpu") {
      node.temperature = v[0].toFloat(), node.load = v[1].toFloat(), node.fan = v[2].toFloat();
      datas[HWType::CPU] = node;
    } else if (kind == "board") {
      node.temperature = v[0].toFloat(), node.fan = v[1].toFloat();
      datas[HWType::Mainboard] = node;
    } else if (kind == "gpu") {
      node.temperature = v[0].toFloat(), node.load = v[1].toFloat();
      datas[HWType::GPU] = node;
    }
  }
  return datas;
}

QString sampleText(const COMMON::HardwareInfo& info) {
  return QStringList{info.strCPUTemperature, info.strCPUUsageRate, info.strGPUTemperature,
                     info.strGPUUsageRate, info.strFanRpm}
      .join(' ');
}
}  // namespace

class TestSamplePass : public QObject {
  Q_OBJECT

 private slots:
  // One pass from fresh limiter states; the sample reads "cpuT cpuUsage gpuT gpuUsage fan".
  void onePass_data() {
    QTest::addColumn<uint>("driver");
    QTest::addColumn<bool>("queried");
    QTest::addColumn<QString>("datas");
    QTest::addColumn<QString>("previousUsage");
    QTest::addColumn<QString>("expected");
    QTest::newRow("cpu temperature truncated") << 0u << true << "cpu:60.9,0,0"
                                               << "--"
                                               << "60 -- -- -- --";
    QTest::newRow("driver wins over library") << 57u << true << "cpu:60.9,0,0 board:40,0"
                                              << "--"
                                              << "57 -- -- -- --";
    QTest::newRow("board when no cpu entry") << 0u << true << "board:38.7,0"
                                             << "--"
                                             << "38 -- -- -- --";
    QTest::newRow("cpu entry before board") << 0u << true << "cpu:45,0,0 board:38,0"
                                            << "--"
                                            << "45 -- -- -- --";
    QTest::newRow("cpu entry of 0 falls to board") << 0u << true << "cpu:0,0,0 board:38,0"
                                                   << "--"
                                                   << "38 -- -- -- --";
    QTest::newRow("fan from board when cpu has none") << 0u << true << "cpu:50,0,0 board:40,1234.7"
                                                      << "--"
                                                      << "50 -- -- -- 1234";
    QTest::newRow("fan from cpu first") << 0u << true << "cpu:50,0,900 board:40,1234"
                                        << "--"
                                        << "50 -- -- -- 900";
    QTest::newRow("cpu load 0 keeps text") << 0u << true << "cpu:50,0,0"
                                           << "17"
                                           << "50 17 -- -- --";
    QTest::newRow("cpu load 101 keeps text") << 0u << true << "cpu:50,101,0"
                                             << "17"
                                             << "50 17 -- -- --";
    QTest::newRow("cpu load 1 replaces") << 0u << true << "cpu:50,1.9,0"
                                         << "17"
                                         << "50 1 -- -- --";
    QTest::newRow("cpu load 100 replaces") << 0u << true << "cpu:50,100,0"
                                           << "17"
                                           << "50 100 -- -- --";
    QTest::newRow("cpu load 0.9 keeps text") << 0u << true << "cpu:50,0.9,0"
                                             << "--"
                                             << "50 -- -- -- --";
    QTest::newRow("gpu values") << 0u << true << "gpu:71.8,33.3"
                                << "--"
                                << "-- -- 71 33 --";
    QTest::newRow("gpu load 0 is no value") << 0u << true << "gpu:70,0"
                                            << "--"
                                            << "-- -- 70 -- --";
    QTest::newRow("query failed, driver only") << 61u << false << "cpu:45,50,900 gpu:70,20"
                                               << "12"
                                               << "61 12 -- -- --";
    QTest::newRow("query failed, no driver") << 0u << false << ""
                                             << "--"
                                             << "-- -- -- -- --";
    QTest::newRow("empty answer") << 0u << true << ""
                                  << "--"
                                  << "-- -- -- -- --";
    QTest::newRow("negative temperatures are no value") << 0u << true << "cpu:-5,0,0 gpu:-3,0"
                                                        << "--"
                                                        << "-- -- -- -- --";
  }
  void onePass() {
    QFETCH(uint, driver);
    QFETCH(bool, queried);
    QFETCH(QString, datas);
    QFETCH(QString, previousUsage);
    QFETCH(QString, expected);
    COMMON::HardwareInfo info;
    info.strCPUUsageRate = previousUsage;
    sampling::SlewStates states;
    sampling::applyPass(info, driver, queried, parseDatas(datas), states);
    QCOMPARE(sampleText(info), expected);
  }

  void cpuTemperatureMovesAtMostAStepPerPass() {
    COMMON::HardwareInfo info;
    sampling::SlewStates states;
    QStringList seen;
    sampling::applyPass(info, 0, true, parseDatas("cpu:40,0,0"), states);
    seen << info.strCPUTemperature;
    for (int pass = 0; pass < 22; ++pass) {
      sampling::applyPass(info, 0, true, parseDatas("cpu:50,0,0"), states);
      seen << info.strCPUTemperature;
    }
    QCOMPARE(seen.mid(0, 4), QStringList({"40", "40", "40", "41"}));
    // 40 + 21 * 0.48 = 50.08: the limiter reaches the reading and then follows it.
    QCOMPARE(seen.at(20), QString("49"));
    QCOMPARE(seen.at(21), QString("50"));
    QCOMPARE(seen.at(22), QString("50"));
  }

  void limiterStepsBothWays_data() {
    QTest::addColumn<float>("start");
    QTest::addColumn<float>("next");
    QTest::addColumn<float>("limited");
    QTest::newRow("rise") << 40.f << 50.f << 40.48f;
    QTest::newRow("fall") << 50.f << 40.f << 49.52f;
    QTest::newRow("within step") << 40.f << 40.3f << 40.3f;
    QTest::newRow("exactly a step") << 40.f << 40.48f << 40.48f;
  }
  void limiterStepsBothWays() {
    QFETCH(float, start);
    QFETCH(float, next);
    QFETCH(float, limited);
    sampling::SlewLimiter limiter;
    QVERIFY(!limiter.isSet());
    QCOMPARE(limiter.advance(start), start);
    QVERIFY(limiter.isSet());
    QCOMPARE(limiter.advance(next), limited);
  }

  void cpuStateAdvancesWhileTheDriverSuppliesTheValue() {
    COMMON::HardwareInfo info;
    sampling::SlewStates states;
    sampling::applyPass(info, 0, true, parseDatas("cpu:40,0,0"), states);
    for (int pass = 0; pass < 3; ++pass) {
      sampling::applyPass(info, 70, true, parseDatas("cpu:50,0,0"), states);
      QCOMPARE(info.strCPUTemperature, QString("70"));
    }
    // The driver went quiet: the library value continues from 41.44, not from 40.
    sampling::applyPass(info, 0, true, parseDatas("cpu:50,0,0"), states);
    QCOMPARE(info.strCPUTemperature, QString("41"));
    QCOMPARE(states.cpu.advance(50.f), 42.4f);
  }

  void boardStateIsItsOwn() {
    COMMON::HardwareInfo info;
    sampling::SlewStates states;
    sampling::applyPass(info, 0, true, parseDatas("cpu:70,0,0 board:30,0"), states);
    sampling::applyPass(info, 0, true, parseDatas("board:40,0"), states);
    QCOMPARE(info.strCPUTemperature, QString("30"));  // 30.48, from the board's own state
    sampling::applyPass(info, 0, false, parseDatas("board:90,0"), states);
    QCOMPARE(info.strCPUTemperature, QString("--"));
    sampling::applyPass(info, 0, true, parseDatas("board:40,0"), states);
    QCOMPARE(info.strCPUTemperature, QString("30"));  // 30.96: a failed pass does not advance it
  }

  void failingQueryEveryPassKeepsDriverTemperature() {
    COMMON::HardwareInfo info;
    info.strCPUUsageRate = "--";
    sampling::SlewStates states;
    for (int pass = 0; pass < 3; ++pass) {
      sampling::applyPass(info, 55, false, {}, states);
      QCOMPARE(sampleText(info), QString("55 -- -- -- --"));
    }
    QVERIFY(!states.cpu.isSet());
    QVERIFY(!states.mainboard.isSet());
  }
};

QTEST_APPLESS_MAIN(TestSamplePass)
#include "tst_samplepass.moc"
