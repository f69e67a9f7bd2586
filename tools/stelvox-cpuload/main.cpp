// stelvox-cpuload: reports the machine's total CPU busy share once a second as CSV
// lines on standard output, for the program that starts it. It lives only as long as
// that program: it ends when its parent ends (also when the parent is killed), when
// the pipe on its standard input loses its writer and when nobody reads its output.
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "cpuload.h"

namespace {

constexpr long kIntervalNs = 1000L * 1000 * 1000;

timespec now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t;
}

long long nanos(const timespec& t) { return t.tv_sec * 1000000000LL + t.tv_nsec; }

// Waits until the monotonic time `deadline`. Returns false when it is time to end:
// standard output lost its reader (a pipe reports that at once as an error), or the
// standard input pipe from the parent lost its writer, which happens when the parent
// dies, even in the moment before the death signal was asked for.
bool waitUntil(long long deadline, bool watchInput) {
  for (;;) {
    const long long left = deadline - nanos(now());
    if (left <= 0) return true;
    timespec timeout{static_cast<time_t>(left / 1000000000LL),
                     static_cast<long>(left % 1000000000LL)};
    pollfd fds[2] = {{STDOUT_FILENO, 0, 0}, {STDIN_FILENO, POLLIN, 0}};
    const int ready = ppoll(fds, watchInput ? 2 : 1, &timeout, nullptr);
    if (ready < 0 && errno != EINTR) return true;  // cannot watch: fall back to write errors
    if (ready <= 0) continue;
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
    if (watchInput && fds[1].revents) {
      // Nothing is expected on it; whatever comes is read and dropped.
      char sink[256];
      const ssize_t n = read(STDIN_FILENO, sink, sizeof sink);
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return false;
    }
  }
}

// True when standard input is a pipe, as the program that starts us provides.
bool inputIsPipe() {
  struct stat info {};
  return fstat(STDIN_FILENO, &info) == 0 && S_ISFIFO(info.st_mode);
}

std::string statPath() {
  const char* root = std::getenv("HOST_PROC");
  return std::string(root && *root ? root : "/proc") + "/stat";
}

std::string hostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || !name[0]) return "localhost";
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <counter path>\n", argc > 0 ? argv[0] : "stelvox-cpuload");
    return 2;
  }

  // Die with the parent. The signal covers a parent that is killed; the check after it
  // covers a parent that was gone before the request took effect. An ignored or blocked
  // SIGTERM inherited from the parent would defeat the signal, so both are undone.
  signal(SIGTERM, SIG_DFL);
  sigset_t terminate;
  sigemptyset(&terminate);
  sigaddset(&terminate, SIGTERM);
  sigprocmask(SIG_UNBLOCK, &terminate, nullptr);
  const pid_t parent = getppid();
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) return 0;
  // A closed output shows as a failed write, which ends the loop, rather than a signal.
  signal(SIGPIPE, SIG_IGN);
  tzset();
  const bool watchInput = inputIsPipe();

  const std::string path = statPath();
  std::optional<cpuload::CpuTimes> previous = cpuload::readProcStat(path);
  if (!previous) std::fprintf(stderr, "stelvox-cpuload: cannot read %s\n", path.c_str());

  const std::string header = cpuload::headerLine(hostName(), argv[1]);
  if (!cpuload::writeAll(STDOUT_FILENO, header.data(), header.size())) return 0;

  long long deadline = nanos(now()) + kIntervalNs;
  for (;;) {
    if (!waitUntil(deadline, watchInput)) return 0;
    if (getppid() != parent) return 0;

    if (const std::optional<cpuload::CpuTimes> current = cpuload::readProcStat(path)) {
      if (previous) {
        timespec wall{};
        clock_gettime(CLOCK_REALTIME, &wall);
        std::tm local{};
        localtime_r(&wall.tv_sec, &local);
        char line[96];
        const std::size_t length =
            cpuload::sampleLine(line, sizeof line, local, static_cast<int>(wall.tv_nsec / 1000000),
                                cpuload::busyPercent(*previous, *current));
        if (length && !cpuload::writeAll(STDOUT_FILENO, line, length)) return 0;
      }
      previous = current;
    }

    // Keep to the second without drifting, but after a stall (a suspended machine)
    // start afresh instead of catching up with a burst of lines.
    deadline += kIntervalNs;
    const long long current_ns = nanos(now());
    if (deadline <= current_ns) deadline = current_ns + kIntervalNs;
  }
}
