// A small program that installs the crash handler and then fails in the way its
// argument names. Started with the message variable set, it stands in for the
// message process: it records the dump path it was given and ends.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "crashhandler.h"

namespace {

// Through a volatile so the compiler cannot see the address in advance.
volatile std::uintptr_t g_badAddress = 16;
volatile bool g_keepGoing = true;

__attribute__((no_sanitize("address", "undefined"), noinline)) void writeToBadAddress() {
  *reinterpret_cast<volatile int*>(g_badAddress) = 1;
}

__attribute__((no_sanitize("address", "undefined"), noinline)) int recurseForever(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (!g_keepGoing) return frame[0];
  return recurseForever(depth + 1) + frame[0];
}

void foreignHandler(int) { _exit(3); }

}  // namespace

int main(int argc, char* argv[]) {
  if (const char* dump = std::getenv(CrashHandler::kMessageVariable)) {
    const char* record = std::getenv("CRASH_PROBE_RECORD");
    if (record == nullptr) return 2;
    FILE* out = std::fopen(record, "a");
    if (out == nullptr) return 2;
    std::fprintf(out, "message %s\n", dump);
    std::fclose(out);
    return 0;
  }

  CrashHandler::install(nullptr, std::getenv("CRASH_PROBE_PROGRAM_FOLDER"));
  const char* mode = argc > 1 ? argv[1] : "wait";
  if (std::strcmp(mode, "segv") == 0) writeToBadAddress();
  if (std::strcmp(mode, "abort") == 0) std::abort();
  if (std::strcmp(mode, "overflow") == 0) return recurseForever(0);
  if (std::strcmp(mode, "thread") == 0) {
    std::thread worker([]() {
      pthread_setname_np(pthread_self(), "crasher");
      writeToBadAddress();
    });
    worker.join();
  }
  if (std::strcmp(mode, "displace") == 0) {
    signal(SIGSEGV, foreignHandler);
    const QStringList first = CrashHandler::reassert();
    const QStringList second = CrashHandler::reassert();
    std::printf("reasserted %s|%s\n", qPrintable(first.join(',')), qPrintable(second.join(',')));
    std::fflush(stdout);
    writeToBadAddress();
  }
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) pause();
}
