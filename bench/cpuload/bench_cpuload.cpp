// What the CPU-usage helper costs: the work behind one output line, and the real
// helper's own CPU time per line as the kernel accounts it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "cpuload.h"

extern char** environ;

// Parsing a real /proc/stat text.
static void BM_ParseProcStat(benchmark::State& state) {
  char text[4096];
  const int fd = open("/proc/stat", O_RDONLY);
  const ssize_t length = fd >= 0 ? read(fd, text, sizeof text) : -1;
  if (fd >= 0) close(fd);
  if (length <= 0) {
    state.SkipWithError("/proc/stat cannot be read");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        pelmora::sys::parseCpuTotal(std::string_view(text, static_cast<size_t>(length))));
  }
}
BENCHMARK(BM_ParseProcStat);

// Everything the helper does for one line: read /proc/stat, compute the share, take
// the local time, format and write the line.
static void BM_OneLine(benchmark::State& state) {
  const int out = open("/dev/null", O_WRONLY);
  cpuload::CpuTimes previous = cpuload::readProcStat("/proc/stat").value_or(cpuload::CpuTimes());
  for (auto _ : state) {
    const cpuload::CpuTimes current =
        cpuload::readProcStat("/proc/stat").value_or(cpuload::CpuTimes());
    timespec wall{};
    clock_gettime(CLOCK_REALTIME, &wall);
    std::tm local{};
    localtime_r(&wall.tv_sec, &local);
    char line[96];
    const size_t length =
        cpuload::sampleLine(line, sizeof line, local, static_cast<int>(wall.tv_nsec / 1000000),
                            cpuload::busyPercent(previous, current));
    cpuload::writeAll(out, line, length);
    previous = current;
  }
  close(out);
}
BENCHMARK(BM_OneLine);

// The real helper for kLines lines (about one a second): its user plus system time
// from the kernel, start-up included, divided by the lines it wrote. Reported as the
// counters cpu_us_per_line and cpu_share_percent (of one processor).
static void BM_HelperProcess(benchmark::State& state) {
  constexpr int kLines = 10;
  for (auto _ : state) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
      state.SkipWithError("pipe failed");
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    char program[] = STELVOX_CPULOAD_BINARY;
    char counter[] = "\\Processor(_Total)\\% Processor Time";
    char* argv[] = {program, counter, nullptr};
    pid_t pid = 0;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
      close(pipeFds[0]);
      state.SkipWithError("cannot start the helper");
      return;
    }
    int lines = -1;  // the header is not a sample
    char buffer[512];
    while (lines < kLines) {
      const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t i = 0; i < n; ++i) lines += buffer[i] == '\n';
    }
    close(pipeFds[0]);  // the helper notices and ends by itself
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    const double cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
                              usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    const double wallSeconds = (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9;
    state.SetIterationTime(wallSeconds);
    state.counters["lines"] = lines;
    state.counters["cpu_us_per_line"] = lines > 0 ? cpuSeconds * 1e6 / lines : 0;
    state.counters["cpu_share_percent"] = 100.0 * cpuSeconds / wallSeconds;
    state.counters["ended_by_itself"] = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
}
BENCHMARK(BM_HelperProcess)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
