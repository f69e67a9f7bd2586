// Collects what reaches the Qt message output (the logger mirrors every line there),
// from any thread, for as long as the capture lives.
#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace testsupport {

class LogCapture {
 public:
  // Quiet keeps the lines from the test's own output; Forward passes them on as well.
  enum class Echo { Quiet, Forward };

  explicit LogCapture(Echo echo = Echo::Quiet);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  QStringList lines() const;
  // How many lines contain `part`.
  int count(const QString& part) const;
  bool contains(const QString& part) const { return count(part) > 0; }
  void clear();

 private:
  static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text);

  mutable QMutex m_mutex;
  QStringList m_lines;
  Echo m_echo;
  QtMessageHandler m_previous = nullptr;
};

}  // namespace testsupport
