// Crash dumps: handlers for the fatal signals write a report file into
// "DumpCrashes" under the working directory (under the user's state folder for an
// installed program), start a separate process that tells the user where it is, and
// then let the process end with the original signal.
#pragma once

#include <QStringList>

#include <cstddef>
#include <ctime>

class CrashHandler {
 public:
  // Environment variable that starts the program in crash-message mode; its value
  // is the path of the dump the message names.
  static constexpr const char* kMessageVariable = "STELVOX_CRASH_DUMP";

  // Installs the handlers. Call first thing in main, before any thread exists.
  // `messageProgram` is started (with no arguments, kMessageVariable set) to show
  // the message; null means this executable. `programFolder` is the folder whose
  // kind decides where dumps go (dumpParentFolder); null means this executable's.
  // Returns false when a handler could not be installed.
  static bool install(const char* messageProgram = nullptr, const char* programFolder = nullptr);

  // The folder that receives "DumpCrashes": empty for the working directory of the
  // moment (a program run from a folder of the user's own), else the user's state
  // folder for the program.
  static QString dumpParentFolder(const QString& programFolder);

  // Puts our handler back on every fatal signal whose handler a module replaced
  // after install(), logging a warning once per signal; returns the signals'
  // names. Cheap: meant to run on a timer and after loading other modules.
  static QStringList reassert();

  // Pure helpers the handler uses; none allocates or locks.

  // "yyyyMMddhhmmss" of a time given as seconds since 1970 already shifted into
  // local time; `out` receives 15 bytes including the terminating zero.
  static void formatStamp(long long localSeconds, char* out);
  // `directory` + "/DumpCrashes/Exception_" + stamp + ".dmp"; false when it does
  // not fit into `size` bytes.
  static bool dumpFilePath(const char* directory, long long localSeconds, char* out,
                           std::size_t size);

  // Offset of local time from UTC at `utc`, looked up in a table of transitions
  // that prepareLocalTime() computed ahead of time, since the C library's
  // local-time functions may lock and must not run inside a signal handler.
  static long utcOffsetAt(std::time_t utc);
  // Fills the table for about a year starting at `from`.
  static void prepareLocalTime(std::time_t from);
};

namespace COMMON::platform {

// The handlers themselves, as CrashHandler::install describes them.
bool installCrashHandlers(const char* messageProgram, const char* programFolder);
// Our handler back on every fatal signal another module took; the signals' names.
QStringList reassertCrashHandlers();
void prepareLocalTime(std::time_t from);
long utcOffsetAt(std::time_t utc);

}  // namespace COMMON::platform
