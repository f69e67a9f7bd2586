// The Linux hardware model over recorded machines: what each machine reports, load
// from two snapshots of /proc/stat, broken and vanishing files, sleeping GPUs and
// NVML (a fake library found through LD_LIBRARY_PATH).
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

#include "fixturetree.h"
#include "nvml.h"
#include "pelmoracore.h"

using pelmora::HardwareDatas;
using pelmora::HWType;

namespace {
struct Machine {
  explicit Machine(const QString& root) {
    fixtures::useRoots(root);
    pelmora = std::make_unique<pelmora::Pelmora>(pelmora::platform::createComputer());
  }
  HardwareDatas query(bool* ok = nullptr) {
    HardwareDatas datas;
    const bool result = pelmora->getHardwareInfo(datas);
    if (ok) *ok = result;
    return datas;
  }
  std::unique_ptr<pelmora::Pelmora> pelmora;
};

bool nvmlLoaded() {
  QFile maps("/proc/self/maps");
  return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libnvidia-ml.so.1");
}

// Adds the given ticks to every cpu line of a /proc/stat copy.
bool advanceStat(const QString& file, int user, int idle) {
  QFile in(file);
  if (!in.open(QIODevice::ReadOnly)) return false;
  QByteArray out;
  for (const QByteArray& line : in.readAll().split('\n')) {
    if (!line.startsWith("cpu")) {
      out += line + '\n';
      continue;
    }
    QList<QByteArray> fields = line.simplified().split(' ');
    const int factor = fields[0] == "cpu" ? 4 : 1;  // the recorded machines have 4 processors
    fields[1] = QByteArray::number(fields[1].toLongLong() + user * factor);
    fields[4] = QByteArray::number(fields[4].toLongLong() + idle * factor);
    out += fields.join(' ') + '\n';
  }
  in.close();
  // Replaced, not rewritten: the library keeps the file open between reads and must see
  // the new one.
  QSaveFile replacement(file);
  return replacement.open(QIODevice::WriteOnly) && replacement.write(out) == out.size() &&
         replacement.commit();
}

struct Expected {
  bool present;
  QByteArray name;
  float temperature, load, fan;
};
}  // namespace

Q_DECLARE_METATYPE(Expected)

class TestLinuxHardware : public QObject {
  Q_OBJECT

 private slots:
  void init() { qunsetenv("FAKE_NVML_STATE"); }

  void recordedMachines_data() {
    QTest::addColumn<QString>("machine");
    QTest::addColumn<Expected>("cpu");
    QTest::addColumn<Expected>("gpu");
    QTest::addColumn<Expected>("board");
    const Expected none{false, "", 0, 0, 0};
    QTest::newRow("amd-desktop") << "amd-desktop"
                                 << Expected{true, "AMD Ryzen 7 5800X 8-Core Processor", 48.5f, 0,
                                             0}
                                 << Expected{true, "AMD GPU [1002:73BF]", 52.f, 17, 1100}
                                 << Expected{true, "nct6798", 48, 0, 1065};
    QTest::newRow("intel-desktop")
        << "intel-desktop" << Expected{true, "Intel(R) Core(TM) i7-9700K CPU @ 3.60GHz", 52, 0, 0}
        << Expected{true, "NVIDIA GPU [10DE:1B81]", 41, 0, 1350}
        << Expected{true, "it8686", 36.5f, 0, 1240};
    QTest::newRow("laptop") << "laptop"
                            << Expected{true, "11th Gen Intel(R) Core(TM) i7-1165G7 @ 2.80GHz", 61,
                                        0, 0}
                            << none << Expected{true, "thinkpad", 55, 0, 2900};
    QTest::newRow("nvidia-desktop")
        << "nvidia-desktop" << Expected{true, "AMD Ryzen 5 3600 6-Core Processor", 55, 0, 0}
        << Expected{true, "NVIDIA GeForce RTX 3060 Ti", 48, 23, 1450}
        << Expected{true, "nct6797", 31, 0, 1020};
    QTest::newRow("empty") << "empty" << none << none << none;
  }
  void recordedMachines() {
    QFETCH(QString, machine);
    QFETCH(Expected, cpu);
    QFETCH(Expected, gpu);
    QFETCH(Expected, board);
    Machine computer(fixtures::path(machine));
    bool ok = false;
    const HardwareDatas datas = computer.query(&ok);
    QVERIFY(ok);
    const std::pair<HWType, Expected> expected[] = {
        {HWType::CPU, cpu}, {HWType::GPU, gpu}, {HWType::Mainboard, board}};
    for (const auto& [type, want] : expected) {
      const auto entry = datas.find(type);
      QCOMPARE(entry != datas.end(), want.present);
      if (!want.present) continue;
      QCOMPARE(QByteArray::fromStdString(entry->second.name), want.name);
      QCOMPARE(entry->second.temperature, want.temperature);
      QCOMPARE(entry->second.load, want.load);
      QCOMPARE(entry->second.fan, want.fan);
    }
  }

