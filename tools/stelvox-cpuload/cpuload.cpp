#include "cpuload.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace cpuload {

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

std::optional<CpuTimes> readProcStat(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
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
  return pelmora::sys::parseCpuTotal(std::string_view(buffer, length));
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
