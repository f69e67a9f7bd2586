// The rotation of the item the display devices show.
//
// One object per process (instance()), living on the GUI thread; start()/stop() follow
// the device table, addItem()/removeItem()/setInterval() follow the settings.
// currentItem() may be called from any thread (the send thread reads it per frame).
#pragma once

#include <QAtomicInt>
#include <QObject>
#include <QSharedPointer>

#include "hidprotocol.h"

class QTimer;

using DisplayItem = hidreport::DisplayItem;

class CircularDisplayTimer : public QObject {
  Q_OBJECT

 public:
  static QSharedPointer<CircularDisplayTimer>& instance();

  // Reads "change interval" and the three "display ..." settings.
  CircularDisplayTimer();
  ~CircularDisplayTimer() override;

  quint8 currentItem() const;
  bool isActive() const;
  void start();
  void stop();
  void setInterval(int nInterval);
  void addItem(quint8 item);
  void removeItem(quint8 item);

  int interval() const { return m_interval; }
  quint8 itemMask() const { return static_cast<quint8>(m_itemMask.loadAcquire()); }

 public slots:
  void onChangeData();

 private:
  void advance();

  QTimer* m_timer;
  QAtomicInt m_index{0};
  QAtomicInt m_itemMask{0};
  int m_interval;
};
