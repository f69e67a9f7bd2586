// The FTP client's pure pieces: listing lines, reply lines, passive-mode replies.
#include <QtTest>

#include "qftpparse.h"
#include "qurlinfo.h"

namespace {

const int kDirPerms755 = QUrlInfo::ReadOwner | QUrlInfo::WriteOwner | QUrlInfo::ExeOwner |
                         QUrlInfo::ReadGroup | QUrlInfo::ExeGroup | QUrlInfo::ReadOther |
                         QUrlInfo::ExeOther;
const int kDosRw = QUrlInfo::ReadOwner | QUrlInfo::WriteOwner | QUrlInfo::ReadGroup |
                   QUrlInfo::WriteGroup | QUrlInfo::ReadOther | QUrlInfo::WriteOther;
const int kDosRwx = kDosRw | QUrlInfo::ExeOwner | QUrlInfo::ExeGroup | QUrlInfo::ExeOther;

// A fixed "now" so that year rules give the same answer every day.
QDateTime fixedNow() { return QDateTime(QDate(2026, 12, 8), QTime(12, 0)); }

}  // namespace

class TestQFtpParse : public QObject {
  Q_OBJECT

 private slots:
  void parseDirAccepts_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("isDir");
    QTest::addColumn<bool>("isFile");
    QTest::addColumn<bool>("isSymLink");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<int>("permissions");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("owner");
    QTest::addColumn<QDateTime>("modified");

