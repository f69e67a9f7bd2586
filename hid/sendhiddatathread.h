// The worker that streams the latest sample to every display device about twice a second.
//
// Created by the main window with itself as parent and started at once. Slots and the
// control calls run on the GUI thread:
//   connect(sampler, &HardwareInfoReader::signalsGetHardwareInfo,
//           thread, &SendHIDDataThread::onSetHardwareData);
//   connect(settingDlg, &CSettingDlg::settingInfoChanged,
//           thread, &SendHIDDataThread::onSettingValueChanged);
//   thread->setDevices(manager.devices()); thread->pauseSending(); thread->resumeSending();
// The destructor stops and joins the worker; a device that never answers delays it by
// at most one reply slice.
#pragma once

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include "hardwareinfo.h"
#include "hiddevicesmanager.h"
#include "hidprotocol.h"

class SendHIDDataThread : public QThread {
  Q_OBJECT

 public:
  // Longest wait for a device's reply to a frame.
  static constexpr int kReplyTimeoutMs = 500;
  static constexpr int kPassIntervalMs = 500;

  explicit SendHIDDataThread(QObject* parent = nullptr);
  ~SendHIDDataThread() override;

  void setDevices(const HIDDeviceTable& devices);
  void pauseSending();
  void resumeSending();
  bool isPaused() const;

  // One send pass (also run by the worker loop).
  void sendDataToHIDDevice();

  // Sample value from its text: base 10, anything else 0.
  static int sampleValue(const QString& text);

 public slots:
  void onSetHardwareData(COMMON::HardwareInfo hardwareInfo);
  void onSettingValueChanged(QString strSettingName, QString strSettingValue);

 protected:
  void run() override;

 private:
  HIDDeviceTable devices_;
  bool paused_ = false;
  mutable QMutex mutex_;
  QWaitCondition wakeCondition_;
  int temperatureUnit_;
  HIDReport::Thresholds thresholds_;
  HIDReport::Sample sample_;
};
