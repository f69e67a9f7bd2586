#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include "constants.h"
#include "csettingdlg.h"
#include "settings.h"
#include "uitesthelpers.h"

class TestSettingDlg : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void firstStartShowsDefaultsAndRegisters();
  void storedChoicesAreShown();
  void formInEachLanguage_data();
  void formInEachLanguage();
  void unitChoiceIsStoredAndAnnounced();
  void startupNoRemovesTheEntry();
  void languageChangeConfirmedEndsTheLoop_data();
  void languageChangeConfirmedEndsTheLoop();
  void languageChangeCancelledRestoresTheBox();
  void widgetsStoreAndAnnounce_data();
  void widgetsStoreAndAnnounce();
  void storedValuesShowClamped();
  void okOnlyHides();
  void closingDoesNotEndTheProgram();

 private:
  QString autostartFile() const;
  void choose(CSettingDlg& dialog, const char* box, int index);

  std::unique_ptr<QTemporaryDir> m_config;
};

void TestSettingDlg::init() {
  m_config = std::make_unique<QTemporaryDir>();
  QVERIFY(m_config->isValid());
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
}

void TestSettingDlg::cleanup() { m_config.reset(); }

QString TestSettingDlg::autostartFile() const {
  return m_config->path() + QStringLiteral("/autostart/") +
         QFileInfo(QCoreApplication::applicationFilePath()).baseName() + QStringLiteral(".desktop");
}

