// Linux layer of the crash handler. Everything the handler needs is prepared by
// install(); inside the handler only system calls run: no allocation, no lock,
// no stdio and no Qt.
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include <QFile>
#include <QFileInfo>

#include "constants.h"
#include "crashhandler.h"

extern char** environ;

namespace {

struct FatalSignal {
  int number;
  const char* name;
};
constexpr FatalSignal kFatalSignals[] = {
    {SIGSEGV, "SIGSEGV"}, {SIGBUS, "SIGBUS"},   {SIGILL, "SIGILL"},
    {SIGFPE, "SIGFPE"},   {SIGABRT, "SIGABRT"},
};
constexpr int kFatalSignalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];

struct ZoneTransition {
  std::time_t start;
  long offset;
};
constexpr int kMaxTransitions = 24;
ZoneTransition g_zone[kMaxTransitions];
int g_zoneCount = 0;

// Room for the handler even when the crash is a stack overflow of the main thread.
constexpr std::size_t kAltStackSize = 256 * 1024;
alignas(16) char g_altStack[kAltStackSize];

char g_messageProgram[PATH_MAX];
char g_version[32];
struct sigaction g_ourAction;
bool g_installed = false;
std::atomic<long> g_handlingThread{0};

// What the message process gets: the environment of the moment plus the dump path.
constexpr int kMaxEnvironment = 1024;
char* g_childEnvironment[kMaxEnvironment + 2];
char g_messageEntry[PATH_MAX + 64];

char g_directory[PATH_MAX];
// Set by install() for an installed program; empty: the working directory at the crash.
char g_fixedDirectory[PATH_MAX];
char g_dumpPath[PATH_MAX + 64];

const char* signalName(int number) {
  for (const FatalSignal& s : kFatalSignals)
    if (s.number == number) return s.name;
  return "signal";
}

