// CUpgradeDialog: the decision table, the reminder, and whole offers against a real FTP
// server on 127.0.0.1, with a scripted person answering the message boxes.
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <QtTest>
#include <functional>

#include "constants.h"
#include "cupgradedialog.h"
#include "ftpmanager.h"
#include "settings.h"
#include "tst_upgrade_support.h"

using namespace upgradetest;

namespace {

constexpr qint64 kMaxDelay = 1194180;
constexpr int kTimedOut = 99;
constexpr int kChainDone = 42;

const QString kUpToDate = QString::fromUtf8("当前软件已是最新版本！");
const QString kUpdateTitle = QString::fromUtf8("更新提示");
const QString kCancelQuestion = QString::fromUtf8("是否确认停止下载更新？");
const QString kInstallQuestion =
    QString::fromUtf8("新版本程序安装包已下载完成，是否立即重启安装？");
QString promptText(const QString& version) {
  return QString::fromUtf8("检测到新版本：") + version + QString::fromUtf8(", 是否需要更新？");
}

qint64 now() { return QDateTime::currentSecsSinceEpoch(); }
qint64 storedNextTime() {
  return COMMON::readSetting(COMMON::kKeyNextUpgradeTime, 998).toLongLong();
}
QString storedVersion() {
  return COMMON::readSetting(COMMON::kKeyUpgradeVersion, QString()).toString();
}
void storeReminder(qint64 nextTime, const QString& version) {
  if (nextTime == 998)
    COMMON::writeSetting(COMMON::kKeyNextUpgradeTime, 998);
  else
    COMMON::writeSetting(COMMON::kKeyNextUpgradeTime, QVariant(nextTime));
  COMMON::writeSetting(COMMON::kKeyUpgradeVersion, version);
}

// A shell installer that leaves "<itself>.ran" behind, padded so the transfer takes a while.
QByteArray scriptInstaller(int size) {
  QByteArray script = "#!/bin/sh\n: > \"$0.ran\"\nexit 0\n";
  while (script.size() < size) script += "# padding padding padding padding padding padding\n";
  return script;
}

// Runs the program's event loop until `start` has led to quit(), a call of done, or
// the bound; returns the loop's exit code.
int runEventLoop(const std::function<void()>& start, int timeoutMs) {
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(kTimedOut); });
  guard.start(timeoutMs);
  QTimer::singleShot(0, qApp, start);
  return QApplication::exec();
}
// Ends runEventLoop with kChainDone once control is back in the outermost loop.
void finishLater() {
  QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(kChainDone); });
}

}  // namespace

