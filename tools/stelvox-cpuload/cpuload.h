// The pieces of the CPU-usage helper that need no process around them: reading the
// aggregate CPU times out of a /proc/stat text and writing the CSV lines the program
// parses. Plain C++ so that the helper stays small and cheap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace cpuload {

// Aggregate CPU time of the machine, in the kernel's clock ticks.
struct CpuTimes {
  std::uint64_t idle = 0;   // idle + iowait: time no task was running
  std::uint64_t total = 0;  // every field that makes up wall time
};

// Finds the "cpu " line in a /proc/stat text of `length` bytes and sums its fields.
// Accepts the four fields of the oldest kernels up to the ten of current ones; guest
// times are already part of user and nice and are not counted twice. Returns false for
// a missing, truncated or non-numeric line.
bool parseProcStat(const char* text, std::size_t length, CpuTimes* times);

// Share of busy time between two readings in percent, 0 to 100. Counters that stand
// still or run backwards (a CPU going offline, the kernel's iowait accounting) give
// 0 rather than a negative or inflated figure.
double busyPercent(const CpuTimes& previous, const CpuTimes& current);

// `"(PDH-CSV 4.0)","\\<host>\<counter>"` and a line feed. Quotes in the counter are
// doubled and line breaks replaced, so the header stays one CSV line.
std::string headerLine(const std::string& host, const std::string& counter);

// `"MM/dd/yyyy hh:mm:ss.zzz","<percent with six decimals>"` and a line feed, the time
// taken as local time. Writes into `buffer` and returns the length, 0 if it does not fit.
std::size_t sampleLine(char* buffer, std::size_t size, const std::tm& localTime, int millis,
                       double percent);

// Reads the file at `path` (a /proc/stat) and parses it. False when it cannot be read.
bool readProcStat(const std::string& path, CpuTimes* times);

// Writes all of `length` bytes to `fd`, retrying short writes and interruptions.
bool writeAll(int fd, const char* data, std::size_t length);

}  // namespace cpuload
