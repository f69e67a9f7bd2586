// Parsers of the kernel's text files.
#include <QtTest>

#include "sysparse.h"

using namespace pelmora::sys;

class TestSysParse : public QObject {
  Q_OBJECT

 private slots:
  void integers_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<qlonglong>("value");
    QTest::newRow("millidegrees") << QByteArray("45250\n") << true << 45250LL;
    QTest::newRow("negative") << QByteArray("-128000\n") << true << -128000LL;
    QTest::newRow("plus sign") << QByteArray("+7") << true << 7LL;
    QTest::newRow("surrounding blanks") << QByteArray("  12 \r\n") << true << 12LL;
    QTest::newRow("empty") << QByteArray("") << false << 0LL;
    QTest::newRow("only newline") << QByteArray("\n") << false << 0LL;
    QTest::newRow("sign alone") << QByteArray("-") << false << 0LL;
    QTest::newRow("garbage") << QByteArray("abc") << false << 0LL;
    QTest::newRow("trailing garbage") << QByteArray("45x") << false << 0LL;
    QTest::newRow("decimal point") << QByteArray("45.5") << false << 0LL;
    QTest::newRow("two numbers") << QByteArray("1 2") << false << 0LL;
    QTest::newRow("overflow") << QByteArray("99999999999999999999999") << false << 0LL;
    QTest::newRow("binary zero") << QByteArray(
                                        "4\0"
                                        "5",
                                        3)
                                 << false << 0LL;
  }
  void integers() {
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(qlonglong, value);
    const std::optional<long long> parsed =
        parseInteger(std::string_view(text.constData(), size_t(text.size())));
    QCOMPARE(parsed.has_value(), valid);
    if (valid) QCOMPARE(*parsed, value);
  }

  void procStatLines() {
    const std::vector<CpuTimes> times = parseProcStat(
        "cpu  100 5 50 1000 20 3 2 1 40 0\n"
        "cpu0 60 5 30 500 10 3 2 1 40 0\n"
        "cpu3 40 0 20 500 10\n"
        "cpuX 1 2 3 4 5\n"
        "cpu1 1 2\n"
        "cpu2 1 2 x 4 5\n"
        "intr 1 2 3\n");
    QCOMPARE(times.size(), size_t(3));
    QCOMPARE(times[0].cpu, -1);
    QCOMPARE(times[1].cpu, 0);
    QCOMPARE(times[2].cpu, 3);
    // Guest time (40) is already inside user time and is not counted twice.
    QCOMPARE(times[0].total(), quint64(100 + 5 + 50 + 1000 + 20 + 3 + 2 + 1));
    QCOMPARE(times[0].idleTotal(), quint64(1020));
    QCOMPARE(times[2].total(), quint64(40 + 20 + 500 + 10));
  }

  // The total line alone, as the CPU-usage helper reads it.
  void procStatTotal_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<quint64>("idle");
    QTest::addColumn<quint64>("total");
    QTest::newRow("ten fields, guest not counted twice")
        << QByteArray("cpu  10 20 30 400 50 6 7 8 90 100\ncpu0 1 2 3 4 5 6 7 8 0 0\nintr 1 0\n")
        << true << quint64(450) << quint64(531);
    QTest::newRow("oldest kernels: four fields")
        << QByteArray("cpu 1 2 3 4\n") << true << quint64(4) << quint64(10);
    QTest::newRow("aggregate line not first")
        << QByteArray("intr 1 2\ncpu 1 1 1 7 0 0 0 0\n") << true << quint64(7) << quint64(10);
    QTest::newRow("no line end") << QByteArray("cpu 1 2 3 4 5") << true << quint64(9)
                                 << quint64(15);
    QTest::newRow("per-processor lines only")
        << QByteArray("cpu0 1 2 3 4\n") << false << quint64(0) << quint64(0);
    QTest::newRow("too few fields")
        << QByteArray("cpu 1 2 3\n") << false << quint64(0) << quint64(0);
    QTest::newRow("not numbers") << QByteArray("cpu a b c d\n") << false << quint64(0)
                                 << quint64(0);
    QTest::newRow("overflowing number")
        << QByteArray("cpu 99999999999999999999999 1 1 1\n") << false << quint64(0) << quint64(0);
    QTest::newRow("empty") << QByteArray() << false << quint64(0) << quint64(0);
    QTest::newRow("NUL inside") << QByteArray("cpu 1 2\0 3 4\n", 13) << false << quint64(0)
                                << quint64(0);
  }
  void procStatTotal() {
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    const std::optional<CpuTimes> times =
        parseCpuTotal(std::string_view(text.constData(), size_t(text.size())));
    QCOMPARE(times.has_value(), ok);
    if (!ok) return;
    QFETCH(quint64, idle);
    QFETCH(quint64, total);
    QCOMPARE(quint64(times->idleTotal()), idle);
    QCOMPARE(quint64(times->total()), total);
  }

  // The share between two totals given as idle and all ticks.
  void loadFromTotals_data() {
    QTest::addColumn<quint64>("idle0");
    QTest::addColumn<quint64>("total0");
    QTest::addColumn<quint64>("idle1");
    QTest::addColumn<quint64>("total1");
    QTest::addColumn<double>("percent");  // negative: no share
    QTest::newRow("half busy") << quint64(800) << quint64(1000) << quint64(900) << quint64(1200)
                               << 50.0;
    QTest::newRow("idle") << quint64(800) << quint64(1000) << quint64(1000) << quint64(1200) << 0.0;
    QTest::newRow("fully busy") << quint64(800) << quint64(1000) << quint64(800) << quint64(1200)
                                << 100.0;
    QTest::newRow("no time passed")
        << quint64(800) << quint64(1000) << quint64(800) << quint64(1000) << -1.0;
    QTest::newRow("counters went back")
        << quint64(800) << quint64(1000) << quint64(100) << quint64(200) << -1.0;
    QTest::newRow("idle went back")
        << quint64(800) << quint64(1000) << quint64(790) << quint64(1100) << 100.0;
    QTest::newRow("idle ran ahead")
        << quint64(800) << quint64(1000) << quint64(1200) << quint64(1100) << 0.0;
  }
  void loadFromTotals() {
    QFETCH(quint64, idle0);
    QFETCH(quint64, total0);
    QFETCH(quint64, idle1);
    QFETCH(quint64, total1);
    QFETCH(double, percent);
    CpuTimes before, after;
    before.idle = idle0;
    before.user = total0 - idle0;
    after.idle = idle1;
    // Idle beyond the total cannot stand in one line's counters; all idle is nearest.
    after.user = total1 > idle1 ? total1 - idle1 : 0;
    const std::optional<double> load = cpuLoadPercent(before, after);
    QCOMPARE(load.has_value(), percent >= 0);
    if (load) QCOMPARE(*load, percent);
  }

  void loadBetweenSnapshots_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<float>("percent");
    QTest::newRow("busy 60 of 100")
        << QByteArray("cpu 1000 0 500 8000 100 0 0 0 0 0")
        << QByteArray("cpu 1040 0 520 8030 110 0 0 0 0 0") << true << 60.f;
    QTest::newRow("iowait is idle") << QByteArray("cpu 0 0 0 0 0 0 0 0")
                                    << QByteArray("cpu 25 0 0 25 50 0 0 0") << true << 25.f;
    QTest::newRow("guest not counted twice")
        << QByteArray("cpu 100 0 0 100 0 0 0 0 0 0") << QByteArray("cpu 150 0 0 150 0 0 0 0 50 0")
        << true << 50.f;
    QTest::newRow("steal and irq are busy")
        << QByteArray("cpu 0 0 0 0 0 0 0 0") << QByteArray("cpu 0 0 0 50 0 10 10 30") << true
        << 50.f;
    QTest::newRow("all idle") << QByteArray("cpu 5 0 5 100 0 0 0 0")
                              << QByteArray("cpu 5 0 5 200 0 0 0 0") << true << 0.f;
    QTest::newRow("no time passed") << QByteArray("cpu 5 0 5 100 0 0 0 0")
                                    << QByteArray("cpu 5 0 5 100 0 0 0 0") << false << 0.f;
    QTest::newRow("counters went back") << QByteArray("cpu 500 0 5 100 0 0 0 0")
                                        << QByteArray("cpu 5 0 5 100 0 0 0 0") << false << 0.f;
    QTest::newRow("iowait ran backwards")
        << QByteArray("cpu 0 0 0 100 50 0 0 0") << QByteArray("cpu 100 0 0 100 40 0 0 0") << true
        << 100.f;
  }
  void loadBetweenSnapshots() {
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(bool, valid);
    QFETCH(float, percent);
    const auto a = parseProcStat(before.toStdString());
    const auto b = parseProcStat(after.toStdString());
    QCOMPARE(a.size(), size_t(1));
    QCOMPARE(b.size(), size_t(1));
    const std::optional<double> load = cpuLoadPercent(a[0], b[0]);
    QCOMPARE(load.has_value(), valid);
    if (valid) QCOMPARE(float(*load), percent);
  }

  void modelNames_data() {
    QTest::addColumn<QByteArray>("cpuinfo");
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("x86")
        << QByteArray(
               "processor\t: 0\ncpu family\t: 25\nmodel name\t: AMD Ryzen 7  5800X "
               "8-Core Processor   \ncpu MHz\t\t: 3600\n")
        << QByteArray("AMD Ryzen 7 5800X 8-Core Processor");
    QTest::newRow("arm") << QByteArray("processor\t: 0\nBogoMIPS\t: 108\n\nHardware\t: BCM2835\n")
                         << QByteArray("BCM2835");
    QTest::newRow("power") << QByteArray("processor\t: 0\ncpu\t\t: POWER9, altivec supported\n")
                           << QByteArray("POWER9, altivec supported");
    QTest::newRow("empty value") << QByteArray("model name\t:\n") << QByteArray("");
    QTest::newRow("nothing") << QByteArray("") << QByteArray("");
  }
  void modelNames() {
    QFETCH(QByteArray, cpuinfo);
    QFETCH(QByteArray, name);
    QCOMPARE(QByteArray::fromStdString(cpuModelName(cpuinfo.toStdString())), name);
  }

  void numberedNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<int>("number");
    QTest::newRow("hwmon12") << "hwmon12"
                             << "hwmon"
                             << "" << 12;
    QTest::newRow("temp3_input") << "temp3_input"
                                 << "temp"
                                 << "_input" << 3;
    QTest::newRow("temp3_label") << "temp3_label"
                                 << "temp"
                                 << "_input" << -1;
    QTest::newRow("no digits") << "temp_input"
                               << "temp"
                               << "_input" << -1;
    QTest::newRow("letters") << "tempX_input"
                             << "temp"
                             << "_input" << -1;
    QTest::newRow("huge") << "temp99999999999_input"
                          << "temp"
                          << "_input" << -1;
  }
  void numberedNames() {
    QFETCH(QString, name);
    QFETCH(QString, prefix);
    QFETCH(QString, suffix);
    QFETCH(int, number);
    QCOMPARE(numberedName(name.toStdString(), prefix.toStdString(), suffix.toStdString()), number);
  }

  void ueventValues() {
    const std::string uevent = "DRIVER=nvidia\nPCI_ID=10DE:2484\nPCI_SLOT_NAME=0000:26:00.0\n";
    QCOMPARE(ueventValue(uevent, "DRIVER"), std::string("nvidia"));
    QCOMPARE(ueventValue(uevent, "PCI_SLOT_NAME"), std::string("0000:26:00.0"));
    QCOMPARE(ueventValue(uevent, "PCI"), std::string());
    QCOMPARE(ueventValue(uevent, "MODALIAS"), std::string());
  }
};

QTEST_APPLESS_MAIN(TestSysParse)
#include "tst_sysparse.moc"
