// The recent history of the five values, drawn in the main window: ten minutes on one
// time axis, in three bands (temperatures in the chosen unit, usages in percent, the
// fan), with each value's current, lowest and highest reading, and the alarm
// thresholds as dashed lines. Drawn with QPainter on this widget alone: the charts
// module would load a graphics-view stack and tens of MiB for five polylines.
#pragma once

#include <QRect>
#include <QVector>
#include <QWidget>
#include <array>
#include <optional>

#include "hardwareinfo.h"

// The last `capacity` readings of one value, oldest first; a missing reading is kept as
// a gap. Fixed size: memory stays the same however long the program runs.
class HistoryRing {
 public:
  explicit HistoryRing(int capacity);
  void push(std::optional<int> value);
  int size() const { return m_count; }
  int capacity() const { return int(m_values.size()); }
  // 0 is the oldest kept reading.
  std::optional<int> at(int index) const;
  // Runs of consecutive readings, as [first, last] indexes: a gap ends a run.
  QVector<QPair<int, int>> runs() const;

 private:
  QVector<std::optional<int>> m_values;
  int m_next = 0;
  int m_count = 0;
};

class HistoryPane : public QWidget {
  Q_OBJECT

 public:
  enum Series { CpuTemperature, GpuTemperature, CpuUsage, GpuUsage, FanRpm, SeriesCount };
  // Ten minutes of samples at the sampler's 1.5 s.
  static constexpr int kCapacity = 400;

  explicit HistoryPane(QWidget* parent = nullptr);

  const HistoryRing& ring(Series series) const { return m_rings[series]; }
  bool isShown(Series series) const { return m_shown & (1 << series); }
  void setShown(Series series, bool shown);
  // The legend text of a series: name and current reading, then the lowest and highest
  // of the span on a second line.
  QString legendText(Series series) const;
  // How many times the pane painted itself; tests check that a hidden one does not.
  int paintCount() const { return m_paints; }

  // A value that reaches far past the rest (a sensor that jumps to 1000 °C once) does
  // not set the scale: the band spans what most readings cover, and the few beyond it
  // are drawn clamped to its edge with a mark. Returns {low, high}.
  static QPair<int, int> scaleOf(QVector<int> values, int threshold);

 public slots:
  void onReadHardwareInfo(COMMON::HardwareInfo hardwareInfo);
  void onSettingInfoChanged(QString strSettingName, QString strSettingValue);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QString valueText(Series series, int celsiusOrValue) const;
  int shownValue(Series series, int value) const;
  QRect legendRect(Series series) const;
  void redraw();

  std::array<HistoryRing, SeriesCount> m_rings;
  int m_shown = 0;
  int m_temperatureUnit = 0;
  int m_temperatureAlarm = 90;
  int m_usageAlarm = 95;
  int m_fanAlarm = 300;
  int m_paints = 0;
};