// Buffered writes to one descriptor. The report is best effort: a failed write
// drops the rest silently.
class Writer {
 public:
  explicit Writer(int fd) : m_fd(fd) {}
  ~Writer() { flush(); }
  Writer& put(const char* text) {
    while (*text != '\0') {
      if (m_used == sizeof m_buffer) flush();
      m_buffer[m_used++] = *text++;
    }
    return *this;
  }
  Writer& dec(long long value) {
    char digits[24];
    int n = 0;
    unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    do {
      digits[n++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    char text[26];
    int t = 0;
    if (value < 0) text[t++] = '-';
    while (n > 0) text[t++] = digits[--n];
    text[t] = '\0';
    return put(text);
  }
  Writer& hex(unsigned long long value) {
    char text[20] = "0x";
    int n = 2;
    for (int shift = 60; shift >= 0; shift -= 4) {
      const unsigned nibble = (value >> shift) & 0xF;
      if (n == 2 && nibble == 0 && shift != 0) continue;
      text[n++] = "0123456789abcdef"[nibble];
    }
    text[n] = '\0';
    return put(text);
  }
  void flush() {
    writeAll(m_buffer, m_used);
    m_used = 0;
  }
  void writeAll(const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = write(m_fd, data + done, size - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }
  int fd() const { return m_fd; }

 private:
  int m_fd;
  char m_buffer[1024];
  std::size_t m_used = 0;
};

void copyFile(const char* path, Writer& out) {
  const int in = open(path, O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    out.put("(unreadable)\n");
    return;
  }
  out.flush();
  char chunk[4096];
  ssize_t n;
  while ((n = read(in, chunk, sizeof chunk)) > 0) out.writeAll(chunk, static_cast<std::size_t>(n));
  close(in);
}

void appendText(char* out, std::size_t size, const char* text) {
  const std::size_t used = std::strlen(out);
  std::size_t i = 0;
  while (text[i] != '\0' && used + i + 1 < size) {
    out[used + i] = text[i];
    ++i;
  }
  out[used + i] = '\0';
}

unsigned long long instructionPointer(void* context) {
  if (context == nullptr) return 0;
  const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
  return static_cast<unsigned long long>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  return static_cast<unsigned long long>(uc->uc_mcontext.pc);
#else
  (void)uc;
  return 0;
#endif
}

void writeReport(int fd, int number, const siginfo_t* info, void* context, long thread,
                 const char* stamp) {
  Writer out(fd);
  out.put("Stelvox crash report\n");
  out.put("Version: ").put(g_version).put("\n");
  out.put("Time: ").put(stamp).put("\n");
  out.put("Signal: ").dec(number).put(" (").put(signalName(number)).put("), code ");
  out.dec(info != nullptr ? info->si_code : 0).put("\n");
  if (info != nullptr && info->si_code <= 0) {
    out.put("Sent by process: ").dec(info->si_pid).put("\n");
  } else if (info != nullptr) {
    out.put("Fault address: ").hex(reinterpret_cast<unsigned long long>(info->si_addr)).put("\n");
  }
  out.put("Instruction pointer: ").hex(instructionPointer(context)).put("\n");
  out.put("Process: ").dec(getpid()).put("\n");
  out.put("Thread: ").dec(thread).put(" (");
  char commPath[64] = "/proc/self/task/";
  {
    char digits[24];
    int n = 0;
    long t = thread;
    do {
      digits[n++] = static_cast<char>('0' + t % 10);
      t /= 10;
    } while (t != 0 && n < 23);
    char number[24];
    for (int i = 0; i < n; ++i) number[i] = digits[n - 1 - i];
    number[n] = '\0';
    appendText(commPath, sizeof commPath, number);
    appendText(commPath, sizeof commPath, "/comm");
  }
  char name[32] = {};
  const int comm = open(commPath, O_RDONLY | O_CLOEXEC);
  if (comm >= 0) {
    const ssize_t n = read(comm, name, sizeof name - 1);
    if (n > 0 && name[n - 1] == '\n') name[n - 1] = '\0';
    close(comm);
  }
  out.put(name).put(")\n\nBacktrace:\n");
  out.flush();
  void* frames[64];
  const int depth = backtrace(frames, 64);
  backtrace_symbols_fd(frames, depth, fd);
  out.put("\nMemory map:\n");
  copyFile("/proc/self/maps", out);
}

void closeInheritedFiles() {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 3U, ~0U, 0U) == 0) return;
#endif
  struct rlimit limit;
  rlim_t highest = 1024;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    highest = limit.rlim_cur < 65536 ? limit.rlim_cur : 65536;
  for (rlim_t fd = 3; fd < highest; ++fd) close(static_cast<int>(fd));
}

// Starts the message process. A raw clone instead of fork(): fork runs the C
// library's fork handlers, which take locks (malloc's among them) that the
// crashed thread may hold.
void startMessageProcess() {
  if (g_messageProgram[0] == '\0') return;
  g_messageEntry[0] = '\0';
  appendText(g_messageEntry, sizeof g_messageEntry, CrashHandler::kMessageVariable);
  appendText(g_messageEntry, sizeof g_messageEntry, "=");
  appendText(g_messageEntry, sizeof g_messageEntry, g_dumpPath);
  const std::size_t prefix = std::strlen(CrashHandler::kMessageVariable);
  int count = 0;
  for (char** entry = environ; entry != nullptr && *entry != nullptr && count < kMaxEnvironment;
       ++entry) {
    if (std::strncmp(*entry, CrashHandler::kMessageVariable, prefix) == 0 &&
        (*entry)[prefix] == '=')
      continue;
    g_childEnvironment[count++] = *entry;
  }
  g_childEnvironment[count++] = g_messageEntry;
  g_childEnvironment[count] = nullptr;

  const long child = syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0);
  if (child != 0) return;
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  closeInheritedFiles();
  char* argv[] = {g_messageProgram, nullptr};
  execve(g_messageProgram, argv, g_childEnvironment);
  _exit(127);
}

void endWithSignal(int number) {
  struct sigaction fallback;
  std::memset(&fallback, 0, sizeof fallback);
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(number, &fallback, nullptr);
  // Pending until the handler returns; then the default action ends the process
  // with this signal. A hardware fault would recur anyway, a sent one would not.
  raise(number);
}

