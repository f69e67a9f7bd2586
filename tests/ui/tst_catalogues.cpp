// Every translatable text of the program has a translation in each compiled-in
// catalogue. The texts come from lupdate run over every subsystem's sources, so a text
// added anywhere without its translations fails here.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

namespace {

struct Message {
  QString context;
  QString source;
  QString comment;
};

// Characters that exist only in simplified writing; a traditional text holding one was
// left untranslated.
const QString kSimplifiedOnly = QStringLiteral(
    "设备检测监软关无语启单华摄风转开确认时这进为发载请网义应误异钮败连务户动们统据库"
    "级页码间纪录录显设历导览帮热扫驱变择选读写错态");

QVector<Message> readTs(const QString& path) {
  QVector<Message> messages;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return messages;
  QXmlStreamReader xml(&file);
  QString context;
  Message current;
  while (!xml.atEnd()) {
    xml.readNext();
    if (!xml.isStartElement()) continue;
    const auto name = xml.name();
    if (name == QLatin1String("name")) {
      context = xml.readElementText();
    } else if (name == QLatin1String("message")) {
      current = Message{context, QString(), QString()};
    } else if (name == QLatin1String("source")) {
      current.source = xml.readElementText();
      messages.append(current);
    } else if (name == QLatin1String("comment")) {
      if (!messages.isEmpty()) messages.last().comment = xml.readElementText();
    }
  }
  return messages;
}

}  // namespace

class TestCatalogues : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void everyTextIsTranslated_data();
  void everyTextIsTranslated();
  void traditionalHasNoSimplifiedLeftovers();
  void englishHasNoChinese();
  void fixedTranslations_data();
  void fixedTranslations();

 private:
  QString translate(const QString& catalogue, const Message& m);
  QVector<Message> m_program;
  QTemporaryDir m_work;
};

void TestCatalogues::initTestCase() {
  const QString lupdate = qEnvironmentVariable("STELVOX_LUPDATE", QStringLiteral("lupdate"));
  const QString root = qEnvironmentVariable("STELVOX_SOURCE_DIR");
  QVERIFY2(!root.isEmpty(), "STELVOX_SOURCE_DIR is not set");
  QStringList arguments;
  for (const char* subsystem : {"app", "sensors", "hid", "ui", "update", "sensorlib"}) {
    const QString folder = root + QLatin1Char('/') + QLatin1String(subsystem);
    if (QDir(folder).exists()) arguments << folder;
  }
  const QString ts = m_work.filePath(QStringLiteral("program.ts"));
  arguments << QStringLiteral("-locations") << QStringLiteral("none") << QStringLiteral("-silent")
            << QStringLiteral("-ts") << ts;
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(lupdate, arguments);
  QVERIFY2(process.waitForFinished(240000), qPrintable(lupdate + ": " + process.errorString()));
  QVERIFY2(process.exitCode() == 0, process.readAll().constData());
  m_program = readTs(ts);
  // The interface alone has some fifty texts; fewer means the scan went wrong.
  QVERIFY2(m_program.size() >= 45, qPrintable(QString::number(m_program.size())));
}

QString TestCatalogues::translate(const QString& catalogue, const Message& m) {
  QTranslator translator;
  if (!translator.load(catalogue)) return QStringLiteral("<no catalogue %1>").arg(catalogue);
  return translator.translate(m.context.toUtf8().constData(), m.source.toUtf8().constData(),
                              m.comment.isEmpty() ? nullptr : m.comment.toUtf8().constData());
}

void TestCatalogues::everyTextIsTranslated_data() {
  QTest::addColumn<QString>("catalogue");
  QTest::newRow("simplified") << ":/zh_CN.qm";
  QTest::newRow("traditional") << ":/zh_TW.qm";
  QTest::newRow("English") << ":/eg_EN.qm";
}

void TestCatalogues::everyTextIsTranslated() {
  QFETCH(QString, catalogue);
  QTranslator translator;
  QVERIFY(translator.load(catalogue));
  QStringList missing;
  for (const Message& m : qAsConst(m_program)) {
    const QByteArray comment = m.comment.toUtf8();
    const QString text =
        translator.translate(m.context.toUtf8().constData(), m.source.toUtf8().constData(),
                             m.comment.isEmpty() ? nullptr : comment.constData());
    if (text.isEmpty()) missing << m.context + QStringLiteral(": ") + m.source;
  }
  QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char('\n'))));
}

