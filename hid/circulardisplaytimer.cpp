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
    : timer_(new QTimer(this)),
      interval_(usableInterval(COMMON::readIntSetting(COMMON::kKeyChangeInterval))) {
  int mask = 0;
  if (COMMON::readIntSetting(COMMON::kKeyDisplayCpuTemperature) != 0)
    mask |= DisplayItem::CPU_TEMPERATURE;
  if (COMMON::readIntSetting(COMMON::kKeyDisplayGpuTemperature) != 0)
    mask |= DisplayItem::GPU_TEMPERATURE;
  if (COMMON::readIntSetting(COMMON::kKeyDisplayFanRpm) != 0) mask |= DisplayItem::FAN_RPM;
  itemMask_.storeRelease(mask);
  connect(timer_, &QTimer::timeout, this, &CircularDisplayTimer::onChangeData);
}

CircularDisplayTimer::~CircularDisplayTimer() {
  if (timer_->isActive()) timer_->stop();
}

quint8 CircularDisplayTimer::currentItem() const {
  return static_cast<quint8>((1 << index_.loadAcquire()) & itemMask_.loadAcquire());
}

bool CircularDisplayTimer::isActive() const { return timer_->isActive(); }

void CircularDisplayTimer::advance() {
  const int mask = itemMask_.loadAcquire();
  if ((mask & 0xFF) == 0) return;
  int index = index_.loadAcquire();
  do {
    index = (index + 1) % 8;
  } while (((1 << index) & mask) == 0);
  index_.storeRelease(index);
}

void CircularDisplayTimer::onChangeData() {
  if (itemMask_.loadAcquire() != 0)
    advance();
  else if (timer_->isActive())
    timer_->stop();
}

void CircularDisplayTimer::start() {
  onChangeData();
  if (!timer_->isActive()) timer_->start(interval_);
}

void CircularDisplayTimer::stop() {
  if (timer_->isActive()) timer_->stop();
}

void CircularDisplayTimer::setInterval(int nInterval) {
  interval_ = usableInterval(nInterval);
  if (timer_->isActive()) timer_->setInterval(interval_);
}

void CircularDisplayTimer::addItem(quint8 item) {
  itemMask_.storeRelease((itemMask_.loadAcquire() | item) & 0xFF);
  if (!timer_->isActive()) timer_->start(interval_);
}

void CircularDisplayTimer::removeItem(quint8 item) {
  itemMask_.storeRelease(itemMask_.loadAcquire() & ~item & 0xFF);
  onChangeData();
}