void onFatalSignal(int number, siginfo_t* info, void* context) {
  const long thread = syscall(SYS_gettid);
  long expected = 0;
  if (!g_handlingThread.compare_exchange_strong(expected, thread)) {
    if (expected == thread) {  // The handler itself failed: give up quietly.
      endWithSignal(number);
      return;
    }
    for (;;) pause();  // Another thread is reporting; it ends the process.
  }
  const int savedErrno = errno;

  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const long long local =
      static_cast<long long>(now.tv_sec) + CrashHandler::utcOffsetAt(now.tv_sec);
  char stamp[15];
  CrashHandler::formatStamp(local, stamp);

  if (g_fixedDirectory[0] != '\0')
    std::memcpy(g_directory, g_fixedDirectory, sizeof g_directory);
  else if (syscall(SYS_getcwd, g_directory, sizeof g_directory) <= 0)
    std::strcpy(g_directory, ".");
  if (!CrashHandler::dumpFilePath(g_directory, local, g_dumpPath, sizeof g_dumpPath))
    CrashHandler::dumpFilePath(".", local, g_dumpPath, sizeof g_dumpPath);

  char folder[sizeof g_dumpPath];
  std::memcpy(folder, g_dumpPath, sizeof folder);
  *std::strrchr(folder, '/') = '\0';
  // The state folder may not exist yet; its levels are private to the user.
  if (g_fixedDirectory[0] != '\0') {
    for (char* slash = std::strchr(folder + 1, '/'); slash != nullptr;
         slash = std::strchr(slash + 1, '/')) {
      *slash = '\0';
      mkdir(folder, 0700);
      *slash = '/';
    }
  }
  mkdir(folder, 0755);
  const int fd = open(g_dumpPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  {
    Writer err(STDERR_FILENO);
    err.put("Stelvox ended by ").put(signalName(number)).put("; ");
    err.put(fd >= 0 ? "crash report: " : "could not write the crash report ").put(g_dumpPath);
    err.put("\n");
  }
  if (fd >= 0) {
    writeReport(fd, number, info, context, thread, stamp);
    fsync(fd);
    close(fd);
  }
  startMessageProcess();
  errno = savedErrno;
  endWithSignal(number);
}

long offsetOf(std::time_t t) {
  struct tm parts;
  if (localtime_r(&t, &parts) == nullptr) return 0;
  return parts.tm_gmtoff;
}

}  // namespace

namespace COMMON::platform {

void prepareLocalTime(std::time_t from) {
  tzset();
  g_zoneCount = 0;
  long previous = offsetOf(from);
  g_zone[g_zoneCount++] = {from, previous};
  constexpr std::time_t kDay = 86400;
  for (int day = 1; day <= 400 && g_zoneCount < kMaxTransitions; ++day) {
    const std::time_t t = from + day * kDay;
    const long offset = offsetOf(t);
    if (offset == previous) continue;
    std::time_t before = t - kDay, after = t;  // before has the old offset, after the new
    while (after - before > 1) {
      const std::time_t middle = before + (after - before) / 2;
      (offsetOf(middle) == previous ? before : after) = middle;
    }
    g_zone[g_zoneCount++] = {after, offset};
    previous = offset;
  }
}

long utcOffsetAt(std::time_t utc) {
  if (g_zoneCount == 0) return 0;
  long offset = g_zone[0].offset;
  for (int i = 1; i < g_zoneCount && utc >= g_zone[i].start; ++i) offset = g_zone[i].offset;
  return offset;
}

bool installCrashHandlers(const char* messageProgram, const char* programFolder) {
  prepareLocalTime(std::time(nullptr));

  char executable[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", executable, sizeof executable - 1);
  executable[length > 0 ? length : 0] = '\0';
  g_messageProgram[0] = '\0';
  appendText(g_messageProgram, sizeof g_messageProgram,
             messageProgram != nullptr ? messageProgram : executable);

  const QString folder = programFolder != nullptr
                             ? QString::fromLocal8Bit(programFolder)
                             : QFileInfo(QString::fromLocal8Bit(executable)).absolutePath();
  g_fixedDirectory[0] = '\0';
  appendText(g_fixedDirectory, sizeof g_fixedDirectory,
             QFile::encodeName(CrashHandler::dumpParentFolder(folder)).constData());
  g_version[0] = '\0';
  appendText(g_version, sizeof g_version, COMMON::kProgramVersion.toLatin1().constData());

  // The first backtrace() loads the unwinder; do that now, not in the handler.
  void* warmUp[4];
  backtrace(warmUp, 4);

  stack_t stack;
  std::memset(&stack, 0, sizeof stack);
  stack.ss_sp = g_altStack;
  stack.ss_size = kAltStackSize;
  bool ok = sigaltstack(&stack, nullptr) == 0;

  std::memset(&g_ourAction, 0, sizeof g_ourAction);
  g_ourAction.sa_sigaction = onFatalSignal;
  g_ourAction.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigfillset(&g_ourAction.sa_mask);
  for (const FatalSignal& s : kFatalSignals)
    ok = sigaction(s.number, &g_ourAction, nullptr) == 0 && ok;
  g_installed = true;
  return ok;
}

QStringList reassertCrashHandlers() {
  QStringList taken;
  if (!g_installed) return taken;
  for (const FatalSignal& s : kFatalSignals) {
    struct sigaction current;
    if (sigaction(s.number, nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == onFatalSignal) continue;
    if (sigaction(s.number, &g_ourAction, nullptr) == 0) taken << QString::fromLatin1(s.name);
  }
  return taken;
}

}  // namespace COMMON::platform