class TestUpgrade : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_home;
  QTemporaryDir m_temp;

  void pointAtServer(CUpgradeDialog& dialog, quint16 port) {
    dialog.ftpManager()->setServer(QStringLiteral("127.0.0.1"), port, kUser, kPassword);
  }
  // The check's outcome has been fully handled (prompts, download window and all).
  void finishAfterCheck(CUpgradeDialog& dialog) {
    QObject::connect(dialog.ftpManager(), &FtpManager::signalNeedUpdate, &dialog,
                     [] { finishLater(); });
  }
  QString downloads() const { return m_temp.path() + QStringLiteral("/Stelvox/updates"); }
  QString localInstaller(const QString& version) const {
    return downloads() + QStringLiteral("/StelvoxSetup_%1.run").arg(version);
  }
  // A minisign key pair in `folder` (k.pub, k.sec), made without a password.
  static bool makeKeyPair(const QString& folder) {
    return QProcess::execute("minisign", {"-G", "-W", "-f", "-p", folder + "/k.pub", "-s",
                                          folder + "/k.sec"}) == 0;
  }
  static QByteArray publicKey(const QString& folder) {
    return readFile(folder + "/k.pub").split('\n').value(1);
  }
  static bool sign(const QString& file, const QString& keyFolder, bool legacy) {
    QStringList args = {"-S", "-s", keyFolder + "/k.sec", "-m", file};
    if (legacy) args << "-l";
    return QProcess::execute("minisign", args) == 0;
  }
  QString m_key;
  QString m_otherKey;

 private slots:
  void initTestCase() {
    QVERIFY(m_home.isValid());
    QVERIFY(m_temp.isValid());
    qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit());
    // Downloads land in the cache folder: this test's own.
    qputenv("XDG_CACHE_HOME", m_temp.path().toLocal8Bit());
    qputenv("TMPDIR", m_temp.path().toLocal8Bit());
    m_key = m_home.path() + "/key";
    m_otherKey = m_home.path() + "/other-key";
    QVERIFY(QDir().mkpath(m_key) && QDir().mkpath(m_otherKey));
    QVERIFY(makeKeyPair(m_key));
    QVERIFY(makeKeyPair(m_otherKey));
  }

  void init() {
    QFile::remove(COMMON::platform::settingsFilePath());
    QDir dir(downloads());
    for (const QString& name : dir.entryList(QDir::Files | QDir::System)) dir.remove(name);
  }

  void decisionTable_data() {
    QTest::addColumn<bool>("autoCheck");
    QTest::addColumn<bool>("newer");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("action");
    using D = CUpgradeDialog;
    const int P = D::ReminderPending, Due = D::ReminderDue, N = D::ReminderNotSet;
    QTest::newRow("manual, none, pending") << false << false << P << int(D::ActionUpToDate);
    QTest::newRow("manual, none, due") << false << false << Due << int(D::ActionUpToDate);
    QTest::newRow("manual, none, not set") << false << false << N << int(D::ActionUpToDate);
    QTest::newRow("manual, newer, pending") << false << true << P << int(D::ActionPromptNow);
    QTest::newRow("manual, newer, due") << false << true << Due << int(D::ActionPromptNow);
    QTest::newRow("manual, newer, not set") << false << true << N << int(D::ActionPromptNow);
    QTest::newRow("auto, none, pending") << true << false << P << int(D::ActionClear);
    QTest::newRow("auto, none, due") << true << false << Due << int(D::ActionClear);
    QTest::newRow("auto, none, not set") << true << false << N << int(D::ActionNothing);
    QTest::newRow("auto, newer, pending") << true << true << P << int(D::ActionWait);
    QTest::newRow("auto, newer, due") << true << true << Due << int(D::ActionPromptNow);
    QTest::newRow("auto, newer, not set") << true << true << N << int(D::ActionFirstSight);
  }
  void decisionTable() {
    QFETCH(bool, autoCheck);
    QFETCH(bool, newer);
    QFETCH(int, state);
    QFETCH(int, action);
    QCOMPARE(
        int(CUpgradeDialog::decideAction(autoCheck, newer, CUpgradeDialog::ReminderState(state))),
        action);
  }

  // What each cell does to the settings, the reminder timer and the screen.
  void actionsTakeEffect_data() {
    QTest::addColumn<bool>("autoCheck");
    QTest::addColumn<QString>("found");
    QTest::addColumn<qint64>("storedOffset");  // seconds from now; 998 for none
    QTest::addColumn<QString>("nextTime");     // "998", "kept" or "new"
    QTest::addColumn<QString>("version");      // stored release name afterwards
    QTest::addColumn<bool>("timerRuns");
    QTest::addColumn<QString>("shown");  // text of the box shown, empty for none
    const qint64 none = 998;
    QTest::newRow("manual, none, pending") << false << "" << qint64(600) << "998"
                                           << "V1.0.0.28" << false << kUpToDate;
    QTest::newRow("manual, none, not set") << false << "" << none << "998"
                                           << "V1.0.0.28" << false << kUpToDate;
    QTest::newRow("manual, newer, pending") << false << "V1.0.0.29" << qint64(600) << "new"
                                            << "V1.0.0.29" << false << promptText("V1.0.0.29");
    QTest::newRow("manual, newer, not set") << false << "V1.0.0.29" << none << "new"
                                            << "V1.0.0.29" << false << promptText("V1.0.0.29");
    QTest::newRow("auto, none, pending") << true << "" << qint64(600) << "998"
                                         << "V1.0.0.28" << false << "";
    QTest::newRow("auto, none, due") << true << "" << qint64(-600) << "998"
                                     << "V1.0.0.28" << false << "";
    QTest::newRow("auto, none, not set") << true << "" << none << "998"
                                         << "V1.0.0.28" << false << "";
    QTest::newRow("auto, newer, pending") << true << "V1.0.0.29" << qint64(600) << "kept"
                                          << "V1.0.0.28" << true << "";
    QTest::newRow("auto, newer, due") << true << "V1.0.0.29" << qint64(-600) << "new"
                                      << "V1.0.0.29" << false << promptText("V1.0.0.29");
    QTest::newRow("auto, newer, first sight") << true << "V1.0.0.29" << none << "new"
                                              << "V1.0.0.29" << true << "";
  }
  void actionsTakeEffect() {
    QFETCH(bool, autoCheck);
    QFETCH(QString, found);
    QFETCH(qint64, storedOffset);
    QFETCH(QString, nextTime);
    QFETCH(QString, version);
    QFETCH(bool, timerRuns);
    QFETCH(QString, shown);

    const qint64 stored = storedOffset == 998 ? 998 : now() + storedOffset;
    storeReminder(stored, QStringLiteral("V1.0.0.28"));
    BoxScript boxes;  // every question declined
    CUpgradeDialog dialog;
    QSignalSpy progress(dialog.ftpManager(), &FtpManager::downloadProgress);
    // startCheckUpdate records the kind of check; its server is unreachable and silent.
    dialog.ftpManager()->setServer(QStringLiteral("127.0.0.1"), 1, kUser, kPassword);
    dialog.startCheckUpdate(autoCheck);
    const qint64 before = now();
    dialog.onExistNewVersionApp(found);
    const qint64 after = now();

    if (nextTime == "998") {
      QCOMPARE(storedNextTime(), qint64(998));
    } else if (nextTime == "kept") {
      QCOMPARE(storedNextTime(), stored);
    } else {
      QVERIFY(storedNextTime() >= before);
      QVERIFY(storedNextTime() <= after + kMaxDelay);
    }
    QCOMPARE(storedVersion(), version);
    QCOMPARE(dialog.isReminderTimerActive(), timerRuns);
    if (shown.isEmpty()) {
      QVERIFY2(boxes.seen().isEmpty(), qPrintable(boxes.texts().join('|')));
    } else {
      QCOMPARE(boxes.texts(), QStringList{shown});
      QCOMPARE(boxes.seen().at(0).title, kUpdateTitle);
      QCOMPARE(boxes.seen().at(0).icon,
               shown == kUpToDate ? QMessageBox::Information : QMessageBox::Question);
    }
    // A declined prompt starts no transfer.
    QCOMPARE(dialog.ftpManager()->isDownloading(), false);
    QVERIFY(!dialog.isVisible());
  }

  void reminderStates_data() {
    QTest::addColumn<quint64>("stored");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<int>("state");
    const qint64 t = 1700000000;
    QTest::newRow("998 is never a time")
        << quint64(998) << t << int(CUpgradeDialog::ReminderNotSet);
    QTest::newRow("later") << quint64(t + 1) << t << int(CUpgradeDialog::ReminderPending);
    QTest::newRow("this second") << quint64(t) << t << int(CUpgradeDialog::ReminderPending);
    QTest::newRow("passed") << quint64(t - 1) << t << int(CUpgradeDialog::ReminderDue);
    QTest::newRow("zero") << quint64(0) << t << int(CUpgradeDialog::ReminderDue);
    QTest::newRow("997") << quint64(997) << t << int(CUpgradeDialog::ReminderDue);
    QTest::newRow("far future") << quint64(~0ull) << t << int(CUpgradeDialog::ReminderPending);
  }
  void reminderStates() {
    QFETCH(quint64, stored);
    QFETCH(qint64, now);
    QFETCH(int, state);
    QCOMPARE(int(CUpgradeDialog::reminderState(stored, now)), state);
  }

  void reminderStateFromStore_data() {
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("state");
    QTest::newRow("nothing stored") << QVariant() << int(CUpgradeDialog::ReminderNotSet);
    QTest::newRow("998 as int") << QVariant(998) << int(CUpgradeDialog::ReminderNotSet);
    QTest::newRow("in an hour") << QVariant(now() + 3600) << int(CUpgradeDialog::ReminderPending);
    QTest::newRow("an hour ago") << QVariant(now() - 3600) << int(CUpgradeDialog::ReminderDue);
    QTest::newRow("not a number") << QVariant("soon") << int(CUpgradeDialog::ReminderDue);
  }
  void reminderStateFromStore() {
    QFETCH(QVariant, stored);
    QFETCH(int, state);
    if (stored.isValid()) COMMON::writeSetting(COMMON::kKeyNextUpgradeTime, stored);
    QCOMPARE(int(CUpgradeDialog::reminderState()), state);
  }

  void reminderDelays_data() {
    QTest::addColumn<int>("r1");
    QTest::addColumn<int>("r2");
    QTest::addColumn<qint64>("seconds");
    QTest::newRow("zero") << 0 << 0 << qint64(0);
    QTest::newRow("one minute") << 0 << 1 << qint64(60);
    QTest::newRow("one block") << 1 << 0 << qint64(256 * 60);
    QTest::newRow("largest") << 77 << 191 << qint64(1194180);
  }
  void reminderDelays() {
    QFETCH(int, r1);
    QFETCH(int, r2);
    QFETCH(qint64, seconds);
    QCOMPARE(CUpgradeDialog::reminderDelaySeconds(r1, r2), seconds);
  }

  void drawnDelaysStayInTheirGrid() {
    qint64 largest = 0;
    for (unsigned int seed = 0; seed < 20000; seed += 7) {
      const qint64 delay = CUpgradeDialog::drawReminderDelay(seed);
      QVERIFY(delay >= 0 && delay <= kMaxDelay);
      QCOMPARE(delay % 60, qint64(0));
      QVERIFY2((delay / 60) % 256 < 192, qPrintable(QString::number(delay)));
      largest = qMax(largest, delay);
    }
    QVERIFY(largest > kMaxDelay / 2);  // spread over the range, not stuck near zero
    // Same seed, same draw.
    QCOMPARE(CUpgradeDialog::drawReminderDelay(12345), CUpgradeDialog::drawReminderDelay(12345));

    const qint64 before = now();
    CUpgradeDialog::scheduleReminder();
    QVERIFY(storedNextTime() >= before && storedNextTime() <= now() + kMaxDelay);
    QCOMPARE((storedNextTime() - before) >= 0, true);
  }

  void reminderTicks_data() {
    QTest::addColumn<qint64>("storedOffset");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<qint64>("nextTimeAfter");  // -1: unchanged
    QTest::newRow("pending") << qint64(600) << "V1.0.0.28" << QStringList() << qint64(-1);
    QTest::newRow("due") << qint64(-60) << "V1.0.0.28" << QStringList{promptText("V1.0.0.28")}
                         << qint64(-1);
    QTest::newRow("not set") << qint64(998) << "V1.0.0.28" << QStringList() << qint64(998);
    QTest::newRow("due, not newer than running")
        << qint64(-60) << "V1.0.0.27" << QStringList() << qint64(998);
    QTest::newRow("due, unusable name")
        << qint64(-60) << "V9.0/../../../evil" << QStringList() << qint64(-1);
  }
  void reminderTicks() {
    QFETCH(qint64, storedOffset);
    QFETCH(QString, version);
    QFETCH(QStringList, shown);
    QFETCH(qint64, nextTimeAfter);
    BoxScript boxes;
    CUpgradeDialog dialog;
    dialog.ftpManager()->setServer(QStringLiteral("127.0.0.1"), 1, kUser, kPassword);
    // A pending reminder and a newer release found: the timer runs.
    storeReminder(now() + 3600, QStringLiteral("V1.0.0.28"));
    dialog.startCheckUpdate(true);
    dialog.onExistNewVersionApp(QStringLiteral("V1.0.0.29"));
    QVERIFY(dialog.isReminderTimerActive());
    int minuteTimers = 0;
    for (QTimer* timer : dialog.findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly))
      minuteTimers += timer->isActive() && timer->interval() == 60000 ? 1 : 0;
    QCOMPARE(minuteTimers, 1);

    const qint64 stored = storedOffset == 998 ? 998 : now() + storedOffset;
    storeReminder(stored, version);
    dialog.onCheckTime();
    QCOMPARE(boxes.texts(), shown);
    QCOMPARE(storedNextTime(), nextTimeAfter == -1 ? stored : nextTimeAfter);
    // Only a pending reminder keeps ticking; a prompt stops the timer.
    QCOMPARE(dialog.isReminderTimerActive(), storedOffset == 600);
    QVERIFY(!QFile::exists(m_temp.path() + "/evil"));
  }

  void installerNamesAndPaths() {
    QCOMPARE(CUpgradeDialog::installerFileName("V1.0.0.28"), QString("StelvoxSetup_V1.0.0.28.run"));
    QCOMPARE(CUpgradeDialog::remoteInstallerPath("V1.0.0.28"),
             QString("/ZRT/V1.0.0.28/StelvoxSetup_V1.0.0.28.run"));
    QCOMPARE(CUpgradeDialog::localInstallerPath("V1.0.0.28"), localInstaller("V1.0.0.28"));
  }

  void progressRanges_data() {
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("maximum");
    QTest::newRow("start") << qint64(0) << qint64(1000) << 0 << 1000;
    QTest::newRow("half") << qint64(500) << qint64(1000) << 500 << 1000;
    QTest::newRow("unknown total is busy") << qint64(500) << qint64(-1) << 0 << 0;
    QTest::newRow("int max") << qint64(INT_MAX) << qint64(INT_MAX) << INT_MAX << INT_MAX;
    QTest::newRow("5 GiB scaled") << (qint64(5) << 29) << (qint64(5) << 30) << (5 << 27)
                                  << (5 << 28);
    QTest::newRow("over-reported") << qint64(2000) << qint64(1000) << 1000 << 1000;
  }
  void progressRanges() {
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    QFETCH(int, value);
    QFETCH(int, maximum);
    int actualValue = -7;
    int actualMaximum = -7;
    CUpgradeDialog::progressRange(received, total, &actualValue, &actualMaximum);
    QCOMPARE(actualValue, value);
    QCOMPARE(actualMaximum, maximum);
  }

  void formMatchesTheLayout() {
    CUpgradeDialog dialog;
    QCOMPARE(dialog.objectName(), QString("CUpgradeDialog"));
    QCOMPARE(dialog.minimumSize(), QSize(650, 145));
    QCOMPARE(dialog.maximumSize(), QSize(650, 145));
    QCOMPARE(dialog.windowTitle(), QString::fromUtf8("下载更新"));
    QVERIFY(!dialog.testAttribute(Qt::WA_QuitOnClose));
    QCOMPARE(dialog.windowFlags() & (Qt::WindowType_Mask | Qt::WindowCloseButtonHint |
                                     Qt::WindowContextHelpButtonHint),
             Qt::Dialog | Qt::WindowCloseButtonHint);
    auto* tips = dialog.findChild<QLabel*>("label_upgrade_tips");
    auto* bar = dialog.findChild<QProgressBar*>("progressBar_upgrade");
    auto* cancel = dialog.findChild<QPushButton*>("btn_cancel_upgrade");
    QVERIFY(tips && bar && cancel);
    QCOMPARE(tips->text(), QString::fromUtf8("程序正在下载更新中，请稍后......"));
    QCOMPARE(cancel->text(), QString::fromUtf8("取消更新"));
    QCOMPARE(bar->value(), 0);
    QCOMPARE(bar->alignment(), Qt::AlignCenter);
    QVERIFY(!dialog.isReminderTimerActive());
  }

  void catalogues_data() {
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("tips");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("prompt");
    QTest::newRow("English") << ":/eg_EN.qm"
                             << "Downloading"
                             << "The application is downloading updates, please wait..."
                             << "Cancel upgrade"
                             << QString::fromUtf8(
                                    "A new version has been detected：V1.0.0.28,"
                                    "confirm whether to upgrade?");
    QTest::newRow("traditional") << ":/zh_TW.qm" << QString::fromUtf8("下載更新")
                                 << QString::fromUtf8("程序正在下載更新中，請稍候...")
                                 << QString::fromUtf8("取消更新")
                                 << QString::fromUtf8("檢測到新版本：V1.0.0.28，是否需要更新？");
    QTest::newRow("simplified") << ":/zh_CN.qm" << QString::fromUtf8("下载更新")
                                << QString::fromUtf8("程序正在下载更新中，请稍候...")
                                << QString::fromUtf8("取消更新")
                                << QString::fromUtf8("检测到新版本：V1.0.0.28，是否需要更新？");
  }
  void catalogues() {
    QFETCH(QString, catalogue);
    QFETCH(QString, title);
    QFETCH(QString, tips);
    QFETCH(QString, button);
    QFETCH(QString, prompt);
    QTranslator translator;
    QVERIFY(translator.load(catalogue));
    QCoreApplication::installTranslator(&translator);
    BoxScript boxes;
    {
      CUpgradeDialog dialog;
      QCOMPARE(dialog.windowTitle(), title);
      QCOMPARE(dialog.findChild<QLabel*>("label_upgrade_tips")->text(), tips);
      QCOMPARE(dialog.findChild<QPushButton*>("btn_cancel_upgrade")->text(), button);
      dialog.showNewVersionPrompt("V1.0.0.28");
    }
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(boxes.texts(), QStringList{prompt});
    QCOMPARE(boxes.seen().at(0).title,
             QString(catalogue == ":/eg_EN.qm" ? QStringLiteral("Upgrade Tips")
                                               : QString::fromUtf8("更新提示")));
  }

  // End to end: the real server, a real check, the whole offer.
  void manualCheckFindsNothingNewer() {
    ReleaseTree tree;
    QVERIFY(tree.addRelease("V1.0.0.27", "installer"));
    QVERIFY(tree.addRelease("V1.0.0", "installer"));
    FtpServer server;
    QVERIFY(server.start(tree.root()));
    storeReminder(now() + 600, "V1.0.0.26");

    BoxScript boxes;
    boxes.thenPress(QMessageBox::Ok);
    CUpgradeDialog dialog;
    pointAtServer(dialog, server.port());
    finishAfterCheck(dialog);
    QCOMPARE(runEventLoop([&] { dialog.startCheckUpdate(false); }, 60000), kChainDone);
    QCOMPARE(boxes.texts(), QStringList{kUpToDate});
    QCOMPARE(boxes.seen().at(0).icon, QMessageBox::Information);
    QCOMPARE(boxes.seen().at(0).buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
    QCOMPARE(storedNextTime(), qint64(998));
  }

  void automaticFirstSightSchedulesQuietly() {
    ReleaseTree tree;
    QVERIFY(tree.addRelease("V1.0.0.28", "installer"));
    FtpServer server;
    QVERIFY(server.start(tree.root()));

    BoxScript boxes;
    CUpgradeDialog dialog;
    pointAtServer(dialog, server.port());
    finishAfterCheck(dialog);
    const qint64 before = now();
    QCOMPARE(runEventLoop([&] { dialog.startCheckUpdate(true); }, 60000), kChainDone);
    QVERIFY(boxes.seen().isEmpty());
    QCOMPARE(storedVersion(), QString("V1.0.0.28"));
    QVERIFY(storedNextTime() >= before);
    QVERIFY(storedNextTime() <= now() + kMaxDelay);
    QVERIFY(dialog.isReminderTimerActive());
    QVERIFY(!dialog.isVisible());
  }

  void pendingReminderKeepsItsRelease() {
    ReleaseTree tree;
    QVERIFY(tree.addRelease("V1.0.0.29", "installer"));
    FtpServer server;
    QVERIFY(server.start(tree.root()));
    const qint64 pending = now() + 3600;
    storeReminder(pending, "V1.0.0.28");

    BoxScript boxes;
    CUpgradeDialog dialog;
    pointAtServer(dialog, server.port());
    finishAfterCheck(dialog);
    QCOMPARE(runEventLoop([&] { dialog.startCheckUpdate(true); }, 60000), kChainDone);
    QVERIFY(boxes.seen().isEmpty());
    QVERIFY(dialog.isReminderTimerActive());
    QCOMPARE(storedVersion(), QString("V1.0.0.28"));
    QCOMPARE(storedNextTime(), pending);

    // Once due, the tick offers the release the reminder was set for.
    storeReminder(now() - 1, "V1.0.0.28");
    dialog.onCheckTime();
    QCOMPARE(boxes.texts(), QStringList{promptText("V1.0.0.28")});
    QVERIFY(!dialog.isReminderTimerActive());
  }

  void dueReminderPromptsAfterTheCheck() {
    ReleaseTree tree;
    QVERIFY(tree.addRelease("V1.0.0.28", "installer"));
    FtpServer server;
    QVERIFY(server.start(tree.root()));
    storeReminder(now() - 5, "V1.0.0.28");

    BoxScript boxes;  // declines
    CUpgradeDialog dialog;
    pointAtServer(dialog, server.port());
    finishAfterCheck(dialog);
    const qint64 before = now();
    QCOMPARE(runEventLoop([&] { dialog.startCheckUpdate(true); }, 60000), kChainDone);
    QCOMPARE(boxes.texts(), QStringList{promptText("V1.0.0.28")});
    QCOMPARE(boxes.seen().at(0).icon, QMessageBox::Question);
    // A new reminder was drawn before asking; declining keeps it and stops the timer.
    QVERIFY(storedNextTime() >= before && storedNextTime() <= now() + kMaxDelay);
    QVERIFY(!dialog.isReminderTimerActive());
    QVERIFY(!dialog.ftpManager()->isDownloading());
    QVERIFY(!QFile::exists(localInstaller("V1.0.0.28")));
  }

  void acceptedOfferInstallsAndQuits() {
    ReleaseTree tree;
    const QByteArray installer = scriptInstaller(600 * 1024);
    QVERIFY(tree.addRelease("V1.0.0.28", installer));
    FtpServer server;
    ServerOptions paced;
    paced.writeLimit = 128 * 1024;  // a few progress steps
    QVERIFY(server.start(tree.root(), paced));

    BoxScript boxes;
    boxes.thenPress(QMessageBox::Ok);  // update now
    boxes.thenPress(QMessageBox::Ok);  // install now
    CUpgradeDialog dialog;
    pointAtServer(dialog, server.port());
    QSignalSpy progress(dialog.ftpManager(), &FtpManager::downloadProgress);
    bool shownWhileDownloading = false;
    connect(dialog.ftpManager(), &FtpManager::downloadProgress, &dialog,
            [&] { shownWhileDownloading = shownWhileDownloading || dialog.isVisible(); });

    QCOMPARE(runEventLoop([&] { dialog.startCheckUpdate(false); }, 120000), 0);
    QCOMPARE(boxes.texts(), (QStringList{promptText("V1.0.0.28"), kInstallQuestion}));
    QCOMPARE(boxes.seen().at(1).icon, QMessageBox::Warning);
    QCOMPARE(boxes.seen().at(1).title, kUpdateTitle);
    QVERIFY(shownWhileDownloading);
    QVERIFY(progress.count() >= 2);
    auto* bar = dialog.findChild<QProgressBar*>("progressBar_upgrade");
    QCOMPARE(bar->maximum(), installer.size());
    QCOMPARE(bar->value(), installer.size());
    QVERIFY(!dialog.findChild<QPushButton*>("btn_cancel_upgrade")->isEnabled());

    const QString local = localInstaller("V1.0.0.28");
    QVERIFY(readFile(local) == installer);
    QVERIFY(QFileInfo(local).isExecutable());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(local + ".ran"), 30000);
    QCOMPARE(storedNextTime(), qint64(998));
  }

  void installerThatCannotStartKeepsTheProgram() {
    ReleaseTree tree;
    QVERIFY(tree.addRelease("V1.0.0.28", "not an executable format\n" + installerBytes(8192)));
    FtpServer server;
    QVERIFY(server.start(tree.root()));
    storeReminder(998, "");

    LogCapture log;
    BoxScript boxes;
    boxes.thenPress(QMessageBox::Ok);
    boxes.thenPress(QMessageBox::Ok);
    boxes.thenPress(QMessageBox::Ok);  // acknowledges the failure
    CUpgradeDialog dialog;
    pointAtServer(dialog, server.port());
    finishAfterCheck(dialog);
    // The loop must end through the test, not through quit().
    QCOMPARE(runEventLoop([&] { dialog.startCheckUpdate(false); }, 120000), kChainDone);
    const QString local = localInstaller("V1.0.0.28");
    QCOMPARE(boxes.seen().size(), 3);
    QCOMPARE(boxes.seen().at(2).icon, QMessageBox::Critical);
    QVERIFY2(boxes.seen().at(2).text.contains(local), qPrintable(boxes.seen().at(2).text));
    // The operating system's own reason, in the box and in the log.
    QVERIFY(boxes.seen().at(2).text.contains("Exec format error"));
    QVERIFY(log.contains("Exec format error"));
    QVERIFY(QFile::exists(local));  // kept for another try
    QVERIFY(storedNextTime() != 998);
    QVERIFY(!dialog.isVisible());
    QVERIFY(log.contains("Starting the installer failed."));
  }

  void cancelButtonStopsTheTransfer() {
    ReleaseTree tree;
    QVERIFY(tree.addRelease("V1.0.0.28", installerBytes(2 * 1024 * 1024)));
    FtpServer server;
    ServerOptions slow;
    slow.writeLimit = 64 * 1024;
    QVERIFY(server.start(tree.root(), slow));

    BoxScript boxes;
    boxes.thenPress(QMessageBox::Ok);  // update now
    boxes.thenPress(QMessageBox::Ok);  // yes, stop the download
    CUpgradeDialog dialog;
    pointAtServer(dialog, server.port());
    finishAfterCheck(dialog);
    QSignalSpy finished(dialog.ftpManager(), &FtpManager::downloadFinished);
    bool clicked = false;
    connect(
        dialog.ftpManager(), &FtpManager::downloadProgress, &dialog, [&](qint64 received, qint64) {
          if (clicked || received <= 0) return;
          clicked = true;
          QTimer::singleShot(
              0, &dialog, [&] { dialog.findChild<QPushButton*>("btn_cancel_upgrade")->click(); });
        });
    QCOMPARE(runEventLoop([&] { dialog.startCheckUpdate(false); }, 120000), kChainDone);
    QCOMPARE(boxes.texts(), (QStringList{promptText("V1.0.0.28"), kCancelQuestion}));
    QCOMPARE(boxes.seen().at(1).title, QString::fromUtf8("温馨提示"));
    QCOMPARE(boxes.seen().at(1).icon, QMessageBox::Warning);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    QVERIFY(!QFile::exists(localInstaller("V1.0.0.28")));
    QVERIFY(!dialog.isVisible());
  }

  void closingTheWindowAsksFirst() {
    ReleaseTree tree;
    QVERIFY(tree.addRelease("V1.0.0.28", installerBytes(2 * 1024 * 1024)));
    FtpServer server;
    ServerOptions slow;
    slow.writeLimit = 64 * 1024;
    QVERIFY(server.start(tree.root(), slow));

    BoxScript boxes;
    boxes.thenPress(QMessageBox::Ok);      // update now
    boxes.thenPress(QMessageBox::Cancel);  // no, keep downloading
    boxes.thenPress(QMessageBox::Ok);      // now stop it
    CUpgradeDialog dialog;
    pointAtServer(dialog, server.port());
    finishAfterCheck(dialog);
    QSignalSpy finished(dialog.ftpManager(), &FtpManager::downloadFinished);
    int closes = 0;
    bool visibleAfterRefusal = false;
    bool downloadingAfterRefusal = false;
    connect(dialog.ftpManager(), &FtpManager::downloadProgress, &dialog,
            [&](qint64 received, qint64) {
              if (received <= 0 || closes >= 2) return;
              ++closes;
              const int attempt = closes;
              QTimer::singleShot(0, &dialog, [&, attempt] {
                dialog.close();
                if (attempt == 1) {
                  visibleAfterRefusal = dialog.isVisible();
                  downloadingAfterRefusal = dialog.ftpManager()->isDownloading();
                }
              });
            });
    QCOMPARE(runEventLoop([&] { dialog.startCheckUpdate(false); }, 120000), kChainDone);
    QVERIFY(visibleAfterRefusal);
    QVERIFY(downloadingAfterRefusal);
    QCOMPARE(boxes.texts(),
             (QStringList{promptText("V1.0.0.28"), kCancelQuestion, kCancelQuestion}));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    QVERIFY(!QFile::exists(localInstaller("V1.0.0.28")));
    QVERIFY(!dialog.isVisible());

    // After the end nothing is asked on closing.
    dialog.close();
    QCOMPARE(boxes.seen().size(), 3);
  }

  void escapeHidesWithoutCancelling() {
    ReleaseTree tree;
    const QByteArray installer = installerBytes(1024 * 1024);
    QVERIFY(tree.addRelease("V1.0.0.28", installer));
    FtpServer server;
    ServerOptions paced;
    paced.writeLimit = 128 * 1024;
    QVERIFY(server.start(tree.root(), paced));

    BoxScript boxes;
    boxes.thenPress(QMessageBox::Ok);  // update now
    // The install question still comes; declining it deletes the file.
    CUpgradeDialog dialog;
    pointAtServer(dialog, server.port());
    QSignalSpy finished(dialog.ftpManager(), &FtpManager::downloadFinished);
    connect(dialog.ftpManager(), &FtpManager::downloadFinished, &dialog, [] { finishLater(); });
    bool escaped = false;
    bool hiddenWhileDownloading = false;
    bool askedAgain = false;
    bool shownAgain = false;
    connect(
        dialog.ftpManager(), &FtpManager::downloadProgress, &dialog, [&](qint64 received, qint64) {
          if (received <= 0 || askedAgain) return;
          if (escaped) {
            // Offering again while hidden brings the download window back, asking nothing.
            askedAgain = true;
            QTimer::singleShot(0, &dialog, [&] {
              dialog.showNewVersionPrompt("V1.0.0.28");
              shownAgain = dialog.isVisible();
            });
            return;
          }
          escaped = true;
          QTimer::singleShot(0, &dialog, [&] {
            QTest::keyClick(&dialog, Qt::Key_Escape);
            hiddenWhileDownloading = !dialog.isVisible() && dialog.ftpManager()->isDownloading();
          });
        });
    QCOMPARE(runEventLoop([&] { dialog.startCheckUpdate(false); }, 120000), kChainDone);
    QVERIFY(hiddenWhileDownloading);
    QVERIFY(shownAgain);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(boxes.texts(), (QStringList{promptText("V1.0.0.28"), kInstallQuestion}));
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QVERIFY(!QFile::exists(localInstaller("V1.0.0.28")));
  }

  void frozenServerClosesTheWindow() {
    ReleaseTree tree;
    QVERIFY(tree.addRelease("V1.0.0.28", installerBytes(1024 * 1024)));
    FtpServer server;
    ServerOptions freezing;
    freezing.freezeAfter = 128 * 1024;
    QVERIFY(server.start(tree.root(), freezing));

    LogCapture log;
    BoxScript boxes;
    boxes.thenPress(QMessageBox::Ok);
    CUpgradeDialog dialog;
    dialog.ftpManager()->setStallTimeout(2000);
    pointAtServer(dialog, server.port());
    finishAfterCheck(dialog);
    QSignalSpy progress(dialog.ftpManager(), &FtpManager::downloadProgress);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(runEventLoop([&] { dialog.startCheckUpdate(false); }, 60000), kChainDone);
    QVERIFY(clock.elapsed() < 50000);
    QVERIFY(!progress.isEmpty());
    // No install question for a broken file: the window closes and the file goes.
    QCOMPARE(boxes.texts(), QStringList{promptText("V1.0.0.28")});
    QVERIFY(!dialog.isVisible());
    QVERIFY(!QFile::exists(localInstaller("V1.0.0.28")));
    QVERIFY(log.contains("Download failed. (no data received"));
  }

  void hostileListingOffersNothingUnsafe_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("shown");
    QTest::newRow("hostile beside a release")
        << QStringList{"V99.0.0.0/../../../escape", "V98.0.0.0 x", "V97.0\\..\\..\\escape"}
        << promptText("V1.0.0.28");
    QTest::newRow("hostile only") << QStringList{"V99.0.0.0/../../../escape"} << kUpToDate;
  }
  void hostileListingOffersNothingUnsafe() {
    QFETCH(QStringList, names);
    QFETCH(QString, shown);
    ReleaseTree tree;
    QVERIFY(QDir().mkpath(tree.zrt()));
    if (shown != kUpToDate) QVERIFY(tree.addRelease("V1.0.0.28", "installer"));
    QStringList lines;
    for (const QString& name : names)
      lines << "drwxr-xr-x   2 owner    group        4096 Jan 01 00:00 " + name;
    QVERIFY(tree.setExtraListing(lines));
    FtpServer server;
    ServerOptions options;
    options.extraList = tree.extraListFile();
    QVERIFY(server.start(tree.root(), options));

    BoxScript boxes;
    boxes.thenPress(QMessageBox::Ok);  // accept whatever is offered
    boxes.thenPress(QMessageBox::Cancel);
    CUpgradeDialog dialog;
    pointAtServer(dialog, server.port());
    finishAfterCheck(dialog);
    QCOMPARE(runEventLoop([&] { dialog.startCheckUpdate(false); }, 60000), kChainDone);
    QCOMPARE(boxes.texts().value(0), shown);
    QVERIFY(!QFile::exists(downloads() + "/../escape"));
    QVERIFY(!QFile::exists(QDir::cleanPath(downloads() + "/../../escape")));
    const QStringList left = QDir(downloads()).entryList(QDir::Files);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(',')));
  }

  void signedReleases_data() {
    QTest::addColumn<QString>("signing");
    QTest::addColumn<bool>("installs");
    QTest::newRow("prehashed, by the key") << "prehashed" << true;
    QTest::newRow("legacy, by the key") << "legacy" << true;
    QTest::newRow("tampered after signing") << "tampered" << false;
    QTest::newRow("by another key") << "other key" << false;
    QTest::newRow("no signature") << "none" << false;
    QTest::newRow("truncated signature") << "truncated" << false;
    QTest::newRow("changed trusted comment") << "comment" << false;
  }
  void signedReleases() {
    QFETCH(QString, signing);
    QFETCH(bool, installs);
    ReleaseTree tree;
    const QByteArray installer = scriptInstaller(64 * 1024);
    QVERIFY(tree.addRelease("V1.0.0.28", installer));
    const QString served = tree.zrt() + "/V1.0.0.28/StelvoxSetup_V1.0.0.28.run";
    if (signing != "none")
      QVERIFY(sign(served, signing == "other key" ? m_otherKey : m_key, signing == "legacy"));
    if (signing == "tampered") QVERIFY(writeFile(served, installer + "echo changed\n"));
    if (signing == "comment") {
      QByteArray signature = readFile(served + ".minisig");
      QVERIFY(writeFile(served + ".minisig", signature.replace("timestamp:", "timestamp:1")));
    }
    if (signing == "truncated") {
      const QByteArray signature = readFile(served + ".minisig");
      QVERIFY(writeFile(served + ".minisig", signature.left(signature.size() / 2)));
    }
    FtpServer server;
    QVERIFY(server.start(tree.root()));
    storeReminder(998, "");

    LogCapture log;
    BoxScript boxes;
    boxes.thenPress(QMessageBox::Ok);  // update now
    boxes.thenPress(QMessageBox::Ok);  // install now, or acknowledge the refusal
    CUpgradeDialog dialog;
    pointAtServer(dialog, server.port());
    dialog.ftpManager()->setPublicKey(publicKey(m_key));
    if (!installs) finishAfterCheck(dialog);  // an installation ends the loop itself
    QCOMPARE(runEventLoop([&] { dialog.startCheckUpdate(false); }, 120000),
             installs ? 0 : kChainDone);
    const QString local = localInstaller("V1.0.0.28");
    QCOMPARE(boxes.seen().size(), 2);
    if (installs) {
      QCOMPARE(boxes.texts().at(1), kInstallQuestion);
      QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(local + ".ran"), 30000);
      return;
    }
    QCOMPARE(boxes.seen().at(1).icon, QMessageBox::Critical);
    QVERIFY2(boxes.texts().at(1).startsWith(QString::fromUtf8("安装包签名校验失败")),
             qPrintable(boxes.texts().at(1)));
    QVERIFY(log.contains("Installer refused: its signature does not hold."));
    const QStringList left = QDir(downloads()).entryList(QDir::Files);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(',')));
    QVERIFY(!dialog.isVisible());
  }

  void manualCheckWhileOneRunsSaysSo() {
    QTcpServer silent;  // accepts and never greets
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    BoxScript boxes;
    CUpgradeDialog dialog;
    pointAtServer(dialog, silent.serverPort());
    dialog.startCheckUpdate(true);
    dialog.startCheckUpdate(false);
    QCOMPARE(boxes.texts(), QStringList{QString::fromUtf8("正在检查更新，请稍候。")});
    QCOMPARE(boxes.seen().at(0).icon, QMessageBox::Information);
  }

  void downloadFolderIsPrivate_data() {
    QTest::addColumn<QString>("existing");
    QTest::addColumn<bool>("usable");
    QTest::newRow("missing") << "" << true;
    QTest::newRow("open to others") << "folder 0777" << true;
    QTest::newRow("a link to another folder") << "link" << false;
    QTest::newRow("a file") << "file" << false;
  }
  void downloadFolderIsPrivate() {
    QFETCH(QString, existing);
    QFETCH(bool, usable);
    QTemporaryDir root;
    const QString folder = root.path() + "/Stelvox/updates";
    QVERIFY(QDir().mkpath(root.path() + "/Stelvox"));
    if (existing == "folder 0777") {
      QVERIFY(QDir().mkpath(folder));
      QVERIFY(QFile::setPermissions(folder, QFileDevice::Permissions(0x7777)));
    } else if (existing == "link") {
      QVERIFY(QFile::link(root.path(), folder));
    } else if (existing == "file") {
      QVERIFY(writeFile(folder, "x"));
    }
    QString reason;
    QCOMPARE(update::platform::makePrivateFolder(folder, &reason), usable);
    if (!usable) {
      QVERIFY(!reason.isEmpty());
      return;
    }
    QCOMPARE(QFileInfo(folder).permissions() & QFileDevice::Permissions(0x0077),
             QFileDevice::Permissions());
  }

  void secondOfferWhileDownloadingIsRefused() {
    ReleaseTree tree;
    QVERIFY(tree.addRelease("V1.0.0.28", installerBytes(1024 * 1024)));
    FtpServer server;
    ServerOptions slow;
    slow.writeLimit = 64 * 1024;
    QVERIFY(server.start(tree.root(), slow));

    BoxScript boxes;
    boxes.thenPress(QMessageBox::Ok);  // update now
    boxes.thenPress(QMessageBox::Ok);  // stop the download
    CUpgradeDialog dialog;
    pointAtServer(dialog, server.port());
    finishAfterCheck(dialog);
    bool tried = false;
    connect(dialog.ftpManager(), &FtpManager::downloadProgress, &dialog,
            [&](qint64 received, qint64) {
              if (tried || received <= 0) return;
              tried = true;
              QTimer::singleShot(0, &dialog, [&] {
                // A reminder falling due while the download window is open.
                dialog.showNewVersionPrompt("V1.0.0.28");
                dialog.findChild<QPushButton*>("btn_cancel_upgrade")->click();
              });
            });
    QCOMPARE(runEventLoop([&] { dialog.startCheckUpdate(false); }, 120000), kChainDone);
    QCOMPARE(boxes.texts(), (QStringList{promptText("V1.0.0.28"), kCancelQuestion}));
  }
};

QTEST_MAIN(TestUpgrade)
#include "tst_upgrade.moc"
