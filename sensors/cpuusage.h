// The CPU-usage helper process and the parser of its output. The helper writes
// comma-separated lines whose last field is the total CPU busy percentage; the sampler
// keeps it running and publishes the last value read.
#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <optional>

namespace sensors::platform {
// A started child: its id and our ends of the pipes on its standard input and output.
struct ChildProcess {
  qint64 pid = 0;
  qintptr handle = -1;  // where the system names a process by a handle rather than its id
  qintptr input = -1;
  qintptr output = -1;
};
// Starts `program` with pipes on its standard input and output; its standard error is
// ours. False when it could not be started.
bool startChild(const QString& program, const QStringList& arguments, ChildProcess* child);
// Appends what the child wrote to `into`, without waiting.
void readChild(const ChildProcess& child, QByteArray* into);
// True while it runs; an ended child is reaped and its pipes closed.
bool childRunning(ChildProcess* child);
// Ends and reaps it (waiting briefly) and closes the pipes.
void endChild(ChildProcess* child);
}  // namespace sensors::platform

namespace cpuusage {

// A sequential device over bytes handed in with feed(): only what was fed can be read,
// in order. The helper's output is read through it.
class FeedDevice : public QIODevice {
  Q_OBJECT

 public:
  explicit FeedDevice(QObject* parent = nullptr) : QIODevice(parent) {}
  void feed(const QByteArray& bytes) { m_pending += bytes; }

  bool isSequential() const override { return true; }
  qint64 bytesAvailable() const override { return m_pending.size() + QIODevice::bytesAvailable(); }
  bool canReadLine() const override { return m_pending.contains('\n') || QIODevice::canReadLine(); }
  void close() override;

 protected:
  qint64 readData(char* data, qint64 maxSize) override;
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  QByteArray m_pending;
};

// The helper as a child process whose output is read when the sampler asks for it. A
// QProcess would watch the pipe and wake the program for every line, once a second,
// although only the line before each pass counts.
class HelperProcess : public FeedDevice {
  Q_OBJECT

 public:
  explicit HelperProcess(QObject* parent = nullptr) : FeedDevice(parent) {}
  ~HelperProcess() override { close(); }

  // Starts `program` unless it runs; opens the device for reading and writing.
  void start(const QString& program, const QStringList& arguments);
  bool isRunning();
  qint64 processId() const { return m_child.pid; }
  QString program() const { return m_program; }
  QStringList arguments() const { return m_arguments; }
  // Takes in what the helper wrote since the last call, without waiting.
  void fetch();
  // Ends the helper and closes the device.
  void close() override;

 private:
  sensors::platform::ChildProcess m_child;
  QString m_program;
  QStringList m_arguments;
};

// Starts the helper on `process` when it is not running. Never blocks: a helper that
// is missing or fails shows as a process that is not running, tried again next time.
void startProcess(HelperProcess& process);

// Reads every complete line pending on `device`; returns the value to publish, or
// nothing when the current text must stay.
std::optional<int> readRate(QIODevice& device);

// The value one line carries: its last comma-separated field, without quotes and line
// ends, if that has 1 to 9 characters and reads as a number, rounded halves away from
// zero. Values far outside 0..100 come back as -1 or 101. Nothing for lines that are
// passed over (the header, blank lines, anything else).
std::optional<int> parseLine(const QByteArray& line);

// The counter the helper is asked for, by the rule of the system's version text: a
// major version of 10 or more gets the utility counter.
QString counterPath(const QString& versionText);

// Where the helper is started from: beside the running program unless set otherwise
// (tests, a build tree); an empty path restores that default.
QString helperPath();
void setHelperPath(const QString& path);

}  // namespace cpuusage

namespace sensors::platform {
// The version text the counter rule reads on this platform.
QString systemVersionText();
}  // namespace sensors::platform