    const QDateTime mar5(QDate(2023, 3, 5), QTime(0, 0));
    QTest::newRow("unix dir, usual columns")
        << QByteArray("drwxr-xr-x   2 ftp      ftp          4096 Mar  5  2023 V1.0.0.28\r\n")
        << "V1.0.0.28" << true << false << false << true << false << kDirPerms755 << qint64(4096)
        << "ftp" << mar5;
    QTest::newRow("unix link to dir")
        << QByteArray("lrwxr-xr-x   2 ftp      ftp          4096 Mar  5  2023 V1.0.0.28 -> old")
        << "V1.0.0.28" << true << false << true << true << false << kDirPerms755 << qint64(4096)
        << "ftp" << mar5;
    QTest::newRow("numeric owner, zero-padded day, time")
        << QByteArray("drwxr-xr-x    2 0        0            4096 Dec 08 00:43 V1.0.0.28")
        << "V1.0.0.28" << true << false << false << true << false << kDirPerms755 << qint64(4096)
        << "0" << QDateTime(QDate(2026, 12, 8), QTime(0, 43));
    QTest::newRow("space-padded day, time")
        << QByteArray("drwxr-xr-x    2 0          0                4096 Dec  8 00:43 V1.0.0.28")
        << "V1.0.0.28" << true << false << false << true << false << kDirPerms755 << qint64(4096)
        << "0" << QDateTime(QDate(2026, 12, 8), QTime(0, 43));
    QTest::newRow("named owner, year")
        << QByteArray("drwxr-xr-x   2 root     root         4096 Jan 15  2024 V1.0.0.30")
        << "V1.0.0.30" << true << false << false << true << false << kDirPerms755 << qint64(4096)
        << "root" << QDateTime(QDate(2024, 1, 15), QTime(0, 0));
    QTest::newRow("date a day ahead is last year's")
        << QByteArray("-rw-rw-rw-   1 u g 123 Dec 10 10:00 StelvoxSetup_V1.0.0.28.run")
        << "StelvoxSetup_V1.0.0.28.run" << false << true << false << true << true
        << int(QUrlInfo::ReadOwner | QUrlInfo::WriteOwner | QUrlInfo::ReadGroup |
               QUrlInfo::WriteGroup | QUrlInfo::ReadOther | QUrlInfo::WriteOther)
        << qint64(123) << "u" << QDateTime(QDate(2025, 12, 10), QTime(10, 0));
    QTest::newRow("date within a day ahead stays this year")
        << QByteArray("-rw-r--r--   1 u g 1 Dec  9 11:00 f") << "f" << false << true << false
        << true << false
        << int(QUrlInfo::ReadOwner | QUrlInfo::WriteOwner | QUrlInfo::ReadGroup |
               QUrlInfo::ReadOther)
        << qint64(1) << "u" << QDateTime(QDate(2026, 12, 9), QTime(11, 0));
    QTest::newRow("lower-case month, name with spaces, large size")
        << QByteArray("-rwx------ 1 a b 5000000000 jan 15  2024 my file.txt") << "my file.txt"
        << false << true << false << false << false
        << int(QUrlInfo::ReadOwner | QUrlInfo::WriteOwner | QUrlInfo::ExeOwner)
        << qint64(5000000000LL) << "a" << QDateTime(QDate(2024, 1, 15), QTime(0, 0));
    QTest::newRow("unparsable date keeps the entry")
        << QByteArray("drwxr-xr-x 2 a b 4096 Foo 99 xx:yy V1") << "V1" << true << false << false
        << true << false << kDirPerms755 << qint64(4096) << "a" << QDateTime();
    QTest::newRow("dos dir") << QByteArray("12-01-23  09:15AM       <DIR>          V1.0.0.28")
                             << "V1.0.0.28" << true << false << false << true << false << kDosRw
                             << qint64(0) << QString()
                             << QDateTime(QDate(2023, 12, 1), QTime(9, 15));
    QTest::newRow("dos exe file, afternoon")
        << QByteArray("12-01-23  09:15PM              1024 SETUP.EXE\r\n") << "SETUP.EXE" << false
        << true << false << true << true << kDosRwx << qint64(1024) << QString()
        << QDateTime(QDate(2023, 12, 1), QTime(21, 15));
    QTest::newRow("dos link") << QByteArray("01-02-99  10:00AM                10 Shortcut.LNK")
                              << "Shortcut.LNK" << false << true << true << true << true << kDosRw
                              << qint64(10) << QString()
                              << QDateTime(QDate(1999, 1, 2), QTime(10, 0));
    QTest::newRow("dos four-digit year")
        << QByteArray("12-01-2023  09:15AM       <DIR>          V1.0.0.28") << "V1.0.0.28" << true
        << false << false << true << false << kDosRw << qint64(0) << QString()
        << QDateTime(QDate(2023, 12, 1), QTime(9, 15));
  }
  void parseDirAccepts() {
    QFETCH(QByteArray, line);
    QUrlInfo info;
    QVERIFY(qftpparse::parseDir(line, QString(), &info, fixedNow()));
    QTEST(info.name(), "name");
    QTEST(info.isDir(), "isDir");
    QTEST(info.isFile(), "isFile");
    QTEST(info.isSymLink(), "isSymLink");
    QTEST(info.isReadable(), "readable");
    QTEST(info.isWritable(), "writable");
    QTEST(info.permissions(), "permissions");
    QTEST(info.size(), "size");
    QTEST(info.owner(), "owner");
    QTEST(info.lastModified(), "modified");
  }

  void parseDirRejects_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("blank") << QByteArray("   \r\n");
    QTest::newRow("total line") << QByteArray("total 12\r\n");
    QTest::newRow("error text") << QByteArray("ls: /ZRT/none: No such file or directory\r\n");
    QTest::newRow("short permissions") << QByteArray("drwxr-x 2 a b 4096 Dec 08 00:43 V1");
    QTest::newRow("unknown type") << QByteArray("crwxr-xr-x 2 a b 4096 Dec 08 00:43 V1");
    QTest::newRow("no name") << QByteArray("drwxr-xr-x 2 a b 4096 Dec 08 00:43");
    QTest::newRow("dos without AM/PM") << QByteArray("12-01-23  09:15 <DIR> V1");
    QTest::newRow("not at line start") << QByteArray("x drwxr-xr-x 2 a b 4096 Dec 08 00:43 V1");
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe drwx", 8);
    QTest::newRow("overlong blank run")
        << (QByteArray("drwxr-xr-x 1") + QByteArray(200, ' ') + "a b 1 Dec 08 00:43 V1");
    QTest::newRow("too long") << (QByteArray("-rw-r--r-- 1 a b 1 Dec 08 00:43 ") +
                                  QByteArray(20000, 'n'));
  }
  void parseDirRejects() {
    QFETCH(QByteArray, line);
    QUrlInfo info;
    QVERIFY(!qftpparse::parseDir(line, QString(), &info, fixedNow()));
    QVERIFY(!info.isValid());
  }

  void ownerMatchGrantsOwnerRights() {
    QUrlInfo info;
    QVERIFY(qftpparse::parseDir("-rw------- 1 me g 1 Dec 08 00:43 f", "me", &info, fixedNow()));
    QVERIFY(info.isReadable());
    QVERIFY(info.isWritable());
    QVERIFY(
        qftpparse::parseDir("-rw------- 1 me g 1 Dec 08 00:43 f", QString(), &info, fixedNow()));
    QVERIFY(!info.isReadable());
    QVERIFY(!info.isWritable());
  }

  void leapDayWithoutYear() {
    // 29 February without a year, seen in a year that has none: last leap year's.
    QUrlInfo info;
    const QDateTime now(QDate(2029, 3, 10), QTime(8, 0));
    QVERIFY(qftpparse::parseDir("-rw-r--r-- 1 a b 1 Feb 29 10:00 f", QString(), &info, now));
    QCOMPARE(info.lastModified(), QDateTime(QDate(2028, 2, 29), QTime(10, 0)));
  }

  void unsetEntryReportsNothing() {
    QUrlInfo info;
    QVERIFY(!info.isValid());
    QVERIFY(!info.isFile());
    QVERIFY(!info.isReadable());
    QVERIFY(!info.isWritable());
    QVERIFY(info.name().isEmpty());
    info.setName(QStringLiteral("x"));
    // The first setter brings the defaults of a readable, writable file.
    QVERIFY(info.isFile());
    QVERIFY(info.isReadable());
    QVERIFY(info.isWritable());
    QVERIFY(!info.isDir());
    QUrlInfo copy = info;
    copy.setName(QStringLiteral("y"));
    QCOMPARE(info.name(), QStringLiteral("x"));
    QVERIFY(copy != info);
  }

  // Feeds the lines and returns every completed reply as "code|text".
  void replyReader_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("replies");
    QTest::newRow("single") << QStringList{"220 Ready\r\n"} << QStringList{"220|Ready"};
    QTest::newRow("multi-line with plain middle line")
        << QStringList{"230-Welcome\r\n", "plain text\r\n", "230 Logged in\r\n"}
        << QStringList{"230|Welcome\r\nplain text\r\nLogged in"};
    QTest::newRow("middle line with another code")
        << QStringList{"211-Features:\r\n", " EPSV\r\n", "211-MDTM\r\n", "200 not the end\r\n",
                       "211 End\r\n"}
        << QStringList{"211|Features:\r\n EPSV\r\nMDTM\r\n200 not the end\r\nEnd"};
    QTest::newRow("invalid codes dropped")
        << QStringList{"hello\r\n",  "99\r\n",     "600 no\r\n",
                       "160 no\r\n", "1a0 no\r\n", "150 Opening\r\n"}
        << QStringList{"150|Opening"};
    QTest::newRow("bare code") << QStringList{"200\r\n"} << QStringList{"200|"};
    QTest::newRow("bare code ends multi-line")
        << QStringList{"220-a\r\n", "220\r\n", "331 next\n"} << QStringList{"220|a", "331|next"};
    QTest::newRow("line feed only") << QStringList{"257 \"/\"\n"} << QStringList{"257|\"/\""};
    QTest::newRow("back to back") << QStringList{"226 Done\r\n", "221 Bye\r\n"}
                                  << QStringList{"226|Done", "221|Bye"};
  }
  void replyReader() {
    QFETCH(QStringList, lines);
    QStringList replies;
    QFtpReplyReader reader;
    for (const QString& line : lines) {
      if (reader.addLine(line) == QFtpReplyReader::Complete) {
        replies << QString::number(reader.code()) + '|' + reader.text();
        reader.clear();
      }
    }
    QTEST(replies, "replies");
    QVERIFY(!reader.isCollecting());
  }

  void endlessReplyKeepsBoundedText() {
    QFtpReplyReader reader;
    QCOMPARE(reader.addLine("220-Welcome\r\n"), QFtpReplyReader::NeedMore);
    const QString line = QString(" filler %1\r\n").arg(QString(100, 'x'));
    for (int i = 0; i < 20000; ++i) QCOMPARE(reader.addLine(line), QFtpReplyReader::NeedMore);
    QVERIFY(reader.isOversized());
    QCOMPARE(reader.addLine("220 ready\r\n"), QFtpReplyReader::Complete);
    QVERIFY(reader.text().startsWith("Welcome\r\n filler"));
    QVERIFY(reader.text().size() <= 64 * 1024);
    reader.clear();
    QCOMPARE(reader.addLine("200 ok\r\n"), QFtpReplyReader::Complete);
    QVERIFY(!reader.isOversized());
  }

  void passiveReply_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("parentheses") << "Entering Passive Mode (192,168,1,2,31,64)." << true
                                 << "192.168.1.2" << 8000;
    QTest::newRow("bare") << "Entering Passive Mode 192,168,1,2,31,64" << true << "192.168.1.2"
                          << 8000;
    QTest::newRow("port wraps to 16 bits") << "(1,2,3,4,256,1)" << true << "1.2.3.4" << 1;
    QTest::newRow("overlong numbers")
        << "(1,2,3,4,99999999999999999999,5)" << true << "1.2.3.4" << 5;
    QTest::newRow("too few numbers")
        << "Entering Passive Mode (1,2,3,4,5)" << false << QString() << 0;
  }
  void passiveReply() {
    QFETCH(QString, text);
    QString host;
    quint16 port = 0;
    QTEST(qftpparse::parsePassiveReply(text, &host, &port), "ok");
    QTEST(host, "host");
    QTEST(int(port), "port");
  }

  void extendedPassiveReply_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("port");
    QTest::newRow("usual") << "Entering Extended Passive Mode (|||6446|)" << true << 6446;
    QTest::newRow("other delimiter") << "ok (!!!21!)" << true << 21;
    QTest::newRow("no parenthesis") << "Entering Extended Passive Mode |||6446|" << false << 0;
    QTest::newRow("parenthesis last") << "Mode (" << false << 0;
    QTest::newRow("too few fields") << "(||6446)" << false << 0;
    QTest::newRow("not a port") << "(|||abc|)" << false << 0;
    QTest::newRow("out of range") << "(|||70000|)" << false << 0;
  }
  void extendedPassiveReply() {
    QFETCH(QString, text);
    quint16 port = 0;
    QTEST(qftpparse::parseExtendedPassiveReply(text, &port), "ok");
    QTEST(int(port), "port");
  }
  void harmlessTexts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("forged log line") << "Bye\r\n[Critical] forged"
                                     << "Bye [Critical] forged";
    QTest::newRow("terminal escapes") << "\x1b[2J\x1b]0;x\x07ok"
                                      << "[2J ]0;x ok";
    QTest::newRow("display reordering") << QString::fromUtf8("a\u202Eb\u2028c") << "a b c";
    QTest::newRow("cut to length") << QString(300, 'z') << QString(200, 'z') + "...";
    QTest::newRow("other scripts kept")
        << QString::fromUtf8("更新 ok") << QString::fromUtf8("更新 ok");
  }
  void harmlessTexts() {
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(qftpparse::harmless(text), shown);
  }
};

QTEST_GUILESS_MAIN(TestQFtpParse)
#include "tst_qftpparse.moc"
