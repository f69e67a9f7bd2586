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
// until a write or read fails, and exchanges one frame at a time. While the worker runs, each
// link times its own frames, one every kPassIntervalMs, so a device that answers slowly,
// never answers or stalls its writes only misses frames itself, and a frame costs one wake-up
// of one thread instead of a hand-over between two. The worker itself only sleeps until the
// device table or the pause changes and then brings the links in line. The destructor waits
// at most kStopWaitMs for the links; one stuck in a write is left to finish on its own.
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

  // One frame to every device now, waiting for the replies (the timed frames never wait).
  void sendDataToHIDDevice();

  // Sample value from its text: base 10, anything else 0.
  static int sampleValue(const QString& text, bool* known = nullptr);

  struct Link;
  struct Feed;

 public slots:
  void onSetHardwareData(COMMON::HardwareInfo hardwareInfo);
  void onSettingValueChanged(QString strSettingName, QString strSettingValue);

 protected:
  void run() override;

 private:
  std::shared_ptr<Link> linkFor(const HIDDeviceInfo& device);
  void stopLinks();

  HIDDeviceTable m_devices;
  bool m_paused = false;
  int m_changes = 0;  // counts the changes the worker has to bring the links in line with
  mutable QMutex m_mutex;
  QWaitCondition m_wakeCondition;
  // What every frame is made of; shared with the links, which may outlive this object.
  std::shared_ptr<Feed> m_feed;
  // Guards m_links: used by the worker and by the callers of setDevices(), sendDataToHIDDevice().
  QMutex m_passMutex;
  QMap<QString, std::shared_ptr<Link>> m_links;
};
