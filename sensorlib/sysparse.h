// Parsers for the kernel's text files, kept free of I/O so tests feed them bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelmora::sys {

// Strips surrounding blanks and line ends.
std::string_view trim(std::string_view text);

// A whole sysfs value: optional sign, decimal digits, optional trailing blanks or
// newline. Anything else (empty, garbage, overflow) gives nothing.
std::optional<long long> parseInteger(std::string_view text);

// Cumulative times of one line of /proc/stat, in clock ticks.
struct CpuTimes {
  int cpu = -1;  // -1 for the "cpu" total line, else the logical processor number
  std::uint64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0,
                steal = 0;
  // All time. Guest time is already part of user and nice, so it is not added.
  std::uint64_t total() const {
    return user + nice + system + idle + iowait + irq + softirq + steal;
  }
  std::uint64_t idleTotal() const { return idle + iowait; }
};

// One "cpu" or "cpuN" line of /proc/stat: the label and four to ten counters (kernels
// before 2.6.11 wrote four). Nothing for any other or a malformed line.
std::optional<CpuTimes> parseCpuLine(std::string_view line);
// The "cpu" and "cpuN" lines of /proc/stat, in file order; malformed lines are left out.
std::vector<CpuTimes> parseProcStat(std::string_view text);
// The "cpu" total line alone, wherever it stands; nothing when it is missing or
// malformed. Allocates nothing, for the CPU-usage helper's once-a-second read.
std::optional<CpuTimes> parseCpuTotal(std::string_view text);

// Busy share in percent between two snapshots of one line: (total - idle - iowait) /
// total over the interval. Nothing when no time passed or the counters went back.
std::optional<double> cpuLoadPercent(const CpuTimes& before, const CpuTimes& after);

// The processor's model name from /proc/cpuinfo ("model name", or the fields other
// architectures use), with runs of blanks collapsed; empty when there is none.
std::string cpuModelName(std::string_view cpuinfo);

// Value of "KEY=" in a uevent file; empty when absent.
std::string ueventValue(std::string_view uevent, std::string_view key);

// The number in a "hwmonN", "temp3_input"... style name after `prefix`; -1 when the
// name has another form. `suffix` must follow the digits exactly.
int numberedName(std::string_view name, std::string_view prefix, std::string_view suffix);

}  // namespace pelmora::sys
