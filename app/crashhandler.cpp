#include "crashhandler.h"

#include <cstring>

#include <QSet>

#include "filelocations.h"
#include "rslogger.h"

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian), without the C
// library so it can run inside a signal handler.
void civilFromDays(long long days, int* year, int* month, int* day) {
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long dayOfEra = days - era * 146097;
  const long long yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long monthIndex = (5 * dayOfYear + 2) / 153;
  *day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  *month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  *year = static_cast<int>(yearOfEra + era * 400 + (*month <= 2 ? 1 : 0));
}

void putDigits(char* out, long long value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

}  // namespace

void CrashHandler::formatStamp(long long localSeconds, char* out) {
  long long days = localSeconds / 86400;
  long long secondOfDay = localSeconds % 86400;
  if (secondOfDay < 0) {
    secondOfDay += 86400;
    --days;
  }
  int year = 0, month = 0, day = 0;
  civilFromDays(days, &year, &month, &day);
  if (year < 0 || year > 9999) year = 0;
  putDigits(out, year, 4);
  putDigits(out + 4, month, 2);
  putDigits(out + 6, day, 2);
  putDigits(out + 8, secondOfDay / 3600, 2);
  putDigits(out + 10, secondOfDay / 60 % 60, 2);
  putDigits(out + 12, secondOfDay % 60, 2);
  out[14] = '\0';
}

bool CrashHandler::dumpFilePath(const char* directory, long long localSeconds, char* out,
                                std::size_t size) {
  static const char kFolder[] = "/DumpCrashes/Exception_";
  static const char kSuffix[] = ".dmp";
  const std::size_t directoryLength = std::strlen(directory);
  const std::size_t needed = directoryLength + sizeof kFolder - 1 + 14 + sizeof kSuffix;
  if (needed > size) return false;
  char* p = out;
  std::memcpy(p, directory, directoryLength);
  p += directoryLength;
  std::memcpy(p, kFolder, sizeof kFolder - 1);
  p += sizeof kFolder - 1;
  formatStamp(localSeconds, p);
  p += 14;
  std::memcpy(p, kSuffix, sizeof kSuffix);
  return true;
}

QString CrashHandler::dumpParentFolder(const QString& programFolder) {
  return COMMON::platform::keepsFilesBesideProgram(programFolder) ? QString()
                                                                  : COMMON::platform::stateFolder();
}

bool CrashHandler::install(const char* messageProgram, const char* programFolder) {
  return COMMON::platform::installCrashHandlers(messageProgram, programFolder);
}

QStringList CrashHandler::reassert() {
  // Reported once per signal: a module that keeps replacing a handler would fill the log.
  static QSet<QString> reported;
  const QStringList taken = COMMON::platform::reassertCrashHandlers();
  for (const QString& name : taken) {
    if (reported.contains(name)) continue;
    reported.insert(name);
    RSLogger::instance()->writeLog(
        RSLogger::LevelWarning,
        QStringLiteral(
            "Another module replaced the %1 handler; the crash handler is back in place.")
            .arg(name),
        "CrashHandler::reassert");
  }
  return taken;
}

void CrashHandler::prepareLocalTime(std::time_t from) { COMMON::platform::prepareLocalTime(from); }

long CrashHandler::utcOffsetAt(std::time_t utc) { return COMMON::platform::utcOffsetAt(utc); }