  void listsItemsInWalkOrder() {
    Machine computer(fixtures::path("amd-desktop"));
    QStringList seen;
    for (pelmora::hw::IHardware* item : computer.pelmora->computer().hardware())
      seen << QString::fromStdString(pelmora::hw::hardwareTypeName(item->hardwareType()) +
                                     std::string(":") + item->name());
    QCOMPARE(seen,
             QStringList({"Mainboard:ASUSTeK COMPUTER INC. ROG STRIX B550-F GAMING",
                          "CPU:AMD Ryzen 7 5800X 8-Core Processor", "GpuAti:AMD GPU [1002:73BF]"}));
    // Chips that supply no figure are listed apart and never walked.
    QStringList unused;
    for (pelmora::hw::IHardware* item : computer.pelmora->computer().unusedHardware())
      unused << QString::fromStdString(item->name());
    QCOMPARE(unused, QStringList({"nvme", "r8169_0_a00:00"}));
  }

  void cpuLoadComesFromTwoSnapshots() {
    QTemporaryDir dir;
    QVERIFY(fixtures::copyTree("amd-desktop", dir.path()));
    Machine computer(dir.path());
    QCOMPARE(computer.query().at(HWType::CPU).load, 0.f);  // one snapshot: no load yet

    QVERIFY(advanceStat(dir.path() + "/proc/stat", 30, 70));
    QCOMPARE(computer.query().at(HWType::CPU).load, 30.f);

    // Too few ticks for a share: the last value stays rather than a noisy one.
    QVERIFY(advanceStat(dir.path() + "/proc/stat", 5, 0));
    QCOMPARE(computer.query().at(HWType::CPU).load, 30.f);
    QVERIFY(advanceStat(dir.path() + "/proc/stat", 75, 0));
    QCOMPARE(computer.query().at(HWType::CPU).load, 100.f);

    // An unreadable statistics file gives no load, not a stale one.
    QVERIFY(QFile::remove(dir.path() + "/proc/stat"));
    QCOMPARE(computer.query().at(HWType::CPU).load, 0.f);
  }

