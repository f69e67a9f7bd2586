// The three figures the program shows, on recordings of real machines: each recording
// becomes a sysfs tree, the sensor library reads it and the sampler combines its answer
// as on a first pass. More folders of the same form (recordings/NNNN.txt and an
// expected.tsv) can be named in STELVOX_MACHINES, separated by ':'.
#include <QTemporaryDir>
#include <QtTest>

#include "pelmoracore.h"
#include "recording.h"
#include "samplepass.h"

namespace {

// One expected figure: numbers that count as right (±1), "none" for "--", or not judged.
struct Figure {
  bool judged = false;
  QList<double> values;  // empty: nothing may be shown
};

Figure parseFigure(const QString& field) {
  Figure figure;
  if (field == "-") return figure;
  figure.judged = true;
  if (field == "none") return figure;
  static const QRegularExpression number("[+-]?\\d+(?:\\.\\d+)?");
  for (auto it = number.globalMatch(field); it.hasNext();)
    figure.values << it.next().captured(0).toDouble();
  return figure;
}

bool matches(const Figure& figure, const QString& shown) {
  if (figure.values.isEmpty()) return shown == "--";
  bool ok = false;
  const int value = shown.toInt(&ok);
  if (!ok) return false;
  for (double expected : figure.values)
    if (std::abs(value - expected) <= 1.0) return true;
  return false;
}

QStringList machineFolders() {
  QStringList folders{qEnvironmentVariable("STELVOX_SOURCE_DIR") + "/tests/fixtures/machines",
                      qEnvironmentVariable("STELVOX_SOURCE_DIR") + "/tests/fixtures/machines/own"};
  folders += qEnvironmentVariable("STELVOX_MACHINES").split(':', Qt::SkipEmptyParts);
  return folders;
}

}  // namespace

Q_DECLARE_METATYPE(Figure)

class TestRealMachines : public QObject {
  Q_OBJECT

 private slots:
  void figures_data() {
    QTest::addColumn<QString>("recording");
    QTest::addColumn<Figure>("cpu");
    QTest::addColumn<Figure>("gpu");
    QTest::addColumn<Figure>("fan");
    int rows = 0;
    for (const QString& folder : machineFolders()) {
      QFile table(folder + "/expected.tsv");
      if (!table.open(QIODevice::ReadOnly)) continue;
      const QList<QByteArray> lines = table.readAll().split('\n');
      for (const QByteArray& line : lines.mid(1)) {
        const QStringList fields = QString::fromUtf8(line).split('\t');
        if (fields.size() < 5) continue;
        QTest::newRow(qPrintable(QFileInfo(folder).fileName() + "/" + fields[0]))
            << folder + "/recordings/" + fields[0] + ".txt" << parseFigure(fields[2])
            << parseFigure(fields[3]) << parseFigure(fields[4]);
        ++rows;
      }
    }
    QVERIFY(rows >= 41);
  }

  void figures() {
    QFETCH(QString, recording);
    QFETCH(Figure, cpu);
    QFETCH(Figure, gpu);
    QFETCH(Figure, fan);
    QFile file(recording);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(recording));
    QTemporaryDir root;
    QVERIFY(recording::writeTree(recording::parse(file.readAll()), root.path()));
    fixtures::useRoots(root.path());
    pelmora::Pelmora library(pelmora::platform::createComputer());
    pelmora::HardwareDatas datas;
    const bool ok = library.getHardwareInfo(datas);
    QVERIFY(ok);
    COMMON::HardwareInfo info;
    sampling::SlewStates states;
    sampling::applyPass(info, 0, ok, datas, states);
    const QString shown = QString("shown: CPU %1, GPU %2, fan %3")
                              .arg(info.strCPUTemperature, info.strGPUTemperature, info.strFanRpm);
    if (cpu.judged) QVERIFY2(matches(cpu, info.strCPUTemperature), qPrintable(shown));
    if (gpu.judged) QVERIFY2(matches(gpu, info.strGPUTemperature), qPrintable(shown));
    if (fan.judged) QVERIFY2(matches(fan, info.strFanRpm), qPrintable(shown));
  }
};

QTEST_APPLESS_MAIN(TestRealMachines)
#include "tst_realmachines.moc"
