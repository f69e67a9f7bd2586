#include <QApplication>
#include <QKeyEvent>
#include <QTest>

#include "messageboxshow.h"
#include "uitesthelpers.h"

class TestMessageBoxShow : public QObject {
  Q_OBJECT

 private slots:
  void buttonsAndTexts_data();
  void buttonsAndTexts();
  void parentIsTheOwningWidget();
  void answerIsReturned();
  void escapeCountsAsCancel();
  void closingABoxDoesNotEndTheProgram();
};

void TestMessageBoxShow::buttonsAndTexts_data() {
  QTest::addColumn<QString>("catalogue");
  QTest::addColumn<bool>("question");
  QTest::addColumn<QStringList>("buttons");
  QTest::newRow("question, source texts") << QString() << true << QStringList{"确定", "取消"};
  QTest::newRow("question, English") << ":/eg_EN.qm" << true << QStringList{"Confirm", "Cancel"};
  QTest::newRow("question, traditional") << ":/zh_TW.qm" << true << QStringList{"確定", "取消"};
  QTest::newRow("question, simplified") << ":/zh_CN.qm" << true << QStringList{"确定", "取消"};
  QTest::newRow("information, English") << ":/eg_EN.qm" << false << QStringList{"Confirm"};
  QTest::newRow("information, source texts") << QString() << false << QStringList{"确定"};
}

void TestMessageBoxShow::buttonsAndTexts() {
  QFETCH(QString, catalogue);
  QFETCH(bool, question);
  QFETCH(QStringList, buttons);
  std::unique_ptr<ScopedCatalogue> scope;
  if (!catalogue.isEmpty()) {
    scope = std::make_unique<ScopedCatalogue>(catalogue);
    QVERIFY2(scope->loaded, qPrintable(catalogue));
  }
  ScopedAnswerer answerer(QMessageBox::Ok);
  MessageBoxShow box(nullptr, QMessageBox::Warning);
  if (question) {
    box.question(QStringLiteral("标题"), QStringLiteral("正文"));
  } else {
    box.information(QStringLiteral("标题"), QStringLiteral("正文"));
  }
  QCOMPARE(answerer.boxes.size(), 1);
  const RecordedBox& shown = answerer.boxes.first();
  QCOMPARE(shown.title, QStringLiteral("标题"));
  QCOMPARE(shown.text, QStringLiteral("正文"));
  QCOMPARE(shown.icon, QMessageBox::Warning);
  QStringList sorted = shown.buttons;
  QStringList expected = buttons;
  sorted.sort();
  expected.sort();
  QCOMPARE(sorted, expected);
  QVERIFY(!shown.quitOnClose);
  QVERIFY(shown.flags.testFlag(Qt::MSWindowsFixedSizeDialogHint));
}

void TestMessageBoxShow::parentIsTheOwningWidget() {
  ScopedAnswerer answerer(QMessageBox::Cancel);
  QWidget window;
  MessageBoxShow withWidget(&window, QMessageBox::Question);
  withWidget.question(QStringLiteral("a"), QStringLiteral("b"));
  QObject plain;
  MessageBoxShow withObject(&plain, QMessageBox::Question);
  withObject.question(QStringLiteral("a"), QStringLiteral("b"));
  QCOMPARE(answerer.boxes.size(), 2);
  QCOMPARE(answerer.boxes[0].parent, &window);
  QCOMPARE(answerer.boxes[1].parent, nullptr);
}

void TestMessageBoxShow::answerIsReturned() {
  ScopedAnswerer answerer(QMessageBox::Cancel);
  MessageBoxShow box(nullptr, QMessageBox::Question);
  QCOMPARE(box.question(QString(), QString()), int(QMessageBox::Cancel));
  answerer.setAnswer(QMessageBox::Ok);
  QCOMPARE(box.question(QString(), QString()), int(QMessageBox::Ok));
}

// The real modal path: a person pressing Escape on a question refuses it.
void TestMessageBoxShow::escapeCountsAsCancel() {
  whenModalOpens([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
  MessageBoxShow box(nullptr, QMessageBox::Question);
  QCOMPARE(box.question(QStringLiteral("t"), QStringLiteral("x")), int(QMessageBox::Cancel));
}

void TestMessageBoxShow::closingABoxDoesNotEndTheProgram() {
  // No other window is open, as when the main window sits hidden in the tray.
  QVERIFY(!endsTheProgram([]() {
    whenModalOpens([](QWidget* modal) { modal->close(); });
    MessageBoxShow box(nullptr, QMessageBox::Information);
    box.information(QStringLiteral("t"), QStringLiteral("x"));
    whenModalOpens([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    MessageBoxShow(nullptr, QMessageBox::Question)
        .question(QStringLiteral("t"), QStringLiteral("x"));
  }));
  // The same box with the attribute left on would have ended it: the check is live.
  QVERIFY(endsTheProgram([]() {
    QMessageBox plain(QMessageBox::Information, QStringLiteral("t"), QStringLiteral("x"));
    whenModalOpens([](QWidget* modal) { modal->close(); });
    plain.exec();
  }));
}

QTEST_MAIN(TestMessageBoxShow)
#include "tst_messageboxshow.moc"
