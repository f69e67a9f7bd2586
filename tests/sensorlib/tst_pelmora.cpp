// The query walk over an in-memory hardware model: averaging, truncation, merging of
// several items of one kind, sub-hardware precedence and failure handling.
#include <QtTest>
#include <cmath>
#include <limits>

#include "fakehardware.h"
#include "pelmoracore.h"

using fake::HardwareType;
using pelmora::HardwareDatas;
using pelmora::HWType;
using pelmora::Pelmora;

namespace {
// The walk over a computer the test has filled; the computer stays the test's to inspect.
struct Walk {
  fake::Computer* computer = new fake::Computer;
  Pelmora pelmora{std::unique_ptr<pelmora::hw::Computer>(computer)};
  HardwareDatas datas;
  bool run() { return pelmora.getHardwareInfo(datas); }
};
}  // namespace

class TestPelmora : public QObject {
  Q_OBJECT

 private slots:
  void constructionOpensAndEnables() {
    Walk walk;
    QCOMPARE(walk.computer->opens, 1);
    QCOMPARE(walk.computer->enables, 4);
  }

  void constructionFailureThrowsToTheExportOnly() {
    auto* computer = new fake::Computer;
    computer->failOpen = true;
    QVERIFY_EXCEPTION_THROWN(Pelmora(std::unique_ptr<pelmora::hw::Computer>(computer)),
                             pelmora::hw::HardwareError);
    QVERIFY_EXCEPTION_THROWN(Pelmora(nullptr), pelmora::hw::HardwareError);
  }

  void emptyHardwareListGivesTrueAndEmptyMap() {
    Walk walk;
    QVERIFY(walk.run());
    QVERIFY(walk.datas.empty());
  }

  void cpuAveragesIgnoreZeroTemperaturesButCountZeroLoads() {
    Walk walk;
    walk.computer->add(HardwareType::CPU, "Ryzen")
        .temperature(45)
        .temperature(55)
        .temperature(0)
        .load(10)
        .load(20)
        .load(0);
    QVERIFY(walk.run());
    QCOMPARE(walk.datas.size(), size_t(1));
    const pelmora::HardwareNode& cpu = walk.datas.at(HWType::CPU);
    QCOMPARE(cpu.name, std::string("Ryzen"));
    QCOMPARE(cpu.temperature, 50.f);
    QCOMPARE(cpu.load, 10.f);
    QCOMPARE(cpu.fan, 0.f);
  }

  // Whether one temperature or fan value counts, by its integer part.
  void integerPartDecides_data() {
    QTest::addColumn<float>("value");
    QTest::addColumn<bool>("counted");
    QTest::newRow("0.5 is nothing") << 0.5f << false;
    QTest::newRow("0.99 is nothing") << 0.99f << false;
    QTest::newRow("-0.7 is nothing") << -0.7f << false;
    QTest::newRow("1.0 counts") << 1.0f << true;
    QTest::newRow("-5 counts") << -5.f << true;
    QTest::newRow("NaN is a broken reading") << std::numeric_limits<float>::quiet_NaN() << false;
    QTest::newRow("infinity is a broken reading")
        << std::numeric_limits<float>::infinity() << false;
  }
  void integerPartDecides() {
    QFETCH(float, value);
    QFETCH(bool, counted);
    Walk walk;
    walk.computer->add(HardwareType::CPU, "cpu")
        .temperature(value)
        .temperature(40)
        .fan(value)
        .fan(1000);
    QVERIFY(walk.run());
    const pelmora::HardwareNode& cpu = walk.datas.at(HWType::CPU);
    QCOMPARE(cpu.temperature, counted ? (value + 40) / 2 : 40.f);
    QCOMPARE(cpu.fan, counted ? (value + 1000) / 2 : 1000.f);
  }

  void itemWithOnlyUncountedValuesContributesNothing() {
    Walk walk;
    walk.computer->add(HardwareType::CPU, "cpu").temperature(0.5f).fan(0).temperature(std::nullopt);
    QVERIFY(walk.run());
    QVERIFY(walk.datas.empty());
  }

  void absentValuesAreSkipped() {
    Walk walk;
    walk.computer->add(HardwareType::GpuAti, "Radeon")
        .temperature(std::nullopt)
        .temperature(60)
        .load(std::nullopt);
    QVERIFY(walk.run());
    QCOMPARE(walk.datas.at(HWType::GPU).temperature, 60.f);
    QCOMPARE(walk.datas.at(HWType::GPU).load, 0.f);
  }

  void mainboardFansComeFromTheFirstChipThatHasThem() {
    {
      Walk walk;
      auto& board = walk.computer->add(HardwareType::Mainboard, "Board");
      board.child(HardwareType::SuperIO, "nct6798").fan(1200).fan(0);
      board.child(HardwareType::SuperIO, "it8686").fan(900);
      QVERIFY(walk.run());
      QCOMPARE(walk.datas.at(HWType::Mainboard).fan, 1200.f);
      QCOMPARE(walk.datas.at(HWType::Mainboard).name, std::string("nct6798"));
    }
    {
      Walk walk;
      auto& board = walk.computer->add(HardwareType::Mainboard, "Board");
      board.child(HardwareType::SuperIO, "first").temperature(35);
      board.child(HardwareType::SuperIO, "second").fan(900).temperature(80);
      QVERIFY(walk.run());
      QCOMPARE(walk.datas.at(HWType::Mainboard).fan, 900.f);
      QCOMPARE(walk.datas.at(HWType::Mainboard).temperature, 35.f);
      QCOMPARE(walk.datas.at(HWType::Mainboard).name, std::string("first"));
    }
  }