void TestCatalogues::traditionalHasNoSimplifiedLeftovers() {
  QStringList leftovers;
  for (const Message& m : qAsConst(m_program)) {
    const QString text = translate(QStringLiteral(":/zh_TW.qm"), m);
    // The language choice names itself in its own script in every catalogue.
    if (m.source == QStringLiteral("简体中文")) continue;
    for (QChar c : text) {
      if (kSimplifiedOnly.contains(c)) {
        leftovers << m.context + QStringLiteral(": ") + text;
        break;
      }
    }
  }
  QVERIFY2(leftovers.isEmpty(), qPrintable(leftovers.join(QLatin1Char('\n'))));
}

void TestCatalogues::englishHasNoChinese() {
  const QRegularExpression han(QStringLiteral("[\\x{4E00}-\\x{9FFF}]"));
  QStringList chinese;
  for (const Message& m : qAsConst(m_program)) {
    if (m.source == QStringLiteral("简体中文") || m.source == QStringLiteral("繁體中文")) continue;
    const QString text = translate(QStringLiteral(":/eg_EN.qm"), m);
    if (han.match(text).hasMatch()) chinese << m.context + QStringLiteral(": ") + text;
  }
  QVERIFY2(chinese.isEmpty(), qPrintable(chinese.join(QLatin1Char('\n'))));
}

void TestCatalogues::fixedTranslations_data() {
  QTest::addColumn<QString>("catalogue");
  QTest::addColumn<QString>("context");
  QTest::addColumn<QString>("source");
  QTest::addColumn<QString>("expected");
  QTest::newRow("en Confirm") << ":/eg_EN.qm"
                              << "MessageBoxShow"
                              << "确定"
                              << "Confirm";
  QTest::newRow("en Cancel") << ":/eg_EN.qm"
                             << "MessageBoxShow"
                             << "取消"
                             << "Cancel";
  QTest::newRow("en title") << ":/eg_EN.qm"
                            << "MainWindow"
                            << "设备监测软件"
                            << "Device Monitor Application";
  QTest::newRow("en quit") << ":/eg_EN.qm"
                           << "MainWindow"
                           << "您确认要退出程序？"
                           << "Do you confirm to quit？";
  QTest::newRow("en language") << ":/eg_EN.qm"
                               << "CSettingDlg"
                               << "更改语言需要重新启动才能生效，是否确认更改？"
                               << "Language reset takes effect after restarting.Reset?";
  QTest::newRow("en crash title") << ":/eg_EN.qm"
                                  << "QObject"
                                  << "错误提示"
                                  << "Error Message";
  QTest::newRow("en crash text")
      << ":/eg_EN.qm"
      << "QObject"
      << "当前应用程序遇到异常错误退出!\n生成异常文件:%1"
      << "Application encountered an abnormal error and exited!\n Generate exception file: %1";
  QTest::newRow("cn rpm") << ":/zh_CN.qm"
                          << "MainWindow"
                          << "RPM"
                          << "转/分";
  QTest::newRow("tw rpm") << ":/zh_TW.qm"
                          << "MainWindow"
                          << "RPM"
                          << "轉/分";
  QTest::newRow("en rpm") << ":/eg_EN.qm"
                          << "MainWindow"
                          << "RPM"
                          << "RPM";
  QTest::newRow("cn form title") << ":/zh_CN.qm"
                                 << "MainWindow"
                                 << "MainWindow"
                                 << "主界面";
  QTest::newRow("cn crash text") << ":/zh_CN.qm"
                                 << "QObject"
                                 << "当前应用程序遇到异常错误退出!\n生成异常文件:%1"
                                 << "当前应用程序遇到异常错误退出!\n生成异常文件：%1";
  QTest::newRow("cn unchanged") << ":/zh_CN.qm"
                                << "TrayIconMenu"
                                << "设备列表"
                                << "设备列表";
  QTest::newRow("tw tips") << ":/zh_TW.qm"
                           << "MainWindow"
                           << "温馨提示"
                           << "溫馨提示";
}

void TestCatalogues::fixedTranslations() {
  QFETCH(QString, catalogue);
  QFETCH(QString, context);
  QFETCH(QString, source);
  QFETCH(QString, expected);
  QCOMPARE(translate(catalogue, Message{context, source, QString()}), expected);
}

QTEST_MAIN(TestCatalogues)
#include "tst_catalogues.moc"
