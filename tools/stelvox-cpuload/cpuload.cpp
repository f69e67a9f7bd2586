#include "cpuload.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace cpuload {

namespace {

// Parses one unsigned decimal field; leaves `*p` after it.
bool nextField(const char** p, const char* end, std::uint64_t* value) {
  const char* s = *p;
  while (s < end && (*s == ' ' || *s == '\t')) ++s;
  if (s >= end || *s < '0' || *s > '9') return false;
  std::uint64_t v = 0;
  while (s < end && *s >= '0' && *s <= '9') {
    const std::uint64_t digit = static_cast<std::uint64_t>(*s - '0');
    if (v > (UINT64_MAX - digit) / 10) return false;
    v = v * 10 + digit;
    ++s;
  }
  *p = s;
  *value = v;
  return true;
}

}  // namespace

bool parseProcStat(const char* text, std::size_t length, CpuTimes* times) {
  const char* end = text + length;
  const char* line = text;
  // The aggregate line comes first on every kernel, but look for it rather than trust that.
  while (line < end) {
    const char* lineEnd = static_cast<const char*>(std::memchr(line, '\n', end - line));
    if (!lineEnd) lineEnd = end;
    if (lineEnd - line > 4 && std::memcmp(line, "cpu ", 4) == 0) {
      // user nice system idle [iowait irq softirq steal [guest [guest_nice]]]
      std::uint64_t field[10] = {};
      const char* p = line + 4;
      int count = 0;
      while (count < 10 && nextField(&p, lineEnd, &field[count])) ++count;
      if (count < 4) return false;
      std::uint64_t total = 0;
      for (int i = 0; i < 8 && i < count; ++i) total += field[i];
      times->idle = field[3] + field[4];
      times->total = total;
      return true;
    }
    line = lineEnd + 1;
  }
  return false;
}

double busyPercent(const CpuTimes& previous, const CpuTimes& current) {
  if (current.total <= previous.total) return 0.0;
  const double elapsed = static_cast<double>(current.total - previous.total);
  const double idle =
      current.idle >= previous.idle ? static_cast<double>(current.idle - previous.idle) : 0.0;
  if (idle >= elapsed) return 0.0;
  return 100.0 * (elapsed - idle) / elapsed;
}

std::string headerLine(const std::string& host, const std::string& counter) {
  const auto quoted = [](const std::string& text) {
    std::string out;
    for (char c : text) {
      if (c == '"')
        out += "\"\"";
      else if (c == '\r' || c == '\n')
        out += ' ';
      else
        out += c;
    }
    return out;
  };
  // Counter paths start with a backslash; the machine name goes in front of it.
  std::string path = "\\\\" + quoted(host);
  if (counter.empty() || counter[0] != '\\') path += '\\';
  path += quoted(counter);
  return "\"(PDH-CSV 4.0)\",\"" + path + "\"\n";
}

std::size_t sampleLine(char* buffer, std::size_t size, const std::tm& t, int millis,
                       double percent) {
  if (!(percent >= 0.0)) percent = 0.0;  // also NaN
  if (percent > 100.0) percent = 100.0;
  const int n =
      std::snprintf(buffer, size, "\"%02d/%02d/%04d %02d:%02d:%02d.%03d\",\"%.6f\"\n", t.tm_mon + 1,
                    t.tm_mday, t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec, millis, percent);
  if (n < 0 || static_cast<std::size_t>(n) >= size) return 0;
  return static_cast<std::size_t>(n);
}

bool readProcStat(const std::string& path, CpuTimes* times) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // The aggregate line is the first one; a page holds it with room to spare.
  char buffer[4096];
  std::size_t length = 0;
  while (length < sizeof buffer) {
    const ssize_t n = ::read(fd, buffer + length, sizeof buffer - length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    length += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return parseProcStat(buffer, length, times);
}

bool writeAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace cpuload
