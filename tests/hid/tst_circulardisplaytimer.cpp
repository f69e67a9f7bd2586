// The rotation of the displayed item.
#include <QTemporaryDir>
#include <QtTest>

#include "circulardisplaytimer.h"
#include "constants.h"
#include "settings.h"

namespace {
constexpr quint8 kCpu = 0x01, kGpu = 0x04, kFan = 0x10;
}

class TestCircularDisplayTimer : public QObject {
  Q_OBJECT

  QTemporaryDir m_config;

  void setItems(int cpu, int gpu, int fan) {
    COMMON::writeSetting(COMMON::kKeyDisplayCpuTemperature, QString::number(cpu));
    COMMON::writeSetting(COMMON::kKeyDisplayGpuTemperature, QString::number(gpu));
    COMMON::writeSetting(COMMON::kKeyDisplayFanRpm, QString::number(fan));
  }

 private slots:
  void initTestCase() {
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
  }
  void init() {
    setItems(1, 1, 1);
    COMMON::writeSetting(COMMON::kKeyChangeInterval, QStringLiteral("2000"));
  }

  void timeoutsCycleThroughEnabledItems() {
    CircularDisplayTimer rotation;
    QCOMPARE(rotation.itemMask(), quint8(kCpu | kGpu | kFan));
    QCOMPARE(rotation.currentItem(), kCpu);
    QList<quint8> seen;
    for (int i = 0; i < 4; ++i) {
      rotation.onChangeData();
      seen << rotation.currentItem();
    }
    QCOMPARE(seen, QList<quint8>({kGpu, kFan, kCpu, kGpu}));
  }

  void startMovesOnBeforeItStarts() {
    CircularDisplayTimer rotation;
    QVERIFY(!rotation.isActive());
    rotation.start();
    QVERIFY(rotation.isActive());
    QCOMPARE(rotation.currentItem(), kGpu);
    rotation.stop();
    QCOMPARE(rotation.currentItem(), kGpu);  // stopping keeps the position
    rotation.start();
    QCOMPARE(rotation.currentItem(), kFan);
  }

  void removingAnotherItemStillMovesOn() {
    CircularDisplayTimer rotation;
    QCOMPARE(rotation.currentItem(), kCpu);
    rotation.removeItem(kFan);
    QCOMPARE(rotation.currentItem(), kGpu);
  }

  void singleItemStaysPut() {
    setItems(0, 1, 0);
    CircularDisplayTimer rotation;
    QCOMPARE(rotation.currentItem(), quint8(0));  // position 0 is not enabled
    rotation.onChangeData();
    QCOMPARE(rotation.currentItem(), kGpu);
    rotation.onChangeData();
    QCOMPARE(rotation.currentItem(), kGpu);
  }

  void disabledFirstPositionReadsZeroUntilFirstAdvance() {
    setItems(0, 1, 1);
    CircularDisplayTimer rotation;
    QCOMPARE(rotation.currentItem(), quint8(0));
    rotation.onChangeData();
    QCOMPARE(rotation.currentItem(), kGpu);
  }

  void removingTheLastItemStops() {
    setItems(1, 0, 0);
    CircularDisplayTimer rotation;
    rotation.start();
    QVERIFY(rotation.isActive());
    QCOMPARE(rotation.currentItem(), kCpu);
    rotation.removeItem(kCpu);
    QVERIFY(!rotation.isActive());
    QCOMPARE(rotation.currentItem(), quint8(0));
  }

  void emptyMaskStartsThenStopsOnFirstTimeout() {
    setItems(0, 0, 0);
    COMMON::writeSetting(COMMON::kKeyChangeInterval, QStringLiteral("20"));
    CircularDisplayTimer rotation;
    rotation.start();
    QVERIFY(rotation.isActive());
    QTRY_VERIFY_WITH_TIMEOUT(!rotation.isActive(), 10000);
    QCOMPARE(rotation.currentItem(), quint8(0));
  }

  void addItemStartsTheTimerWithoutMoving() {
    setItems(1, 0, 0);
    CircularDisplayTimer rotation;
    rotation.addItem(kFan);
    QVERIFY(rotation.isActive());
    QCOMPARE(rotation.currentItem(), kCpu);
    QCOMPARE(rotation.itemMask(), quint8(kCpu | kFan));
  }

  void intervalChangesApplyAtNextStart() {
    CircularDisplayTimer rotation;
    rotation.setInterval(5000);
    QVERIFY(!rotation.isActive());
    rotation.start();
    QCOMPARE(rotation.interval(), 5000);
    rotation.setInterval(0);  // a damaged value must not make a busy loop
    QCOMPARE(rotation.interval(), COMMON::kDefaultChangeInterval);
  }

  void intervalChangesApplyWhileRunning() {
    COMMON::writeSetting(COMMON::kKeyChangeInterval, QStringLiteral("600000"));
    CircularDisplayTimer rotation;
    rotation.start();  // on GPU temperature; the next move would be ten minutes away
    rotation.setInterval(30);
    QTRY_COMPARE_WITH_TIMEOUT(rotation.currentItem(), kFan, 10000);
  }

  void timerDrivesTheRotation() {
    COMMON::writeSetting(COMMON::kKeyChangeInterval, QStringLiteral("30"));
    CircularDisplayTimer rotation;
    rotation.start();  // now on GPU temperature
    QTRY_COMPARE_WITH_TIMEOUT(rotation.currentItem(), kFan, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(rotation.currentItem(), kCpu, 10000);
  }

  void instanceIsShared() {
    QCOMPARE(CircularDisplayTimer::instance().data(), CircularDisplayTimer::instance().data());
  }
};

QTEST_GUILESS_MAIN(TestCircularDisplayTimer)
#include "tst_circulardisplaytimer.moc"