  void secondGpuFillsOnlyValuesBelowOneTenth_data() {
    QTest::addColumn<float>("firstLoad");
    QTest::addColumn<float>("expectedLoad");
    QTest::newRow("0 is filled") << 0.f << 30.f;
    QTest::newRow("0.09 is filled") << 0.09f << 30.f;
    QTest::newRow("0.2 stays") << 0.2f << 0.2f;
  }
  void secondGpuFillsOnlyValuesBelowOneTenth() {
    QFETCH(float, firstLoad);
    QFETCH(float, expectedLoad);
    Walk walk;
    walk.computer->add(HardwareType::GpuAti, "integrated").temperature(50).load(firstLoad);
    walk.computer->add(HardwareType::GpuNvidia, "GeForce").temperature(70).load(30).fan(1500);
    QVERIFY(walk.run());
    const pelmora::HardwareNode& gpu = walk.datas.at(HWType::GPU);
    QCOMPARE(gpu.name, std::string("integrated"));
    QCOMPARE(gpu.temperature, 50.f);
    QCOMPARE(gpu.load, expectedLoad);
    QCOMPARE(gpu.fan, 1500.f);
  }

  void subHardwareTakesPrecedenceOverOwnSensors() {
    Walk walk;
    auto& board = walk.computer->add(HardwareType::Mainboard, "Board");
    board.temperature(99).fan(5000);
    board.child(HardwareType::SuperIO, "chip").temperature(30);
    QVERIFY(walk.run());
    QCOMPARE(walk.datas.at(HWType::Mainboard).temperature, 30.f);
    QCOMPARE(walk.datas.at(HWType::Mainboard).fan, 0.f);
  }

  void otherKindsAreRefreshedButNotReported_data() {
    QTest::addColumn<int>("type");
    QTest::newRow("super-I/O at top level") << int(HardwareType::SuperIO);
    QTest::newRow("drive") << int(HardwareType::HDD);
    QTest::newRow("memory") << int(HardwareType::RAM);
    QTest::newRow("fan controller") << int(HardwareType::TBalancer);
    QTest::newRow("other") << int(HardwareType::Other);
  }
  void otherKindsAreRefreshedButNotReported() {
    QFETCH(int, type);
    Walk walk;
    auto& item = walk.computer->add(static_cast<HardwareType>(type), "x").temperature(40).fan(800);
    QVERIFY(walk.run());
    QVERIFY(walk.datas.empty());
    QCOMPARE(item.updates, 1);
  }

  void topLevelItemsAreRefreshedTwiceSubItemsOnce() {
    Walk walk;
    auto& cpu = walk.computer->add(HardwareType::CPU, "cpu").temperature(40);
    auto& board = walk.computer->add(HardwareType::Mainboard, "board");
    auto& chip = board.child(HardwareType::SuperIO, "chip").fan(700);
    QVERIFY(walk.run());
    QCOMPARE(cpu.updates, 2);
    QCOMPARE(board.updates, 2);
    QCOMPARE(chip.updates, 1);
  }

  void failureEndsTheWalkAndKeepsEarlierEntries() {
    Walk walk;
    walk.computer->add(HardwareType::CPU, "cpu").temperature(40);
    walk.computer->add(HardwareType::GpuAti, "gpu").throwOnUpdate = true;
    auto& board = walk.computer->add(HardwareType::Mainboard, "board").fan(700);
    QVERIFY(!walk.run());
    QCOMPARE(walk.datas.count(HWType::CPU), size_t(1));
    QCOMPARE(walk.datas.count(HWType::GPU), size_t(0));
    QCOMPARE(board.updates, 0);
    // The next query walks again from the start.
    walk.datas.clear();
    QVERIFY(!walk.run());
    QCOMPARE(walk.datas.count(HWType::CPU), size_t(1));
  }

  void entriesAccumulateIntoTheCallersMapOnly() {
    Walk walk;
    walk.computer->add(HardwareType::CPU, "cpu").temperature(40);
    HardwareDatas first, second;
    QVERIFY(walk.pelmora.getHardwareInfo(first));
    QVERIFY(walk.pelmora.getHardwareInfo(second));
    QCOMPARE(first.at(HWType::CPU).temperature, 40.f);
    QCOMPARE(second.size(), size_t(1));
  }

  void namesAreMadeSafeNarrowText_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("safe");
    QTest::newRow("ascii") << QByteArray("AMD Ryzen 7") << QByteArray("AMD Ryzen 7");
    QTest::newRow("utf-8 kept") << QByteArray("Core\xE2\x84\xA2 i7")
                                << QByteArray("Core\xE2\x84\xA2 i7");
    QTest::newRow("control characters") << QByteArray("a\tb\x01") << QByteArray("a?b?");
    QTest::newRow("latin-1 byte") << QByteArray("Gr\xFCn") << QByteArray("Gr?n");
    QTest::newRow("cut sequence") << QByteArray("x\xE2\x84") << QByteArray("x??");
    QTest::newRow("overlong") << QByteArray("\xC0\xAF") << QByteArray("??");
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << QByteArray("???");
  }
  void namesAreMadeSafeNarrowText() {
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, safe);
    QCOMPARE(QByteArray::fromStdString(pelmora::toNarrowName(raw.toStdString())), safe);
  }
};

QTEST_APPLESS_MAIN(TestPelmora)
#include "tst_pelmora.moc"
