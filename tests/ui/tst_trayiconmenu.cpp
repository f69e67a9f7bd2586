#include <QAction>
#include <QSignalSpy>
#include <QTest>

#include "trayiconmenu.h"
#include "uitesthelpers.h"

namespace {
QStringList texts(const QMenu* menu) {
  QStringList result;
  for (const QAction* action : menu->actions()) {
    result << (action->isSeparator() ? QStringLiteral("|") : action->text());
  }
  return result;
}
}  // namespace

class TestTrayIconMenu : public QObject {
  Q_OBJECT

 private slots:
  void entriesInEachLanguage_data();
  void entriesInEachLanguage();
  void entriesEmitTheirSignals();
  void deviceSubmenuFollowsTheList();
  void quitOnlyMenu();
};

void TestTrayIconMenu::entriesInEachLanguage_data() {
  QTest::addColumn<QString>("catalogue");
  QTest::addColumn<QStringList>("entries");
  QTest::addColumn<QString>("none");
  QTest::newRow("source") << QString()
                          << QStringList{"设备列表", "|", "设置", "检查更新", "关于", "|", "退出"}
                          << "无";
  QTest::newRow("simplified") << ":/zh_CN.qm" << QStringList{"设备列表", "|", "设置", "检查更新",
                                                             "关于",     "|", "退出"}
                              << "无";
  QTest::newRow("traditional") << ":/zh_TW.qm" << QStringList{"設備列表", "|", "設定", "檢查更新",
                                                              "關於",     "|", "退出"}
                               << "無";
  QTest::newRow("English") << ":/eg_EN.qm" << QStringList{"Devices", "|", "Settings", "Update",
                                                          "About",   "|", "Quit"}
                           << "None";
}

void TestTrayIconMenu::entriesInEachLanguage() {
  QFETCH(QString, catalogue);
  QFETCH(QStringList, entries);
  QFETCH(QString, none);
  std::unique_ptr<ScopedCatalogue> scope;
  if (!catalogue.isEmpty()) scope = std::make_unique<ScopedCatalogue>(catalogue);

  TrayIconMenu menu;
  QCOMPARE(menu.objectName(), QStringLiteral("TrayIconMenu"));
  QVERIFY(menu.actions().isEmpty());
  menu.initMenu(false);
  QCOMPARE(texts(&menu), entries);
  QVERIFY(menu.deviceMenu());
  QCOMPARE(texts(menu.deviceMenu()), QStringList{none});
  for (QAction* action : menu.actions()) {
    if (!action->isSeparator()) QVERIFY2(!action->icon().isNull(), qPrintable(action->text()));
  }
}

void TestTrayIconMenu::entriesEmitTheirSignals() {
  TrayIconMenu menu;
  menu.initMenu(false);
  QSignalSpy setting(&menu, &TrayIconMenu::sigSetting);
  QSignalSpy update(&menu, &TrayIconMenu::sigCheckUpdate);
  QSignalSpy about(&menu, &TrayIconMenu::sigAbout);
  QSignalSpy close(&menu, &TrayIconMenu::sigClose);
  QSignalSpy open(&menu, &TrayIconMenu::sigOpenWindow);
  QSignalSpy help(&menu, &TrayIconMenu::sigHelp);
  const QList<QAction*> actions = menu.actions();
  actions[2]->trigger();
  actions[3]->trigger();
  actions[4]->trigger();
  actions[6]->trigger();
  QCOMPARE(setting.count(), 1);
  QCOMPARE(update.count(), 1);
  QCOMPARE(about.count(), 1);
  QCOMPARE(close.count(), 1);

  // The hidden entries exist and are wired, but nothing in the menu shows them.
  int hidden = 0;
  for (QAction* action : menu.findChildren<QAction*>()) {
    if (action->text() == QStringLiteral("打开主面板") ||
        action->text() == QStringLiteral("帮助")) {
      QVERIFY(!menu.actions().contains(action));
      action->trigger();
      ++hidden;
    }
  }
  QCOMPARE(hidden, 2);
  QCOMPARE(open.count(), 1);
  QCOMPARE(help.count(), 1);

  // Device entries and "无" do nothing.
  menu.deviceMenu()->actions().first()->trigger();
  menu.updateDeviceMenu({QStringLiteral("ZRT(1)")});
  menu.deviceMenu()->actions().first()->trigger();
  QCOMPARE(setting.count() + update.count() + about.count() + close.count(), 4);
}

void TestTrayIconMenu::deviceSubmenuFollowsTheList() {
  TrayIconMenu menu;
  menu.initMenu(false);
  menu.updateDeviceMenu({QStringLiteral("ZRT(0A1B)"), QStringLiteral("ZRT(FFEE)")});
  QCOMPARE(texts(menu.deviceMenu()), (QStringList{"ZRT(0A1B)", "ZRT(FFEE)"}));
  for (QAction* action : menu.deviceMenu()->actions()) QVERIFY(!action->icon().isNull());

  menu.updateDeviceMenu({QStringLiteral("ZRT(FFEE)")});
  QCOMPARE(texts(menu.deviceMenu()), QStringList{"ZRT(FFEE)"});

  menu.updateDeviceMenu({});
  QCOMPARE(texts(menu.deviceMenu()), QStringList{"无"});
  QVERIFY(menu.deviceMenu()->actions().first()->icon().isNull());
}

void TestTrayIconMenu::quitOnlyMenu() {
  TrayIconMenu menu;
  menu.initMenu(true);
  QCOMPARE(texts(&menu), (QStringList{"|", "退出"}));
  QSignalSpy close(&menu, &TrayIconMenu::sigClose);
  menu.actions().last()->trigger();
  QCOMPARE(close.count(), 1);
  menu.updateDeviceMenu({QStringLiteral("ZRT(1)")});  // no submenu: nothing to refill
}

QTEST_MAIN(TestTrayIconMenu)
#include "tst_trayiconmenu.moc"
