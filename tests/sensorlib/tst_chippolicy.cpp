// Which chips and which of their inputs supply the figures: the tables of the policy.
// The recordings of real machines (tst_realmachines) check the whole of it.
#include <QtTest>

#include "chippolicy.h"

using namespace pelmora::policy;

namespace {
std::vector<std::string> labels(const QStringList& list) {
  std::vector<std::string> out;
  for (const QString& label : list) out.push_back(label.toStdString());
  return out;
}

QString roleName(const ChipClass& chip) {
  switch (chip.role) {
    case ChipRole::Cpu:
      return "cpu";
    case ChipRole::Gpu:
      return "gpu";
    case ChipRole::Board:
      return chip.group == BoardGroup::SuperIo ? "superio" : "firmware";
    case ChipRole::Unused:
      break;
  }
  return "unused";
}
}  // namespace

class TestChipPolicy : public QObject {
  Q_OBJECT

 private slots:
  void roles_data() {
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("role");
    const char* const rows[][2] = {{"k10temp", "cpu"},
                                   {"zenpower", "cpu"},
                                   {"coretemp", "cpu"},
                                   {"k8temp", "cpu"},
                                   {"amdgpu", "gpu"},
                                   {"radeon", "gpu"},
                                   {"nouveau", "gpu"},
                                   {"i915", "gpu"},
                                   {"xe", "gpu"},
                                   {"nct6798", "superio"},
                                   {"nct6687", "superio"},
                                   {"it8686", "superio"},
                                   {"it87", "superio"},
                                   {"w83627ehf", "superio"},
                                   {"f71882fg", "superio"},
                                   {"atk0110", "firmware"},
                                   {"asus", "firmware"},
                                   {"asus_ec_sensors", "firmware"},
                                   {"dell_smm", "firmware"},
                                   {"thinkpad", "firmware"},
                                   {"applesmc", "firmware"},
                                   {"cros_ec", "firmware"},
                                   {"acpi_fan", "firmware"},
                                   {"pwmfan", "firmware"},
                                   {"gpio_fan", "firmware"},
                                   {"legion_hwmon", "firmware"},
                                   {"nvme", "unused"},
                                   {"drivetemp", "unused"},
                                   {"spd5118", "unused"},
                                   {"iwlwifi_1", "unused"},
                                   {"acpitz", "unused"},
                                   {"BAT0", "unused"},
                                   {"pch_cannonlake", "unused"},
                                   {"nzxt_kraken3", "unused"},
                                   {"corsaircpro", "unused"},
                                   {"fam15h_power", "unused"},
                                   {"k10temp2", "unused"},
                                   {"xen_thing", "unused"},
                                   {"hwmon3", "unused"},
                                   {"", "unused"}};
    for (const auto& row : rows) QTest::newRow(row[0][0] ? row[0] : "(empty)") << row[0] << row[1];
  }
  void roles() {
    QFETCH(QString, driver);
    QFETCH(QString, role);
    QCOMPARE(roleName(classifyChip(driver.toStdString())), role);
  }

  // Which inputs a figure is made from, and how, given a chip's labels.
  void choices_data() {
    QTest::addColumn<bool>("gpu");
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<int>("combine");
    QTest::addColumn<QList<int>>("inputs");
    const int first = int(Combine::First), max = int(Combine::Max), mean = int(Combine::Mean);
    QTest::newRow("Tdie before Tctl")
        << false << "k10temp" << QStringList{"Tctl", "Tdie", "Tccd1"} << first << QList<int>{1, 0};
    QTest::newRow("Tctl alone") << false << "zenpower" << QStringList{"Tctl", "Tccd1", "Tccd2"}
                                << first << QList<int>{0};
    QTest::newRow("old k10temp") << false << "k10temp" << QStringList{"temp1"} << first
                                 << QList<int>{0};
    QTest::newRow("package") << false << "coretemp" << QStringList{"Core 0", "Package id 1"}
                             << first << QList<int>{1};
    QTest::newRow("old kernel package")
        << false << "coretemp" << QStringList{"Physical id 0", "Core 0"} << first << QList<int>{0};
    QTest::newRow("hottest core") << false << "coretemp" << QStringList{"Core 0", "Core 1"} << max
                                  << QList<int>{0, 1};
    QTest::newRow("k8temp mean") << false << "k8temp"
                                 << QStringList{"Core0 Temp", "Core0 Temp", "Core1 Temp"} << mean
                                 << QList<int>{0, 1, 2};
    QTest::newRow("no inputs") << false << "coretemp" << QStringList{} << first << QList<int>{};
    QTest::newRow("edge") << true << "amdgpu" << QStringList{"junction", "edge", "mem"} << first
                          << QList<int>{1};
    QTest::newRow("amdgpu without edge")
        << true << "amdgpu" << QStringList{"junction", "mem"} << first << QList<int>{0};
    QTest::newRow("xe package") << true << "xe" << QStringList{"vram", "pkg"} << first
                                << QList<int>{1};
    QTest::newRow("nouveau") << true << "nouveau" << QStringList{"temp1"} << first << QList<int>{0};
  }
  void choices() {
    QFETCH(bool, gpu);
    QFETCH(QString, driver);
    QFETCH(QStringList, labels);
    QFETCH(int, combine);
    QFETCH(QList<int>, inputs);
    const Choice choice = gpu ? chooseGpuTemperature(driver.toStdString(), ::labels(labels))
                              : chooseCpuTemperature(driver.toStdString(), ::labels(labels));
    QCOMPARE(int(choice.combine), combine);
    QList<int> chosen;
    for (size_t index : choice.inputs) chosen << int(index);
    QCOMPARE(chosen, inputs);
    QVERIFY(!choice.reason.empty());
  }