  // A broken file gives a sensor without value; the rest of the chip still counts. A
  // broken Tctl leaves the CPU without a temperature: a chiplet is no stand-in.
  void brokenFiles_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("kind");
    QTest::addColumn<float>("temperature");
    QTest::addColumn<float>("fan");
    const QString tctl = "sys/class/hwmon/hwmon1/temp1_input";
    const QString fan1 = "sys/class/hwmon/hwmon3/fan1_input";
    QTest::newRow("garbage temperature")
        << tctl << QByteArray("garbage\n") << int(HWType::CPU) << 0.f << 0.f;
    QTest::newRow("empty temperature") << tctl << QByteArray("") << int(HWType::CPU) << 0.f << 0.f;
    QTest::newRow("wild temperature")
        << tctl << QByteArray("9999999\n") << int(HWType::CPU) << 0.f << 0.f;
    QTest::newRow("binary temperature")
        << tctl << QByteArray("\x01\xff\x00", 3) << int(HWType::CPU) << 0.f << 0.f;
    QTest::newRow("faulted temperature") << "sys/class/hwmon/hwmon1/temp1_fault"
                                         << QByteArray("1\n") << int(HWType::CPU) << 0.f << 0.f;
    QTest::newRow("broken chiplet") << "sys/class/hwmon/hwmon1/temp3_input" << QByteArray("x\n")
                                    << int(HWType::CPU) << 48.5f << 0.f;
    QTest::newRow("stalled fan counter")
        << fan1 << QByteArray("65535\n") << int(HWType::Mainboard) << 48.f << 880.f;
    QTest::newRow("negative fan") << fan1 << QByteArray("-1\n") << int(HWType::Mainboard) << 48.f
                                  << 880.f;
    QTest::newRow("garbage busy percent")
        << "sys/class/hwmon/hwmon2/device/gpu_busy_percent" << QByteArray("1e3\n")
        << int(HWType::GPU) << 52.f << 1100.f;
  }
  void brokenFiles() {
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(int, kind);
    QFETCH(float, temperature);
    QFETCH(float, fan);
    QTemporaryDir dir;
    QVERIFY(fixtures::copyTree("amd-desktop", dir.path()));
    QVERIFY(fixtures::writeFile(dir.path() + "/" + file, content));
    Machine computer(dir.path());
    bool ok = false;
    const HardwareDatas datas = computer.query(&ok);
    QVERIFY(ok);
    const auto entry = datas.find(static_cast<HWType>(kind));
    QCOMPARE(entry != datas.end(), temperature != 0.f || fan != 0.f);
    if (entry == datas.end()) return;
    const pelmora::HardwareNode& node = entry->second;
    QCOMPARE(node.temperature, temperature);
    QCOMPARE(node.fan, fan);
    if (kind == int(HWType::GPU)) QCOMPARE(node.load, 0.f);
  }

  void vanishingChipLosesItsValues() {
    QTemporaryDir dir;
    QVERIFY(fixtures::copyTree("amd-desktop", dir.path()));
    Machine computer(dir.path());
    QVERIFY(computer.query().count(HWType::GPU));
    QVERIFY(QDir(dir.path() + "/sys/class/hwmon/hwmon2").removeRecursively());
    bool ok = false;
    const HardwareDatas datas = computer.query(&ok);
    QVERIFY(ok);
    QCOMPARE(datas.count(HWType::GPU), size_t(0));
    QCOMPARE(datas.at(HWType::CPU).temperature, 48.5f);
  }

  // A card whose driver is bound late and a board chip that goes (a rebind, a module
  // unloaded) are followed within a few seconds, while the queries go on.
  void chipsThatComeAndGo() {
    QTemporaryDir dir;
    QVERIFY(fixtures::copyTree("amd-desktop", dir.path()));
    Machine computer(dir.path());
    QCOMPARE(computer.query().at(HWType::Mainboard).fan, 1065.f);
    const QString card = dir.path() + "/sys/class/hwmon/hwmon7";
    QVERIFY(fixtures::writeFile(card + "/name", "radeon\n"));
    QVERIFY(fixtures::writeFile(card + "/temp1_input", "45000\n"));
    QVERIFY(fixtures::writeFile(card + "/device/uevent", "PCI_SLOT_NAME=0000:0a:00.0\n"));
    // A chip without a name file is listed under its folder's name.
    QVERIFY(fixtures::writeFile(dir.path() + "/sys/class/hwmon/hwmon8/temp1_input", "30000\n"));
    QVERIFY(QDir(dir.path() + "/sys/class/hwmon/hwmon2").removeRecursively());
    QVERIFY(QDir(dir.path() + "/sys/class/hwmon/hwmon3").removeRecursively());
    QTRY_VERIFY_WITH_TIMEOUT(computer.query().count(HWType::GPU) == 1, 15000);
    QCOMPARE(computer.pelmora->computer().unusedHardware().back()->name(), std::string("hwmon8"));
    const HardwareDatas datas = computer.query();
    QCOMPARE(datas.at(HWType::GPU).temperature, 45.f);
    QCOMPARE(datas.count(HWType::Mainboard), size_t(0));
    QCOMPARE(datas.at(HWType::CPU).temperature, 48.5f);
    QCOMPARE(computer.pelmora->computer().hardware().size(), size_t(3));
  }

  // A driver that is not ready yet is asked again after the back-off, not every pass.
  void nvmlThatFailsToStartIsRetriedLater() {
    QTemporaryDir dir;
    const QString state = dir.path() + "/nvml";
    const QByteArray card = "0000:26:00.0 66 71 1730 NVIDIA GeForce RTX 3060 Ti\n";
    QVERIFY(fixtures::writeFile(state, "init-fails\n" + card));
    qputenv("FAKE_NVML_STATE", state.toLocal8Bit());
    pelmora::nvml::Library library("libnvidia-ml.so.1", std::chrono::seconds(2));
    const int user = 0;
    QVERIFY(!library.setAwake(&user, true));
    QVERIFY(fixtures::writeFile(state, card));
    QVERIFY(!library.setAwake(&user, true));  // within the back-off: not asked again
    QTRY_VERIFY_WITH_TIMEOUT(library.setAwake(&user, true), 15000);
    QCOMPARE(library.read("0000:26:00.0")->temperature, std::optional<float>(66.f));
    QVERIFY(!library.setAwake(&user, false));
  }

  void suspendedGpuIsNotRead() {
    QTemporaryDir dir;
    QVERIFY(fixtures::copyTree("amd-desktop", dir.path()));
    const QString status = dir.path() + "/sys/class/hwmon/hwmon2/device/power/runtime_status";
    QVERIFY(fixtures::writeFile(status, "suspended\n"));
    Machine computer(dir.path());
    QCOMPARE(computer.query().count(HWType::GPU), size_t(0));
    QVERIFY(fixtures::writeFile(status, "active\n"));
    QCOMPARE(computer.query().at(HWType::GPU).load, 17.f);
    QVERIFY(fixtures::writeFile(status, "suspending\n"));
    QCOMPARE(computer.query().at(HWType::GPU).fan, 1100.f);
    QVERIFY(fixtures::writeFile(status, "suspended\n"));
    QCOMPARE(computer.query().count(HWType::GPU), size_t(0));
  }

  void nvmlIsHeldOnlyWhileTheCardIsAwake() {
    QTemporaryDir dir;
    QVERIFY(fixtures::copyTree("laptop", dir.path()));
    const QString status = dir.path() + "/sys/bus/pci/devices/0000:01:00.0/power/runtime_status";
    QVERIFY(
        fixtures::writeFile(dir.path() + "/nvml", "0000:01:00.0 52 9 0 NVIDIA GeForce RTX 3050\n"));
    qputenv("FAKE_NVML_STATE", (dir.path() + "/nvml").toLocal8Bit());
    {
      Machine computer(dir.path());
      QVERIFY(!nvmlLoaded());
      QCOMPARE(computer.query().count(HWType::GPU), size_t(0));
      QVERIFY(!nvmlLoaded());

      QVERIFY(fixtures::writeFile(status, "active\n"));
      const HardwareDatas awake = computer.query();
      QVERIFY(nvmlLoaded());
      QCOMPARE(QByteArray::fromStdString(awake.at(HWType::GPU).name),
               QByteArray("NVIDIA GeForce RTX 3050"));
      QCOMPARE(awake.at(HWType::GPU).temperature, 52.f);
      QCOMPARE(awake.at(HWType::GPU).load, 9.f);
      QCOMPARE(awake.at(HWType::GPU).fan, 0.f);  // a laptop card reports no fan

      QVERIFY(fixtures::writeFile(status, "suspended\n"));
      QCOMPARE(computer.query().count(HWType::GPU), size_t(0));
      QVERIFY(!nvmlLoaded());
    }
    QVERIFY(!nvmlLoaded());
  }

  void nvmlCardThatDisappearsAndReturns() {
    QTemporaryDir dir;
    const QString state = dir.path() + "/nvml";
    const QByteArray card = "0000:26:00.0 66 71 1730 NVIDIA GeForce RTX 3060 Ti\n";
    QVERIFY(fixtures::writeFile(state, card));
    qputenv("FAKE_NVML_STATE", state.toLocal8Bit());
    Machine computer(fixtures::path("nvidia-desktop"));
    QCOMPARE(computer.query().at(HWType::GPU).fan, 1730.f);

    QVERIFY(fixtures::writeFile(state, ""));  // fell off the bus
    bool ok = false;
    HardwareDatas datas = computer.query(&ok);
    QVERIFY(ok);
    QCOMPARE(datas.count(HWType::GPU), size_t(0));
    QCOMPARE(datas.at(HWType::CPU).temperature, 55.f);

    QVERIFY(fixtures::writeFile(state, card));
    QCOMPARE(computer.query().at(HWType::GPU).temperature, 66.f);
  }
};

QTEST_APPLESS_MAIN(TestLinuxHardware)
#include "tst_linuxhardware.moc"
