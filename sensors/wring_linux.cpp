// The kernel's msr driver stands in for the register-access driver: one device per
// logical processor, /dev/cpu/<n>/msr, where a register is read as 8 bytes at the
// register's number. "Installing the driver" loads the module when its devices are
// missing; removing it unloads the module only if this program loaded it. The roots
// of /dev and /sys come from HOST_DEV and HOST_SYS when set, for tests and reports.
#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "wring.h"

namespace {

const QString kModule = QStringLiteral("msr");
// modprobe runs on the GUI thread at start and at exit; it takes milliseconds, but a
// wedged one must not hang the program.
constexpr int kLoaderTimeoutMs = 10000;

QString rootFromEnvironment(const char* variable, const char* fallback) {
  QString root = qEnvironmentVariable(variable);
  if (root.isEmpty()) root = QString::fromLatin1(fallback);
  while (root.size() > 1 && root.endsWith(QLatin1Char('/'))) root.chop(1);
  return root;
}

QString msrPath(const QString& devRoot, int processor) {
  return QStringLiteral("%1/cpu/%2/msr").arg(devRoot).arg(processor);
}

// The processors the driver tree lists, ascending.
std::vector<int> processorNumbers(const QString& devRoot) {
  std::vector<int> numbers;
  const QStringList entries =
      QDir(devRoot + QStringLiteral("/cpu")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  for (const QString& entry : entries) {
    bool ok = false;
    const int n = entry.toInt(&ok, 10);
    if (ok && n >= 0 && entry == QString::number(n)) numbers.push_back(n);
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

bool devicePresent(const QString& devRoot) {
  for (int n : processorNumbers(devRoot))
    if (QFileInfo::exists(msrPath(devRoot, n))) return true;
  return false;
}

bool moduleLoaded(const QString& sysRoot) {
  return QFileInfo(sysRoot + QStringLiteral("/module/") + kModule).isDir();
}

// Runs modprobe with `arguments`; on failure `*failure` says why in one line.
bool runModprobe(const QStringList& arguments, QString* failure) {
  // An ordinary user's PATH often lacks the sbin folders.
  QString program = QStandardPaths::findExecutable(QStringLiteral("modprobe"));
  if (program.isEmpty())
    program = QStandardPaths::findExecutable(
        QStringLiteral("modprobe"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
  const QString command = QStringLiteral("modprobe ") + arguments.join(QLatin1Char(' '));
  if (program.isEmpty()) {
    *failure = command + QStringLiteral(": modprobe not found");
    return false;
  }
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, arguments, QIODevice::ReadOnly);
  if (!process.waitForStarted(kLoaderTimeoutMs)) {
    *failure = command + QStringLiteral(": ") + process.errorString();
    return false;
  }
  if (!process.waitForFinished(kLoaderTimeoutMs)) {
    process.kill();
    process.waitForFinished(kLoaderTimeoutMs);
    *failure = command + QStringLiteral(": no answer within %1 s").arg(kLoaderTimeoutMs / 1000);
    return false;
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
    const QString output = QString::fromLocal8Bit(process.readAll()).simplified().left(200);
    *failure = command + QStringLiteral(": exit code %1").arg(process.exitCode()) +
               (output.isEmpty() ? QString() : QStringLiteral(", ") + output);
    return false;
  }
  return true;
}

}  // namespace

namespace sensors::platform {

bool prepareRegisterDriver(bool* loadedHere, QString* error) {
  const QString devRoot = rootFromEnvironment("HOST_DEV", "/dev");
  if (devicePresent(devRoot)) return true;
  QString reason;
  if (moduleLoaded(rootFromEnvironment("HOST_SYS", "/sys"))) {
    // Loading it again would change nothing; its device nodes are simply not here.
    reason = QStringLiteral("the msr module is loaded, but its devices are missing");
  } else if (runModprobe({kModule}, &reason)) {
    *loadedHere = true;
  }
  if (devicePresent(devRoot)) return true;
  if (reason.isEmpty()) reason = QStringLiteral("no devices after loading the msr module");
  *error = msrPath(devRoot, 0) + QStringLiteral(": ") + reason;
  return false;
}

void releaseRegisterDriver() {
  QString ignored;
  runModprobe({QStringLiteral("-r"), kModule}, &ignored);
}

std::vector<RegisterHandle> openProcessors(QString* error) {
  const QString devRoot = rootFromEnvironment("HOST_DEV", "/dev");
  std::vector<RegisterHandle> handles;
  int firstError = 0;
  QString firstFailedPath;
  const std::vector<int> numbers = processorNumbers(devRoot);
  if (numbers.empty()) {
    firstError = ENOENT;
    firstFailedPath = msrPath(devRoot, 0);
  }
  for (int n : numbers) {
    const QString path = msrPath(devRoot, n);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && firstFailedPath.isEmpty()) {
      firstError = errno;
      firstFailedPath = path;
    }
    handles.push_back(fd);
  }
  if (!firstFailedPath.isEmpty())
    *error = QStringLiteral("last error code: %1 (%2: %3)")
                 .arg(firstError)
                 .arg(firstFailedPath, QString::fromLocal8Bit(std::strerror(firstError)));
  return handles;
}

void closeProcessor(RegisterHandle handle) {
  if (handle >= 0) ::close(handle);
}

// Nothing when the register cannot be read (an AMD processor has no such register
// and answers EIO).
std::optional<std::uint64_t> readRegister(RegisterHandle handle, std::uint32_t reg) {
  std::uint64_t value = 0;
  if (handle >= 0 &&
      ::pread(handle, &value, sizeof value, reg) == static_cast<ssize_t>(sizeof value))
    return value;
  return std::nullopt;
}

}  // namespace sensors::platform
