#include "cpuusage.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QIODevice>
#include <QVariant>
#include <atomic>
#include <cmath>
#include <cstring>

#include "rslogger.h"

namespace cpuusage {

namespace {

const char kFunction[] = "HardwareInfoReader::onReadCPURate";
const char kHelperName[] = "stelvox-cpuload";

// A line that grows past this without a line feed is no value line; it is dropped
// so that a runaway writer cannot make the program hold its output forever.
constexpr qint64 kMaxPendingLine = 64 * 1024;
// Marks a device whose current line was dropped unfinished: its tail is skipped too.
const char kSkipLineProperty[] = "cpuusageSkipLine";
// A misbehaving helper would otherwise write one log line a second.
constexpr int kMaxLoggedBadLines = 5;
std::atomic<int> g_loggedBadLines{0};

QString& helperPathOverride() {
  static QString path;
  return path;
}

void logBadInput(const QString& message) {
  if (g_loggedBadLines.fetch_add(1) >= kMaxLoggedBadLines) return;
  RSLogger::instance()->writeLog(RSLogger::LevelWarning, message, kFunction);
}

}  // namespace

QString counterPath(const QString& versionText) {
  bool ok = false;
  int major = versionText.left(2).toInt(&ok, 10);
  if (!ok) major = 0;
  return major >= 10 ? QStringLiteral("\\Processor Information(_Total)\\% Processor Utility")
                     : QStringLiteral("\\Processor(_Total)\\% Processor Time");
}

QString helperPath() {
  const QString& path = helperPathOverride();
  if (!path.isEmpty()) return path;
  return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(kHelperName);
}

void setHelperPath(const QString& path) { helperPathOverride() = path; }

void FeedDevice::close() {
  m_pending.clear();
  QIODevice::close();
}

qint64 FeedDevice::readData(char* data, qint64 maxSize) {
  const qint64 n = qMin<qint64>(maxSize, m_pending.size());
  memcpy(data, m_pending.constData(), size_t(n));
  m_pending.remove(0, int(n));
  return n;
}

void HelperProcess::start(const QString& program, const QStringList& arguments) {
  if (isRunning()) return;
  close();
  m_program = program;
  m_arguments = arguments;
  if (sensors::platform::startChild(program, arguments, &m_child)) open(QIODevice::ReadWrite);
}

bool HelperProcess::isRunning() { return m_child.pid && sensors::platform::childRunning(&m_child); }

void HelperProcess::fetch() {
  if (!m_child.pid) return;
  QByteArray output;
  sensors::platform::readChild(m_child, &output);
  feed(output);
}

void HelperProcess::close() {
  sensors::platform::endChild(&m_child);
  FeedDevice::close();
}

void startProcess(HelperProcess& process) {
  if (process.isRunning()) return;
  // Whatever it wrote before it ended was read by the pass; its standard error is ours,
  // so that the rare complaint is not collected in a buffer nobody empties.
  process.start(helperPath(), {counterPath(sensors::platform::systemVersionText())});
}

std::optional<int> parseLine(const QByteArray& line) {
  const int nul = line.indexOf('\0');
  const QByteArray text = nul >= 0 ? line.left(nul) : line;
  QString field = QString::fromLatin1(text.mid(text.lastIndexOf(',') + 1));
  field.remove(QLatin1Char('\r')).remove(QLatin1Char('\n')).remove(QLatin1Char('"'));
  if (field.size() < 1 || field.size() > 9) return std::nullopt;

  bool ok = false;
  const float value = field.toFloat(&ok);
  if (!ok || !std::isfinite(value)) {
    logBadInput(QStringLiteral("Ignored a CPU usage value that is no number: \"%1\"").arg(field));
    return std::nullopt;
  }
  const float rounded = std::round(value);  // halves away from zero
  if (rounded < 0.0f) return -1;
  if (rounded > 100.0f) return 101;
  return static_cast<int>(rounded);
}

std::optional<int> readRate(QIODevice& device) {
  if (!device.isReadable()) return std::nullopt;

  std::optional<int> value;
  bool skipping = device.property(kSkipLineProperty).toBool();
  // Only complete lines count: half a line would read as a different number.
  while (device.canReadLine()) {
    const QByteArray line = device.readLine();
    if (skipping) {
      skipping = false;
      continue;
    }
    if (const std::optional<int> lineValue = parseLine(line)) value = lineValue;
  }
  if (device.bytesAvailable() > kMaxPendingLine) {
    const qint64 dropped = device.skip(device.bytesAvailable());
    skipping = true;
    logBadInput(
        QStringLiteral("Dropped %1 bytes of CPU usage output without a line end.").arg(dropped));
  }
  device.setProperty(kSkipLineProperty, skipping);

  // The last line with a value decides; if that one is out of range, nothing changes.
  if (!value || *value < 0 || *value > 100) return std::nullopt;
  return value;
}

}  // namespace cpuusage
