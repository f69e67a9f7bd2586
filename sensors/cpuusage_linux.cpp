// Linux has no product version in the sense the counter rule reads: a distribution's
// number (12, 22.04, 39) says nothing about the system's counters. The kernel is the
// operating system here, so its major version stands in. Both counters are served the
// same way by the helper, a time-based busy share, which "% Processor Time" names.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QSysInfo>
#include <cerrno>
#include <ctime>
#include <vector>

#include "cpuusage.h"

extern char** environ;

namespace sensors::platform {

namespace {

void closeFd(qintptr* fd) {
  if (*fd >= 0) ::close(int(*fd));
  *fd = -1;
}

void forget(ChildProcess* child) {
  closeFd(&child->input);
  closeFd(&child->output);
  child->pid = 0;
}

bool reaped(const ChildProcess& child) {
  int status = 0;
  const pid_t result = ::waitpid(pid_t(child.pid), &status, WNOHANG);
  // ECHILD: somebody else reaped it; it is gone all the same.
  return result == pid_t(child.pid) || (result < 0 && errno == ECHILD);
}

}  // namespace

QString systemVersionText() { return QSysInfo::kernelVersion().section('.', 0, 0); }

bool startChild(const QString& program, const QStringList& arguments, ChildProcess* child) {
  int input[2];
  int output[2];
  if (::pipe2(input, O_CLOEXEC) != 0) return false;
  if (::pipe2(output, O_CLOEXEC) != 0) {
    ::close(input[0]);
    ::close(input[1]);
    return false;
  }
  const QByteArray path = program.toLocal8Bit();
  std::vector<QByteArray> texts{path};
  for (const QString& argument : arguments) texts.push_back(argument.toLocal8Bit());
  std::vector<char*> argv;
  for (QByteArray& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  // The child starts with no signal blocked and the default handling of those we change.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int failed =
      ::posix_spawn(&pid, path.constData(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(input[0]);
  ::close(output[1]);
  if (failed) {
    ::close(input[1]);
    ::close(output[0]);
    return false;
  }
  ::fcntl(output[0], F_SETFL, ::fcntl(output[0], F_GETFL) | O_NONBLOCK);
  child->pid = pid;
  child->input = input[1];
  child->output = output[0];
  return true;
}

void readChild(const ChildProcess& child, QByteArray* into) {
  if (child.output < 0) return;
  char buffer[4096];
  // Bounded: a helper writing without pause must not keep the pass reading.
  for (int reads = 0; reads < 32; ++reads) {
    const ssize_t n = ::read(int(child.output), buffer, sizeof buffer);
    if (n > 0) {
      into->append(buffer, int(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;  // nothing more now, its end, or an error: the next pass tries again
    }
  }
}

bool childRunning(ChildProcess* child) {
  if (!child->pid) return false;
  if (!reaped(*child)) return true;
  forget(child);
  return false;
}

void endChild(ChildProcess* child) {
  if (!child->pid) return;
  ::kill(pid_t(child->pid), SIGKILL);
  // A killed process is gone at once unless the kernel holds it in a call; the GUI
  // thread waits for that at most 200 ms, then leaves it to be reaped at our exit.
  for (int i = 0; i < 200 && !reaped(*child); ++i) {
    const timespec millisecond{0, 1000 * 1000};
    ::nanosleep(&millisecond, nullptr);
  }
  forget(child);
}

}  // namespace sensors::platform
