// The worker that streams the latest sample to every display device about twice a second.
//
// Created by the main window with itself as parent and started at once. Slots and the
// control calls run on the GUI thread:
//   connect(sampler, &HardwareInfoReader::signalsGetHardwareInfo,
//           thread, &SendHIDDataThread::onSetHardwareData);
//   connect(settingDlg, &CSettingDlg::settingInfoChanged,
//           thread, &SendHIDDataThread::onSettingValueChanged);
//   thread->setDevices(manager.devices()); thread->pauseSending(); thread->resumeSending();
//
// Each display has a link of its own: a thread that opens the device once, keeps the handle
// until a write or read fails, and exchanges one frame at a time. A pass hands every idle link
// its frame and does not wait, so a device that answers slowly, never answers or stalls its
// writes only misses frames itself. The destructor waits at most kStopWaitMs for the links;
// one stuck in a write is left to finish on its own.
#pragma once

#include <QMap>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>
#include <memory>

#include "hardwareinfo.h"
#include "hiddevicesmanager.h"
#include "hidprotocol.h"

class SendHIDDataThread : public QThread {
  Q_OBJECT

 public:
  // Longest wait for a device's reply to a frame.
  static constexpr int kReplyTimeoutMs = 500;
  static constexpr int kPassIntervalMs = 500;
  static constexpr int kStopWaitMs = 100;

  explicit SendHIDDataThread(QObject* parent = nullptr);
  ~SendHIDDataThread() override;

  void setDevices(const HIDDeviceTable& devices);
  void pauseSending();
  void resumeSending();
  bool isPaused() const;

  // One send pass that waits for this pass's replies (the worker loop does not wait).
  void sendDataToHIDDevice();

  // Sample value from its text: base 10, anything else 0.
  static int sampleValue(const QString& text, bool* known = nullptr);

  struct Link;

 public slots:
  void onSetHardwareData(COMMON::HardwareInfo hardwareInfo);
  void onSettingValueChanged(QString strSettingName, QString strSettingValue);

 protected:
  void run() override;

 private:
  void sendPass(bool waitForReplies);
  void stopLinks();

  HIDDeviceTable m_devices;
  bool m_paused = false;
  mutable QMutex m_mutex;
  QWaitCondition m_wakeCondition;
  int m_temperatureUnit;
  hidreport::Thresholds m_thresholds;
  hidreport::Sample m_sample;
  // Guards m_links: passes run on the worker, or on the caller of sendDataToHIDDevice().
  QMutex m_passMutex;
  QMap<QString, std::shared_ptr<Link>> m_links;
};
