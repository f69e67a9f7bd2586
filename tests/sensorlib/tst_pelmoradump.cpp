// pelmora-dump run as a user runs it, on each recorded machine.
#include <QProcess>
#include <QtTest>

#include "fixturetree.h"

namespace {
QString tool() { return qEnvironmentVariable("STELVOX_BINARY_DIR") + "/bin/pelmora-dump"; }

QProcessEnvironment machineEnvironment(const QString& machine) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("HOST_SYS", fixtures::path(machine) + "/sys");
  environment.insert("HOST_PROC", fixtures::path(machine) + "/proc");
  environment.remove("FAKE_NVML_STATE");
  return environment;
}

// The map part of the output, one line per kind.
QStringList mapLines(const QByteArray& output) {
  const QList<QByteArray> lines = output.split('\n');
  QStringList map;
  bool inMap = false;
  for (const QByteArray& line : lines) {
    if (line.startsWith("HardwareDatas")) inMap = true;
    if (inMap && !line.isEmpty()) map << QString::fromUtf8(line);
  }
  return map;
}
}  // namespace

class TestPelmoraDump : public QObject {
  Q_OBJECT

 private slots:
  void printsTheMapOfEachMachine_data() {
    QTest::addColumn<QString>("machine");
    QTest::addColumn<QStringList>("expected");
    const QString head = "HardwareDatas (query returned true):";
    QTest::newRow("amd-desktop")
        << "amd-desktop"
        << QStringList{head,
                       "  CPU: name=\"AMD Ryzen 7 5800X 8-Core Processor\" temperature=48.50 "
                       "load=0.00 fan=0.00",
                       "  GPU: name=\"AMD GPU [1002:73BF]\" temperature=52.00 load=17.00 "
                       "fan=1100.00",
                       "  Mainboard: name=\"nct6798\" temperature=48.00 load=0.00 fan=1065.00"};
    QTest::newRow("intel-desktop")
        << "intel-desktop"
        << QStringList{head,
                       "  CPU: name=\"Intel(R) Core(TM) i7-9700K CPU @ 3.60GHz\" "
                       "temperature=52.00 load=0.00 fan=0.00",
                       "  GPU: name=\"NVIDIA GPU [10DE:1B81]\" temperature=41.00 load=0.00 "
                       "fan=1350.00",
                       "  Mainboard: name=\"it8686\" temperature=36.50 load=0.00 fan=1240.00"};
    QTest::newRow("laptop") << "laptop"
                            << QStringList{head,
                                           "  CPU: name=\"11th Gen Intel(R) Core(TM) i7-1165G7 "
                                           "@ 2.80GHz\" temperature=61.00 load=0.00 fan=0.00",
                                           "  GPU: no entry",
                                           "  Mainboard: name=\"thinkpad\" temperature=55.00 "
                                           "load=0.00 fan=2900.00"};
    QTest::newRow("nvidia-desktop")
        << "nvidia-desktop"
        << QStringList{head,
                       "  CPU: name=\"AMD Ryzen 5 3600 6-Core Processor\" temperature=55.00 "
                       "load=0.00 fan=0.00",
                       "  GPU: name=\"NVIDIA GeForce RTX 3060 Ti\" temperature=48.00 load=23.00 "
                       "fan=1450.00",
                       "  Mainboard: name=\"nct6797\" temperature=31.00 load=0.00 fan=1020.00"};
    QTest::newRow("empty") << "empty"
                           << QStringList{head, "  CPU: no entry", "  GPU: no entry",
                                          "  Mainboard: no entry"};
  }
  void printsTheMapOfEachMachine() {
    QFETCH(QString, machine);
    QFETCH(QStringList, expected);
    QProcess dump;
    dump.setProcessEnvironment(machineEnvironment(machine));
    dump.start(tool(), QStringList());
    QVERIFY2(dump.waitForFinished(60000), qPrintable(dump.errorString()));
    QCOMPARE(dump.exitStatus(), QProcess::NormalExit);
    QCOMPARE(dump.exitCode(), 0);
    const QByteArray output = dump.readAllStandardOutput();
    QCOMPARE(mapLines(output), expected);
    QVERIFY(output.contains("[Mainboard] "));
  }

  void cardWithoutItsLibraryHasNoEntry() {
    QProcess dump;
    QProcessEnvironment environment = machineEnvironment("nvidia-desktop");
    environment.remove("LD_LIBRARY_PATH");
    dump.setProcessEnvironment(environment);
    dump.start(tool(), QStringList());
    QVERIFY(dump.waitForFinished(60000));
    QCOMPARE(dump.exitCode(), 0);
    const QByteArray output = dump.readAllStandardOutput();
    QVERIFY(mapLines(output).contains("  GPU: no entry"));
    QVERIFY(output.contains("[GpuNvidia] NVIDIA GPU [10DE:2484]"));
  }

  void watchRepeatsUntilTerminated() {
    QProcess dump;
    dump.setProcessEnvironment(machineEnvironment("amd-desktop"));
    dump.start(tool(), {"--watch"});
    QVERIFY(dump.waitForStarted(30000));
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += dump.readAllStandardOutput()).count("HardwareDatas") >= 2,
                             30000);
    dump.terminate();
    QVERIFY(dump.waitForFinished(30000));
    QCOMPARE(dump.exitStatus(), QProcess::NormalExit);
    QCOMPARE(dump.exitCode(), 0);
  }

  // The bug-report text: each chip with its role and origin, readings that are only
  // listed, and where each figure comes from.
  void reportNamesTheSourceOfEachFigure() {
    QProcess dump;
    dump.setProcessEnvironment(machineEnvironment("amd-desktop"));
    dump.start(tool(), {"--report"});
    QVERIFY(dump.waitForFinished(60000));
    QCOMPARE(dump.exitCode(), 0);
    const QString output = QString::fromUtf8(dump.readAllStandardOutput());
    for (const char* line :
         {"CPU: AMD Ryzen 7 5800X 8-Core Processor (k10temp, hwmon1)",
          "GPU: AMD GPU [1002:73BF] (amdgpu, hwmon2)", "board: nct6798 (nct6798, hwmon3)",
          "unused: nvme (nvme, hwmon0)", "Tccd1                43.750  [input]",
          "junction             60.000  [input]",
          "CPU temperature: 48.500 C from AMD Ryzen 7 5800X 8-Core Processor: Tctl (Tdie where "
          "present, else Tctl)",
          "GPU temperature: 52.000 C from AMD GPU [1002:73BF]: edge (the edge reading)",
          "fan: 1065.000 rpm from nct6798: fan1, fan2 (super-I/O chip: the mean of its turning "
          "fans; temperature its processor reading)"})
      QVERIFY2(output.contains(line), line);
  }

  void unknownArgumentIsRefused() {
    QProcess dump;
    dump.start(tool(), {"--bogus"});
    QVERIFY(dump.waitForFinished(30000));
    QCOMPARE(dump.exitCode(), 2);
    QVERIFY(dump.readAllStandardError().contains("--bogus"));
  }
};

QTEST_GUILESS_MAIN(TestPelmoraDump)
#include "tst_pelmoradump.moc"
