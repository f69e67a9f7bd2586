#include "qftpparse.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringList>

namespace {

const QString kLineEnd = QStringLiteral("\r\n");

// Listing lines longer than this are not listing lines; the bound also keeps the
// backtracking of the Unix pattern over long runs of blanks small.
constexpr int kMaxListingLine = 8192;

}  // namespace

// ---------------------------------------------------------------------------
// Reply reader

bool QFtpReplyReader::hasValidCode(const QString& line) {
  if (line.size() < 3) return false;
  const QChar a = line.at(0), b = line.at(1), c = line.at(2);
  return a >= QLatin1Char('1') && a <= QLatin1Char('5') && b >= QLatin1Char('0') &&
         b <= QLatin1Char('5') && c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

void QFtpReplyReader::clear() {
  m_collecting = false;
  m_received = 0;
  m_text.clear();
}

void QFtpReplyReader::append(const QString& part) {
  m_received += part.size();
  if (m_text.size() < kMaxKeptChars) m_text += part.left(kMaxKeptChars - m_text.size());
}

void QFtpReplyReader::finish() {
  m_collecting = false;
  if (m_text.endsWith(kLineEnd))
    m_text.chop(2);
  else if (m_text.endsWith(QLatin1Char('\n')))
    m_text.chop(1);
}

QFtpReplyReader::Result QFtpReplyReader::addLine(const QString& line) {
  if (!m_collecting) {
    if (!hasValidCode(line)) return Dropped;
    for (int i = 0; i < 3; ++i) m_code[i] = line.at(i).unicode() - '0';
    m_codeText = line.left(3);
    m_text.clear();
    m_received = 0;
    const QChar separator = line.size() > 3 ? line.at(3) : QChar();
    if (separator == QLatin1Char('-')) {
      m_collecting = true;
      append(line.mid(4));
      return NeedMore;
    }
    // "ddd text" as the protocol wants it; a bare "ddd" still ends the reply.
    m_text = line.mid(separator == QLatin1Char(' ') ? 4 : 3);
    finish();
    return Complete;
  }

  if (line.startsWith(m_codeText)) {
    const QString rest = line.mid(3);
    if (rest.startsWith(QLatin1Char(' '))) {
      append(rest.mid(1));
      finish();
      return Complete;
    }
    if (rest.isEmpty() || rest == kLineEnd || rest == QLatin1String("\n")) {
      finish();
      return Complete;
    }
    if (rest.startsWith(QLatin1Char('-'))) {
      append(rest.mid(1));
      return NeedMore;
    }
  }
  // A line inside a multi-line reply that carries no code of this reply.
  append(line);
  return NeedMore;
}

// ---------------------------------------------------------------------------
// Passive-mode replies

namespace qftpparse {

QString harmless(const QString& text, int maxChars) {
  QString out;
  out.reserve(qMin(text.size(), maxChars));
  bool blank = false;
  for (const QChar c : text) {
    // Format characters (Cf) include the overrides that reorder a line as displayed.
    const bool control =
        c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
        c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph;
    if (control) {
      blank = !out.isEmpty();
      continue;
    }
    if (blank) out += QLatin1Char(' ');
    blank = false;
    if (out.size() >= maxChars) return out.left(maxChars) + QStringLiteral("...");
    out += c;
  }
  return out.size() > maxChars ? out.left(maxChars) + QStringLiteral("...") : out;
}

bool parsePassiveReply(const QString& text, QString* host, quint16* port) {
  static const QRegularExpression pattern(
      QStringLiteral("(\\d+),(\\d+),(\\d+),(\\d+),(\\d+),(\\d+)"));
  const QRegularExpressionMatch m = pattern.match(text);
  if (!m.hasMatch()) return false;
  if (host) {
    *host = m.captured(1) + QLatin1Char('.') + m.captured(2) + QLatin1Char('.') + m.captured(3) +
            QLatin1Char('.') + m.captured(4);
  }
  if (port) {
    // Numbers too long for 32 bits read as 0; the port keeps its low 16 bits.
    const quint32 high = m.captured(5).toUInt();
    const quint32 low = m.captured(6).toUInt();
    *port = static_cast<quint16>(((high & 0xFFFFu) * 256u + (low & 0xFFFFu)) & 0xFFFFu);
  }
  return true;
}

bool parseExtendedPassiveReply(const QString& text, quint16* port) {
  const int open = text.indexOf(QLatin1Char('('));
  if (open < 0 || open + 1 >= text.size()) return false;
  const QChar delimiter = text.at(open + 1);
  const QStringList fields = text.mid(open + 1).split(delimiter);
  if (fields.size() < 4) return false;
  bool ok = false;
  const uint value = fields.at(3).toUInt(&ok);
  if (!ok || value == 0 || value > 0xFFFF) return false;
  if (port) *port = static_cast<quint16>(value);
  return true;
}

// ---------------------------------------------------------------------------
// Listing lines

namespace {

QDateTime parseUnixDate(QString text, const QDateTime& now) {
  if (text.isEmpty()) return QDateTime();
  text[0] = text.at(0).toUpper();
  static const char* const kFormats[] = {"MMM dd  yyyy", "MMM dd hh:mm", "MMM  d  yyyy",
                                         "MMM  d hh:mm", "MMM  d yyyy",  "MMM dd yyyy"};
  const QLocale c = QLocale::c();
  for (int i = 0; i < 6; ++i) {
    const QString format = QLatin1String(kFormats[i]);
    const bool hasYear = (i != 1 && i != 3);
    if (hasYear) {
      QDateTime dt = c.toDateTime(text, format);
      if (dt.isValid()) return dt;
      continue;
    }
    // Without a year the date is this year's, or last year's when that would put it
    // more than a day in the future. The year goes into the text, so that 29 February
    // parses in leap years.
    auto inYear = [&](int year) {
      return c.toDateTime(QString::number(year) + QLatin1Char(' ') + text,
                          QStringLiteral("yyyy ") + format);
    };
    const int year = now.date().year();
    QDateTime dt = inYear(year);
    if (!dt.isValid()) dt = inYear(year - 1);
    if (!dt.isValid()) continue;
    if (now.secsTo(dt) > 86400) dt = inYear(dt.date().year() - 1);
    return dt;
  }
  return QDateTime();
}

// True when the line holds a run of blanks longer than any column padding. Such a run
// before the name would make the Unix pattern backtrack for seconds (its owner and
// group may be empty, so a long run can be split in very many ways).
bool hasOverlongBlankRun(const QString& line) {
  constexpr int kMaxBlankRun = 128;
  int run = 0;
  for (const QChar c : line) {
    run = c.isSpace() ? run + 1 : 0;
    if (run > kMaxBlankRun) return true;
  }
  return false;
}

bool parseUnixLine(const QString& line, const QString& userName, QUrlInfo* info,
                   const QDateTime& now) {
  if (hasOverlongBlankRun(line)) return false;
  static const QRegularExpression pattern(
      QStringLiteral("^([\\-dl])([a-zA-Z\\-]{9,9})\\s+\\d+\\s+(\\S*)\\s+(\\S*)\\s+(\\d+)\\s+"
                     "(\\S+\\s+\\S+\\s+\\S+)\\s+(\\S.*)"));
  const QRegularExpressionMatch m = pattern.match(line);
  if (!m.hasMatch()) return false;

  const QChar type = m.capturedRef(1).at(0);
  QString name = m.captured(7);
  if (type == QLatin1Char('d')) {
    info->setDir(true);
    info->setFile(false);
    info->setSymLink(false);
  } else if (type == QLatin1Char('-')) {
    info->setDir(false);
    info->setFile(true);
    info->setSymLink(false);
  } else {
    // A link may lead to a directory; the listing does not say, so it counts as one.
    info->setDir(true);
    info->setFile(false);
    info->setSymLink(true);
    const int arrow = name.indexOf(QLatin1String(" ->"));
    if (arrow >= 0) name.truncate(arrow);
  }
  info->setName(name);
  info->setOwner(m.captured(3));
  info->setGroup(m.captured(4));
  info->setSize(m.captured(5).toLongLong());

  const QDateTime modified = parseUnixDate(m.captured(6), now);
  if (modified.isValid()) info->setLastModified(modified);

  static const int kBits[9] = {QUrlInfo::ReadOwner, QUrlInfo::WriteOwner, QUrlInfo::ExeOwner,
                               QUrlInfo::ReadGroup, QUrlInfo::WriteGroup, QUrlInfo::ExeGroup,
                               QUrlInfo::ReadOther, QUrlInfo::WriteOther, QUrlInfo::ExeOther};
  static const char kLetters[4] = "rwx";
  const QString letters = m.captured(2);
  int permissions = 0;
  for (int i = 0; i < 9; ++i) {
    if (letters.at(i) == QLatin1Char(kLetters[i % 3])) permissions |= kBits[i];
  }
  info->setPermissions(permissions);

  const bool isOwner = info->owner() == userName;
  info->setReadable((permissions & QUrlInfo::ReadOther) ||
                    ((permissions & QUrlInfo::ReadOwner) && isOwner));
  info->setWritable((permissions & QUrlInfo::WriteOther) ||
                    ((permissions & QUrlInfo::WriteOwner) && isOwner));
  return true;
}

bool parseDosLine(const QString& line, QUrlInfo* info) {
  static const QRegularExpression pattern(QStringLiteral(
      "^(\\d\\d-\\d\\d-\\d\\d\\d?\\d?\\ \\ \\d\\d:\\d\\d[AP]M)\\s+(<DIR>|\\d+)\\s+(\\S.*)$"));
  const QRegularExpressionMatch m = pattern.match(line);
  if (!m.hasMatch()) return false;

  const QString name = m.captured(3);
  info->setName(name);
  info->setSymLink(name.toLower().endsWith(QLatin1String(".lnk")));
  if (m.captured(2) == QLatin1String("<DIR>")) {
    info->setFile(false);
    info->setDir(true);
  } else {
    info->setFile(true);
    info->setDir(false);
    info->setSize(m.captured(2).toLongLong());
  }

  int permissions = QUrlInfo::ReadOwner | QUrlInfo::WriteOwner | QUrlInfo::ReadGroup |
                    QUrlInfo::WriteGroup | QUrlInfo::ReadOther | QUrlInfo::WriteOther;
  const int dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot >= 0) {
    const QString extension = name.mid(dot + 1).toLower();
    if (extension == QLatin1String("exe") || extension == QLatin1String("bat") ||
        extension == QLatin1String("com")) {
      permissions |= QUrlInfo::ExeOwner | QUrlInfo::ExeGroup | QUrlInfo::ExeOther;
    }
  }
  info->setPermissions(permissions);
  info->setReadable(true);
  info->setWritable(info->isFile());

  const QString dateText = m.captured(1);
  const QLocale c = QLocale::c();
  QDateTime dt = c.toDateTime(dateText, QStringLiteral("MM-dd-yy  hh:mmAP"));
  // Two-digit years read as 19yy; the listing format is younger than 1971.
  if (dt.isValid() && dt.date().year() < 1971) dt = dt.addYears(100);
  // Servers set to four-digit years send the same shape with a longer year.
  if (!dt.isValid()) dt = c.toDateTime(dateText, QStringLiteral("MM-dd-yyyy  hh:mmAP"));
  if (dt.isValid()) info->setLastModified(dt);
  return true;
}

}  // namespace

bool parseDir(const QByteArray& buffer, const QString& userName, QUrlInfo* info,
              const QDateTime& now) {
  if (buffer.isEmpty() || buffer.size() > kMaxListingLine || !info) return false;
  const QString line = QString::fromUtf8(buffer).trimmed();
  if (line.isEmpty()) return false;
  // Each pattern sets nothing unless it matched.
  return parseUnixLine(line, userName, info, now) || parseDosLine(line, info);
}

}  // namespace qftpparse
