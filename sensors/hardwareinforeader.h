// The sampler: every interval it combines the processor driver's temperature, the
// sensor library's readings and the CPU-usage helper's rate into one sample and
// emits it. One process-wide instance, living on the GUI thread.
#pragma once

#include <QObject>
#include <QSharedPointer>

#include "hardwareinfo.h"
#include "samplepass.h"
#include "wring.h"

namespace cpuusage {
class HelperProcess;
}
class QTimer;

class HardwareInfoReader : public QObject {
  Q_OBJECT

 public:
  // Created by the first call (on the GUI thread), released at exit.
  static QSharedPointer<HardwareInfoReader> instance();
  ~HardwareInfoReader() override;

  // Runs one pass at once, then one every `intervalMs` (the timer is started once).
  void start(int intervalMs);

  // The sample as the last pass (or the CPU-usage slot) left it.
  COMMON::HardwareInfo currentHardwareInfo() const { return m_hardwareInfo; }

 signals:
  void signalsGetHardwareInfo(COMMON::HardwareInfo hardwareInfo);

 public slots:
  void onReadHardwareInfo();
  void onReadCPURate();

 private:
  HardwareInfoReader();

  COMMON::HardwareInfo m_hardwareInfo;
  WRingDriver m_driver;
  cpuusage::HelperProcess* m_process = nullptr;
  QTimer* m_timer = nullptr;
  sampling::SlewStates m_slewStates;
};
