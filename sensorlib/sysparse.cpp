#include "sysparse.h"

#include <cctype>
#include <limits>

namespace pelmora::sys {

namespace {
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::vector<std::string_view> lines(std::string_view text) {
  std::vector<std::string_view> out;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    out.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return out;
}

bool parseUnsigned(std::string_view text, std::uint64_t& out) {
  if (text.empty()) return false;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return false;
    value = value * 10 + digit;
  }
  out = value;
  return true;
}
}  // namespace

std::string_view trim(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<long long> parseInteger(std::string_view text) {
  text = trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::uint64_t magnitude = 0;
  if (!parseUnsigned(text, magnitude)) return std::nullopt;
  const auto limit = static_cast<std::uint64_t>(std::numeric_limits<long long>::max());
  if (magnitude > limit) return std::nullopt;
  const auto value = static_cast<long long>(magnitude);
  return negative ? -value : value;
}

std::optional<CpuTimes> parseCpuLine(std::string_view line) {
  if (line.substr(0, 3) != "cpu") return std::nullopt;
  // The next blank-separated field, empty at the end of the line.
  size_t pos = 0;
  const auto nextField = [&line, &pos]() {
    while (pos < line.size() && isBlank(line[pos])) ++pos;
    const size_t start = pos;
    while (pos < line.size() && !isBlank(line[pos])) ++pos;
    return line.substr(start, pos - start);
  };
  CpuTimes times;
  const std::string_view label = nextField().substr(3);
  if (!label.empty()) {
    std::uint64_t number = 0;
    if (!parseUnsigned(label, number) || number > 1u << 20) return std::nullopt;
    times.cpu = static_cast<int>(number);
  }
  // Guest and guest_nice, after these eight, are already part of user and nice.
  std::uint64_t* columns[] = {&times.user,   &times.nice, &times.system,  &times.idle,
                              &times.iowait, &times.irq,  &times.softirq, &times.steal};
  size_t count = 0;
  for (std::uint64_t* column : columns) {
    const std::string_view field = nextField();
    if (field.empty()) break;
    if (!parseUnsigned(field, *column)) return std::nullopt;
    ++count;
  }
  if (count < 4) return std::nullopt;
  return times;
}

std::vector<CpuTimes> parseProcStat(std::string_view text) {
  std::vector<CpuTimes> out;
  for (std::string_view line : lines(text))
    if (std::optional<CpuTimes> times = parseCpuLine(line)) out.push_back(*times);
  return out;
}

std::optional<CpuTimes> parseCpuTotal(std::string_view text) {
  // The total comes first on every kernel, but look for it rather than trust that.
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    if (line.size() > 3 && line.substr(0, 3) == "cpu" && isBlank(line[3]))
      return parseCpuLine(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return std::nullopt;
}

std::optional<double> cpuLoadPercent(const CpuTimes& before, const CpuTimes& after) {
  const std::uint64_t totalBefore = before.total(), totalAfter = after.total();
  if (totalAfter <= totalBefore) return std::nullopt;
  const std::uint64_t total = totalAfter - totalBefore;
  // iowait may run backwards on some kernels; an idle delta beyond the total is clamped.
  const std::uint64_t idle =
      after.idleTotal() > before.idleTotal() ? after.idleTotal() - before.idleTotal() : 0;
  const std::uint64_t busy = idle >= total ? 0 : total - idle;
  return 100.0 * static_cast<double>(busy) / static_cast<double>(total);
}

std::string cpuModelName(std::string_view cpuinfo) {
  // x86 first, then what ARM, POWER and MIPS kernels write.
  static const std::string_view kKeys[] = {"model name", "Hardware", "cpu model", "cpu",
                                           "Processor"};
  for (std::string_view key : kKeys) {
    for (std::string_view line : lines(cpuinfo)) {
      const size_t colon = line.find(':');
      if (colon == std::string_view::npos || trim(line.substr(0, colon)) != key) continue;
      std::string value;
      for (char c : trim(line.substr(colon + 1))) {
        if (isBlank(c)) {
          if (!value.empty() && value.back() != ' ') value.push_back(' ');
        } else {
          value.push_back(c);
        }
      }
      if (!value.empty()) return value;
    }
  }
  return {};
}

std::string ueventValue(std::string_view uevent, std::string_view key) {
  for (std::string_view line : lines(uevent)) {
    if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == '=')
      return std::string(trim(line.substr(key.size() + 1)));
  }
  return {};
}

int numberedName(std::string_view name, std::string_view prefix, std::string_view suffix) {
  if (name.size() <= prefix.size() + suffix.size() || name.substr(0, prefix.size()) != prefix ||
      name.substr(name.size() - suffix.size()) != suffix)
    return -1;
  const std::string_view digits =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  std::uint64_t number = 0;
  if (digits.size() > 6 || !parseUnsigned(digits, number)) return -1;
  return static_cast<int>(number);
}

}  // namespace pelmora::sys