// What a person's choice in a box does: the box changes and emits activated.
void TestSettingDlg::choose(CSettingDlg& dialog, const char* box, int index) {
  auto* combo = dialog.findChild<QComboBox*>(QLatin1String(box));
  QVERIFY(combo);
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

void TestSettingDlg::firstStartShowsDefaultsAndRegisters() {
  CSettingDlg dialog(nullptr);
  QCOMPARE(dialog.findChild<QComboBox*>("cmb_language")->currentIndex(), 2);
  QCOMPARE(dialog.findChild<QComboBox*>("cmb_start_up")->currentIndex(), 0);
  QCOMPARE(dialog.findChild<QComboBox*>("cmb_temperature_unit")->currentIndex(), 0);
  QCOMPARE(COMMON::readSetting(COMMON::kKeyStartup, 9).toString(), QStringLiteral("0"));
  QVERIFY(QFile::exists(autostartFile()));
  QVERIFY(!dialog.testAttribute(Qt::WA_QuitOnClose));
  QCOMPARE(dialog.minimumSize(), QSize(400, 200));
  QCOMPARE(dialog.size(), QSize(400, 600));
  // Everything the form holds fits the size it opens with.
  QVERIFY2(dialog.sizeHint().height() <= dialog.height(),
           qPrintable(QString::number(dialog.sizeHint().height())));
  QVERIFY(dialog.windowFlags().testFlag(Qt::WindowCloseButtonHint));
}

void TestSettingDlg::storedChoicesAreShown() {
  COMMON::writeSetting(COMMON::kKeyLanguage, 1);
  COMMON::writeSetting(COMMON::kKeyStartup, 1);
  COMMON::writeSetting(COMMON::kKeyTemperatureUnit, 1);
  CSettingDlg dialog(nullptr);
  QCOMPARE(dialog.findChild<QComboBox*>("cmb_language")->currentIndex(), 1);
  QCOMPARE(dialog.findChild<QComboBox*>("cmb_start_up")->currentIndex(), 1);
  QCOMPARE(dialog.findChild<QComboBox*>("cmb_temperature_unit")->currentIndex(), 1);
  QVERIFY(!QFile::exists(autostartFile()));

  // A value no box offers selects nothing rather than a wrong item.
  COMMON::writeSetting(COMMON::kKeyLanguage, 7);
  CSettingDlg other(nullptr);
  QCOMPARE(other.findChild<QComboBox*>("cmb_language")->currentIndex(), -1);
}

void TestSettingDlg::formInEachLanguage_data() {
  QTest::addColumn<QString>("catalogue");
  QTest::addColumn<QString>("title");
  QTest::addColumn<QStringList>("units");
  QTest::addColumn<QString>("ok");
  QTest::newRow("simplified") << ":/zh_CN.qm"
                              << "设置" << QStringList{"摄氏度（℃）", "华氏度（℉）"} << "确定";
  QTest::newRow("traditional") << ":/zh_TW.qm"
                               << "設定" << QStringList{"攝氏度（℃）", "華氏度（℉）"} << "確定";
  QTest::newRow("English") << ":/eg_EN.qm"
                           << "Settings" << QStringList{"Celsius", "Fahrenheit"} << "OK";
}

void TestSettingDlg::formInEachLanguage() {
  QFETCH(QString, catalogue);
  QFETCH(QString, title);
  QFETCH(QStringList, units);
  QFETCH(QString, ok);
  ScopedCatalogue scope(catalogue);
  QVERIFY(scope.loaded);
  CSettingDlg dialog(nullptr);
  QCOMPARE(dialog.windowTitle(), title);
  auto* unit = dialog.findChild<QComboBox*>("cmb_temperature_unit");
  QCOMPARE((QStringList{unit->itemText(0), unit->itemText(1)}), units);
  QCOMPARE(dialog.findChild<QPushButton*>("btn_ok")->text(), ok);
  auto* language = dialog.findChild<QComboBox*>("cmb_language");
  QCOMPARE((QStringList{language->itemText(0), language->itemText(1), language->itemText(2)}),
           (QStringList{"简体中文", "繁體中文", "English"}));
}

void TestSettingDlg::unitChoiceIsStoredAndAnnounced() {
  CSettingDlg dialog(nullptr);
  QSignalSpy changed(&dialog, &CSettingDlg::settingInfoChanged);
  choose(dialog, "cmb_temperature_unit", 1);
  QCOMPARE(changed.count(), 1);
  QCOMPARE(changed.first(), (QVariantList{"temperature unit", "1"}));
  QCOMPARE(COMMON::readSetting(COMMON::kKeyTemperatureUnit, 0).toString(), QStringLiteral("1"));
  choose(dialog, "cmb_temperature_unit", 0);
  QCOMPARE(changed.last(), (QVariantList{"temperature unit", "0"}));
}

void TestSettingDlg::startupNoRemovesTheEntry() {
  CSettingDlg dialog(nullptr);
  QVERIFY(QFile::exists(autostartFile()));
  QSignalSpy changed(&dialog, &CSettingDlg::settingInfoChanged);
  choose(dialog, "cmb_start_up", 1);
  QVERIFY(!QFile::exists(autostartFile()));
  QCOMPARE(COMMON::readSetting(COMMON::kKeyStartup, 0).toString(), QStringLiteral("1"));
  QCOMPARE(changed.count(), 0);

  // The next start keeps it off; choosing "是" again registers at once.
  CSettingDlg next(nullptr);
  QVERIFY(!QFile::exists(autostartFile()));
  choose(next, "cmb_start_up", 0);
  QVERIFY(QFile::exists(autostartFile()));
}

void TestSettingDlg::languageChangeConfirmedEndsTheLoop_data() {
  QTest::addColumn<int>("choice");
  QTest::newRow("another language") << 0;
  QTest::newRow("the current one again") << 2;
}

void TestSettingDlg::languageChangeConfirmedEndsTheLoop() {
  QFETCH(int, choice);
  ScopedAnswerer answerer(QMessageBox::Ok);
  CSettingDlg dialog(nullptr);
  QTimer::singleShot(0, [&]() { choose(dialog, "cmb_language", choice); });
  // The loop ends only through the handler's quit; the guard reports a hang as 99.
  QTimer::singleShot(60000, []() { QCoreApplication::exit(99); });
  QCOMPARE(QCoreApplication::exec(), 0);
  QCOMPARE(COMMON::readSetting(COMMON::kKeyLanguage, 2).toString(), QString::number(choice));
  QCOMPARE(answerer.boxes.size(), 1);
  QCOMPARE(answerer.boxes[0].title, QStringLiteral("温馨提示"));
  QCOMPARE(answerer.boxes[0].text, QStringLiteral("更改语言需要重新启动才能生效，是否确认更改？"));
  QCOMPARE(answerer.boxes[0].icon, QMessageBox::Question);
  QCOMPARE(answerer.boxes[0].parent, &dialog);
}

void TestSettingDlg::languageChangeCancelledRestoresTheBox() {
  ScopedAnswerer answerer(QMessageBox::Cancel);
  CSettingDlg dialog(nullptr);
  const QString storeBefore = COMMON::platform::settingsFilePath();
  QFile before(storeBefore);
  QVERIFY(before.open(QIODevice::ReadOnly));
  const QByteArray contents = before.readAll();
  before.close();

  choose(dialog, "cmb_language", 0);
  QCOMPARE(answerer.boxes.size(), 1);
  QCOMPARE(dialog.findChild<QComboBox*>("cmb_language")->currentIndex(), 2);
  QFile after(storeBefore);
  QVERIFY(after.open(QIODevice::ReadOnly));
  QCOMPARE(after.readAll(), contents);
}

void TestSettingDlg::widgetsStoreAndAnnounce_data() {
  QTest::addColumn<QString>("widget");
  QTest::addColumn<int>("value");  // spin box value, or check state
  QTest::addColumn<QString>("key");
  QTest::addColumn<QString>("stored");
  QTest::newRow("interval in seconds") << "spinBox_changeInterval" << 5 << "change interval"
                                       << "5000";
  QTest::newRow("temperature alarm") << "spinBox_temp_alarm" << 80 << "temperature alarm"
                                     << "80";
  QTest::newRow("usage alarm") << "spinBox_usageRate_alarm" << 90 << "usage rate alarm"
                               << "90";
  QTest::newRow("fan alarm") << "spinBox_fanRpm_alarm" << 250 << "fan rpm alarm"
                             << "250";
  QTest::newRow("typed past the range") << "spinBox_temp_alarm" << 999 << "temperature alarm"
                                        << "120";
  QTest::newRow("cpu item off") << "checkBox_displayCPUTemp" << 0 << "display cpu temperature"
                                << "0";
  QTest::newRow("gpu item off") << "checkBox_displayGPUTemp" << 0 << "display gpu temperature"
                                << "0";
  QTest::newRow("fan item off") << "checkBox_displayFanSpeed" << 0 << "display fan rpm"
                                << "0";
  QTest::newRow("notifications off") << "checkBox_alarmNotify" << 0 << "alarm notifications"
                                     << "0";
}

// A change in a widget is stored first, then announced.
void TestSettingDlg::widgetsStoreAndAnnounce() {
  QFETCH(QString, widget);
  QFETCH(int, value);
  QFETCH(QString, key);
  QFETCH(QString, stored);
  CSettingDlg dialog(nullptr);
  QString storedWhenAnnounced;
  connect(&dialog, &CSettingDlg::settingInfoChanged, [&](QString name, QString) {
    storedWhenAnnounced = COMMON::readSetting(name, -1).toString();
  });
  QSignalSpy changed(&dialog, &CSettingDlg::settingInfoChanged);
  if (auto* spin = dialog.findChild<QSpinBox*>(widget))
    spin->setValue(value);
  else
    dialog.findChild<QCheckBox*>(widget)->setChecked(value != 0);
  QCOMPARE(changed.count(), 1);
  QCOMPARE(changed.first(), (QVariantList{key, stored}));
  QCOMPARE(storedWhenAnnounced, stored);
}

// Hand-edited values show within range; nothing is stored or announced for showing.
void TestSettingDlg::storedValuesShowClamped() {
  COMMON::writeSetting(COMMON::kKeyTemperatureAlarm, 500);
  COMMON::writeSetting(COMMON::kKeyChangeInterval, QStringLiteral("abc"));
  COMMON::writeSetting(COMMON::kKeyFanRpmAlarm, -5);
  COMMON::writeSetting(COMMON::kKeyDisplayGpuTemperature, 0);
  CSettingDlg dialog(nullptr);
  QSignalSpy changed(&dialog, &CSettingDlg::settingInfoChanged);
  QCOMPARE(dialog.findChild<QSpinBox*>("spinBox_temp_alarm")->value(), 120);
  QCOMPARE(dialog.findChild<QSpinBox*>("spinBox_changeInterval")->value(), 2);
  QCOMPARE(dialog.findChild<QSpinBox*>("spinBox_fanRpm_alarm")->value(), 0);
  QVERIFY(!dialog.findChild<QCheckBox*>("checkBox_displayGPUTemp")->isChecked());
  QVERIFY(dialog.findChild<QCheckBox*>("checkBox_alarmNotify")->isChecked());
  QCOMPARE(COMMON::readSetting(COMMON::kKeyTemperatureAlarm, 0).toString(), QStringLiteral("500"));
  // A change made elsewhere shows without being stored or announced again.
  dialog.onSettingInfoChanged(COMMON::kKeyUsageRateAlarm, QStringLiteral("70"));
  QCOMPARE(dialog.findChild<QSpinBox*>("spinBox_usageRate_alarm")->value(), 70);
  QCOMPARE(changed.count(), 0);
}

void TestSettingDlg::okOnlyHides() {
  CSettingDlg dialog(nullptr);
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  QSignalSpy changed(&dialog, &CSettingDlg::settingInfoChanged);
  QTest::mouseClick(dialog.findChild<QPushButton*>("btn_ok"), Qt::LeftButton);
  QVERIFY(!dialog.isVisible());
  QCOMPARE(changed.count(), 0);
}

void TestSettingDlg::closingDoesNotEndTheProgram() {
  CSettingDlg dialog(nullptr);
  QVERIFY(!endsTheProgram([&dialog]() {
    dialog.show();
    dialog.close();
  }));
}

QTEST_MAIN(TestSettingDlg)
#include "tst_settingdlg.moc"
