// The CPU-usage helper process and the parser of its output. The helper writes
// comma-separated lines whose last field is the total CPU busy percentage; the sampler
// keeps it running and publishes the last value read.
#pragma once

#include <QString>
#include <optional>

class QByteArray;
class QIODevice;
class QProcess;

namespace cpuusage {

// Starts the helper on `process` when it is not running. Never blocks: a helper that
// is missing or fails shows as a process that is not running, tried again next time.
void startProcess(QProcess& process);

// Reads every complete line pending on `device`; returns the value to publish, or
// nothing when the current text must stay.
std::optional<int> readRate(QIODevice& device);

// The value one line carries: its last comma-separated field, without quotes and line
// ends, if that has 1 to 9 characters and reads as a number, rounded halves away from
// zero. Values far outside 0..100 come back as -1 or 101. Nothing for lines that are
// passed over (the header, blank lines, anything else).
std::optional<int> parseLine(const QByteArray& line);

// The counter the helper is asked for, by the rule of the system's version text: a
// major version of 10 or more gets the utility counter.
QString counterPath(const QString& versionText);

// Where the helper is started from: beside the running program unless set otherwise
// (tests, a build tree); an empty path restores that default.
QString helperPath();
void setHelperPath(const QString& path);

}  // namespace cpuusage

namespace sensors::platform {
// The version text the counter rule reads on this platform.
QString systemVersionText();
}  // namespace sensors::platform
