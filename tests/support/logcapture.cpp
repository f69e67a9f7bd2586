#include "logcapture.h"

#include <QAtomicPointer>
#include <QMutexLocker>

namespace testsupport {

namespace {
QAtomicPointer<LogCapture> g_current;
}

LogCapture::LogCapture(Echo echo) : m_echo(echo) {
  g_current.storeRelease(this);
  m_previous = qInstallMessageHandler(&LogCapture::handle);
}

LogCapture::~LogCapture() {
  qInstallMessageHandler(m_previous);
  g_current.storeRelease(nullptr);
}

QStringList LogCapture::lines() const {
  QMutexLocker lock(&m_mutex);
  return m_lines;
}

int LogCapture::count(const QString& part) const { return lines().filter(part).size(); }

void LogCapture::clear() {
  QMutexLocker lock(&m_mutex);
  m_lines.clear();
}

void LogCapture::handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  LogCapture* capture = g_current.loadAcquire();
  if (!capture) return;
  {
    QMutexLocker lock(&capture->m_mutex);
    capture->m_lines << text;
  }
  if (capture->m_echo == Echo::Forward && capture->m_previous)
    capture->m_previous(type, context, text);
}

}  // namespace testsupport