  // Unconnected inputs (integer part 0) and missing readings fall through.
  void combining_data() {
    QTest::addColumn<int>("combine");
    QTest::addColumn<QList<double>>("values");  // NaN: no reading
    QTest::addColumn<double>("expected");       // NaN: no figure
    const double none = qQNaN();
    QTest::newRow("first") << int(Combine::First) << QList<double>{50, 60} << 50.;
    QTest::newRow("first missing") << int(Combine::First) << QList<double>{none, 60} << 60.;
    QTest::newRow("first unconnected") << int(Combine::First) << QList<double>{0.5, 60} << 60.;
    QTest::newRow("max") << int(Combine::Max) << QList<double>{44, 49, none} << 49.;
    QTest::newRow("mean") << int(Combine::Mean) << QList<double>{30, 35, 0} << 32.5;
    QTest::newRow("nothing") << int(Combine::Mean) << QList<double>{none, 0} << none;
  }
  void combining() {
    QFETCH(int, combine);
    QFETCH(QList<double>, values);
    QFETCH(double, expected);
    Choice choice{Combine(combine), {}, ""};
    std::vector<std::optional<float>> readings;
    for (double value : values) {
      choice.inputs.push_back(readings.size());
      readings.push_back(qIsNaN(value) ? std::nullopt : std::optional<float>(float(value)));
    }
    const std::optional<float> figure = pelmora::policy::combine(choice, readings);
    QCOMPARE(figure.has_value(), !qIsNaN(expected));
    if (figure) QCOMPARE(double(*figure), expected);
  }

  void integratedGraphics_data() {
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QStringList>("voltages");
    QTest::addColumn<QString>("slot");
    QTest::addColumn<bool>("integrated");
    QTest::newRow("discrete amdgpu")
        << "amdgpu" << QStringList{"vddgfx"} << "0000:03:00.0" << false;
    QTest::newRow("APU") << "amdgpu" << QStringList{"vddgfx", "vddnb"} << "0000:e5:00.0" << true;
    QTest::newRow("old APU on the root bus") << "radeon" << QStringList{} << "0000:00:01.0" << true;
    QTest::newRow("Intel") << "i915" << QStringList{} << "0000:00:02.0" << true;
    QTest::newRow("Intel on xe") << "xe" << QStringList{} << "" << true;
    QTest::newRow("nouveau card") << "nouveau" << QStringList{} << "0000:01:00.0" << false;
  }
  void integratedGraphics() {
    QFETCH(QString, driver);
    QFETCH(QStringList, voltages);
    QFETCH(QString, slot);
    QFETCH(bool, integrated);
    QCOMPARE(isIntegratedGpu(driver.toStdString(), labels(voltages), slot.toStdString()),
             integrated);
  }

  void boardFans() {
    for (const char* label : {"fan1", "CPU Fan Speed", "cpu_fan", "Processor Fan", "CPU_Opt"})
      QVERIFY2(isBoardFan(label), label);
    for (const char* label : {"Pump speed", "Water_Flow", "gpu_fan", "Video Fan", "AIO PUMP"})
      QVERIFY2(!isBoardFan(label), label);
  }
};

QTEST_APPLESS_MAIN(TestChipPolicy)
#include "tst_chippolicy.moc"
