// Linux layer of the single-instance channel: the name becomes a socket in the
// user's runtime folder, so each user session has its own instance and a stale
// name of another user can never block this one.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>

#include "qsingleapplication.h"

namespace {
int g_requestPipe[2] = {-1, -1};
volatile sig_atomic_t g_quitRequested = 0;

void onTerminationSignal(int number) {
  if (g_quitRequested) {
    signal(number, SIG_DFL);
    raise(number);
    return;
  }
  g_quitRequested = 1;
  const int savedErrno = errno;
  const char byte = static_cast<char>(number);
  if (write(g_requestPipe[1], &byte, 1) < 0) {
    // The pipe is full only if a request is pending already.
  }
  errno = savedErrno;
}
}  // namespace

namespace COMMON::platform {

void onTerminationRequest(QObject* receiver, std::function<void(int)> handler) {
  if (g_requestPipe[0] >= 0) return;
  if (pipe2(g_requestPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(g_requestPipe[0], QSocketNotifier::Read, receiver);
  QObject::connect(notifier, &QSocketNotifier::activated, receiver,
                   [handler = std::move(handler)]() {
                     char byte = 0;
                     int number = 0;
                     while (read(g_requestPipe[0], &byte, 1) > 0) number = byte;
                     handler(number);
                   });

  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : {SIGTERM, SIGINT, SIGHUP}) {
    struct sigaction current;
    // Keep a signal ignored when whoever started us asked for that (nohup).
    if (sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaction(number, &action, nullptr);
  }
}

QString localServerAddress(const QString& serverName) {
  const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtimeDir.isEmpty() && QDir::isAbsolutePath(runtimeDir)) {
    const QFileInfo info(runtimeDir);
    if (info.isDir() && info.isWritable()) return QDir(runtimeDir).filePath(serverName);
  }
  // Without a runtime folder Qt places the name in the temporary folder.
  return serverName;
}

}  // namespace COMMON::platform
