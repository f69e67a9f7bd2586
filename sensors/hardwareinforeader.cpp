#include "hardwareinforeader.h"

#include <QAtomicPointer>
#include <QMutex>
#include <QMutexLocker>
#include <QTimer>

#include "constants.h"
#include "cpuusage.h"
#include "pelmora.h"

namespace {
QMutex& creationMutex() {
  static QMutex mutex;
  return mutex;
}
QAtomicPointer<HardwareInfoReader> g_created;
}  // namespace

QSharedPointer<HardwareInfoReader> HardwareInfoReader::instance() {
  static QSharedPointer<HardwareInfoReader> s_instance;
  if (!g_created.loadAcquire()) {
    QMutexLocker lock(&creationMutex());
    if (!g_created.loadRelaxed()) {
      s_instance.reset(new HardwareInfoReader());
      g_created.storeRelease(s_instance.data());
    }
  }
  return s_instance;
}

HardwareInfoReader::HardwareInfoReader() : QObject(nullptr) {
  m_hardwareInfo.strCPUUsageRate = COMMON::kPlaceholder;
  m_driver.InitializeWRing();

  m_timer = new QTimer(this);
  connect(m_timer, &QTimer::timeout, this, &HardwareInfoReader::onReadHardwareInfo);

  m_process = new cpuusage::HelperProcess(this);
}

HardwareInfoReader::~HardwareInfoReader() {
  m_process->close();
  if (m_timer->isActive()) m_timer->stop();
  m_driver.RemoveWRingService();
}

void HardwareInfoReader::start(int intervalMs) {
  onReadHardwareInfo();
  if (!m_timer->isActive()) m_timer->start(intervalMs);
}

void HardwareInfoReader::onReadHardwareInfo() {
  // The helper's lines are read here, not as they come: only the last one counts.
  onReadCPURate();
  cpuusage::startProcess(*m_process);
  const unsigned int driverTemperature = m_driver.readProcessorTemperature();

  pelmora::HardwareDatas datas;
  const bool queried = PLM_GetHardwareInfo(datas);
  sampling::applyPass(m_hardwareInfo, driverTemperature, queried, datas, m_slewStates);

  emit signalsGetHardwareInfo(m_hardwareInfo);
}

void HardwareInfoReader::onReadCPURate() {
  m_process->fetch();
  if (const std::optional<int> rate = cpuusage::readRate(*m_process))
    m_hardwareInfo.strCPUUsageRate = QString::number(*rate, 10);
}
