// The history pane: what its rings keep, gaps, the scale against outliers, the unit,
// the shown lines remembered, and no painting while hidden.
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QtTest>

#include "constants.h"
#include "historypane.h"
#include "settings.h"

class TestHistoryPane : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    m_config = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
  }

  void ringKeepsTheLastTenMinutes() {
    HistoryRing ring(HistoryPane::kCapacity);
    for (int i = 0; i < 450; ++i) ring.push(i);
    QCOMPARE(ring.size(), 400);
    QCOMPARE(ring.at(0), std::optional<int>(50));
    QCOMPARE(ring.at(399), std::optional<int>(449));
    QCOMPARE(ring.at(400), std::optional<int>());
  }

  void missingReadingsAreGaps() {
    HistoryRing ring(10);
    for (std::optional<int> value : {std::optional<int>(40), std::optional<int>(41),
                                     std::optional<int>(), std::optional<int>(43)})
      ring.push(value);
    QCOMPARE(ring.runs(), (QVector<QPair<int, int>>{{0, 1}, {3, 3}}));
    HistoryPane pane;
    pane.onReadHardwareInfo({"--", "--", "--", "--", "--"});
    QCOMPARE(pane.ring(HistoryPane::FanRpm).runs(), (QVector<QPair<int, int>>{}));
    QCOMPARE(pane.legendText(HistoryPane::FanRpm).endsWith(": --"), true);
  }

  void scaleIgnoresAnIsolatedOutlier() {
    QVector<int> values;
    for (int i = 0; i < 200; ++i) values << 40 + i % 10;
    values << 1000;
    const QPair<int, int> scale = HistoryPane::scaleOf(values, 90);
    QVERIFY2(scale.second < 110, qPrintable(QString::number(scale.second)));
    QVERIFY(scale.first <= 40 && scale.second >= 90);  // threshold and readings in view
  }

  void unitChangeRedrawsInTheNewUnit() {
    HistoryPane pane;
    pane.resize(900, 300);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    pane.onReadHardwareInfo({"45", "10", "50", "20", "1000"});
    QCOMPARE(pane.legendText(HistoryPane::CpuTemperature).section('\n', 0, 0),
             QStringLiteral("CPU温度: 45℃"));
    const int before = pane.paintCount();
    pane.onSettingInfoChanged(COMMON::kKeyTemperatureUnit, "1");
    QTRY_VERIFY(pane.paintCount() > before);
    QCOMPARE(pane.legendText(HistoryPane::CpuTemperature).section('\n', 0, 0),
             QStringLiteral("CPU温度: 113℉"));
  }

  void hiddenPaneDoesNotPaint() {
    HistoryPane pane;
    pane.resize(900, 300);
    for (int i = 0; i < 50; ++i) pane.onReadHardwareInfo({"45", "10", "50", "20", "1000"});
    QCoreApplication::processEvents();
    QCOMPARE(pane.paintCount(), 0);
    QCOMPARE(pane.ring(HistoryPane::CpuUsage).size(), 50);
  }

  void clickingALegendHidesTheLineAndIsRemembered() {
    {
      HistoryPane pane;
      pane.resize(900, 300);
      pane.show();
      QVERIFY(QTest::qWaitForWindowExposed(&pane));
      QVERIFY(pane.isShown(HistoryPane::GpuUsage));
      // The second entry of the middle band.
      const QPoint entry(900 - 200, 20 + int(262 * 0.4) + 36 + 10);
      QTest::mouseClick(&pane, Qt::LeftButton, Qt::NoModifier, entry);
      QVERIFY(!pane.isShown(HistoryPane::GpuUsage));
    }
    HistoryPane next;
    QVERIFY(!next.isShown(HistoryPane::GpuUsage));
    QVERIFY(next.isShown(HistoryPane::CpuUsage));
  }

 private:
  std::unique_ptr<QTemporaryDir> m_config;
};

QTEST_MAIN(TestHistoryPane)
#include "tst_historypane.moc"
