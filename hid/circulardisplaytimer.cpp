#include "circulardisplaytimer.h"

#include <QMutex>
#include <QMutexLocker>
#include <QTimer>

#include "constants.h"
#include "settings.h"

namespace {

QMutex g_instanceMutex;
QAtomicPointer<CircularDisplayTimer> g_created;

// A zero or negative period would turn the timer into a busy loop; such a value can
// only come from a damaged settings file, so the default stands in for it.
int usableInterval(int nInterval) {
  return nInterval > 0 ? nInterval : COMMON::kDefaultChangeInterval;
}

}  // namespace

QSharedPointer<CircularDisplayTimer>& CircularDisplayTimer::instance() {
  static QSharedPointer<CircularDisplayTimer> s_instance;
  if (!g_created.loadAcquire()) {
    QMutexLocker lock(&g_instanceMutex);
    if (!g_created.loadRelaxed()) {
      s_instance.reset(new CircularDisplayTimer());
      g_created.storeRelease(s_instance.data());
    }
  }
  return s_instance;
}

CircularDisplayTimer::CircularDisplayTimer()
    : m_timer(new QTimer(this)),
      m_interval(usableInterval(COMMON::readIntSetting(COMMON::kKeyChangeInterval))) {
  int mask = 0;
  if (COMMON::readIntSetting(COMMON::kKeyDisplayCpuTemperature) != 0)
    mask |= DisplayItem::CPU_TEMPERATURE;
  if (COMMON::readIntSetting(COMMON::kKeyDisplayGpuTemperature) != 0)
    mask |= DisplayItem::GPU_TEMPERATURE;
  if (COMMON::readIntSetting(COMMON::kKeyDisplayFanRpm) != 0) mask |= DisplayItem::FAN_RPM;
  m_itemMask.storeRelease(mask);
  connect(m_timer, &QTimer::timeout, this, &CircularDisplayTimer::onChangeData);
}

CircularDisplayTimer::~CircularDisplayTimer() {
  if (m_timer->isActive()) m_timer->stop();
}

quint8 CircularDisplayTimer::currentItem() const {
  return static_cast<quint8>((1 << m_index.loadAcquire()) & m_itemMask.loadAcquire());
}

bool CircularDisplayTimer::isActive() const { return m_timer->isActive(); }

void CircularDisplayTimer::advance() {
  const int mask = m_itemMask.loadAcquire();
  if ((mask & 0xFF) == 0) return;
  int index = m_index.loadAcquire();
  do {
    index = (index + 1) % 8;
  } while (((1 << index) & mask) == 0);
  m_index.storeRelease(index);
}

void CircularDisplayTimer::onChangeData() {
  if (m_itemMask.loadAcquire() != 0)
    advance();
  else if (m_timer->isActive())
    m_timer->stop();
}

void CircularDisplayTimer::start() {
  onChangeData();
  if (!m_timer->isActive()) m_timer->start(m_interval);
}

void CircularDisplayTimer::stop() {
  if (m_timer->isActive()) m_timer->stop();
}

void CircularDisplayTimer::setInterval(int nInterval) {
  m_interval = usableInterval(nInterval);
  if (m_timer->isActive()) m_timer->setInterval(m_interval);
}

void CircularDisplayTimer::addItem(quint8 item) {
  m_itemMask.storeRelease((m_itemMask.loadAcquire() | item) & 0xFF);
  if (!m_timer->isActive()) m_timer->start(m_interval);
}

void CircularDisplayTimer::removeItem(quint8 item) {
  m_itemMask.storeRelease(m_itemMask.loadAcquire() & ~item & 0xFF);
  onChangeData();
}
