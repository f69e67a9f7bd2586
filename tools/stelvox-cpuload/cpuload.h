// The pieces of the CPU-usage helper that need no process around them: reading the
// aggregate CPU times (parsed as the sensor library parses them) and writing the CSV
// lines the program parses. Plain C++ so that the helper stays small and cheap.
#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>

#include "sysparse.h"

namespace cpuload {

using pelmora::sys::CpuTimes;

// Share of busy time between two readings in percent, 0 to 100. Counters that stand
// still or run backwards (a CPU going offline, the kernel's iowait accounting) give
// 0 rather than a negative or inflated figure.
inline double busyPercent(const CpuTimes& previous, const CpuTimes& current) {
  return pelmora::sys::cpuLoadPercent(previous, current).value_or(0.0);
}

// `"(PDH-CSV 4.0)","\\<host>\<counter>"` and a line feed. Quotes in the counter are
// doubled and line breaks replaced, so the header stays one CSV line.
std::string headerLine(const std::string& host, const std::string& counter);

// `"MM/dd/yyyy hh:mm:ss.zzz","<percent with six decimals>"` and a line feed, the time
// taken as local time. Writes into `buffer` and returns the length, 0 if it does not fit.
std::size_t sampleLine(char* buffer, std::size_t size, const std::tm& localTime, int millis,
                       double percent);

// The total line of the file at `path` (a /proc/stat); nothing when it cannot be read.
std::optional<CpuTimes> readProcStat(const std::string& path);

// Writes all of `length` bytes to `fd`, retrying short writes and interruptions.
bool writeAll(int fd, const char* data, std::size_t length);

}  // namespace cpuload
