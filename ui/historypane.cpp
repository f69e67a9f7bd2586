#include "historypane.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "constants.h"
#include "settings.h"
#include "valuenames.h"

namespace {

// Which lines are shown, one bit per series; all by default.
const QString kKeyHistoryLines = QStringLiteral("history lines");
constexpr int kAllLines = (1 << HistoryPane::SeriesCount) - 1;

constexpr int kAxisWidth = 44;
constexpr int kLegendWidth = 250;
constexpr int kTimeAxisHeight = 18;
constexpr int kTitleHeight = 20;
// Where each band starts, as a share of the plot's height; the last entry is the bottom.
constexpr double kBandTop[] = {0.0, 0.4, 0.75, 1.0};

// Colours from a palette that stays apart for the common forms of colour blindness;
// the processor's lines are solid, the graphics card's dashed, so that colour is never
// the only difference.
QPen penOf(HistoryPane::Series series) {
  switch (series) {
    case HistoryPane::CpuTemperature:
    case HistoryPane::CpuUsage: {
      return QPen(QColor(0x00, 0x72, 0xB2), 2, Qt::SolidLine);
    }
    case HistoryPane::GpuTemperature:
    case HistoryPane::GpuUsage: {
      QPen pen(QColor(0xD5, 0x5E, 0x00), 2, Qt::CustomDashLine);
      pen.setDashPattern({4, 2});
      return pen;
    }
    default:
      return QPen(QColor(0x00, 0x9E, 0x73), 2, Qt::SolidLine);
  }
}

int bandOf(HistoryPane::Series series) {
  switch (series) {
    case HistoryPane::CpuTemperature:
    case HistoryPane::GpuTemperature:
      return 0;
    case HistoryPane::CpuUsage:
    case HistoryPane::GpuUsage:
      return 1;
    default:
      return 2;
  }
}

}  // namespace

HistoryRing::HistoryRing(int capacity) : m_values(qMax(1, capacity)) {}

void HistoryRing::push(std::optional<int> value) {
  m_values[m_next] = value;
  m_next = (m_next + 1) % m_values.size();
  m_count = qMin(m_count + 1, int(m_values.size()));
}

std::optional<int> HistoryRing::at(int index) const {
  if (index < 0 || index >= m_count) return std::nullopt;
  const int oldest = (m_next - m_count + m_values.size()) % m_values.size();
  return m_values[(oldest + index) % m_values.size()];
}

QVector<QPair<int, int>> HistoryRing::runs() const {
  QVector<QPair<int, int>> runs;
  int start = -1;
  for (int i = 0; i <= m_count; ++i) {
    const bool present = i < m_count && at(i).has_value();
    if (present && start < 0) start = i;
    if (!present && start >= 0) {
      runs.append({start, i - 1});
      start = -1;
    }
  }
  return runs;
}

HistoryPane::HistoryPane(QWidget* parent)
    : QWidget(parent),
      m_rings{HistoryRing(kCapacity), HistoryRing(kCapacity), HistoryRing(kCapacity),
              HistoryRing(kCapacity), HistoryRing(kCapacity)} {
  setObjectName(QStringLiteral("historyPane"));
  setMinimumHeight(180);
  bool ok = false;
  const int stored = COMMON::readSetting(kKeyHistoryLines, kAllLines).toString().toInt(&ok);
  m_shown = ok ? (stored & kAllLines) : kAllLines;
  m_temperatureUnit = COMMON::readIntSetting(COMMON::kKeyTemperatureUnit);
  m_temperatureAlarm = COMMON::readIntSetting(COMMON::kKeyTemperatureAlarm);
  m_usageAlarm = COMMON::readIntSetting(COMMON::kKeyUsageRateAlarm);
  m_fanAlarm = COMMON::readIntSetting(COMMON::kKeyFanRpmAlarm);
}

void HistoryPane::setShown(Series series, bool shown) {
  m_shown = shown ? (m_shown | (1 << series)) : (m_shown & ~(1 << series));
  COMMON::writeSetting(kKeyHistoryLines, m_shown);
  redraw();
}

void HistoryPane::onReadHardwareInfo(COMMON::HardwareInfo hardwareInfo) {
  m_rings[CpuTemperature].push(valuenames::reading(hardwareInfo.strCPUTemperature));
  m_rings[GpuTemperature].push(valuenames::reading(hardwareInfo.strGPUTemperature));
  m_rings[CpuUsage].push(valuenames::reading(hardwareInfo.strCPUUsageRate));
  m_rings[GpuUsage].push(valuenames::reading(hardwareInfo.strGPUUsageRate));
  m_rings[FanRpm].push(valuenames::reading(hardwareInfo.strFanRpm));
  redraw();
}

void HistoryPane::onSettingInfoChanged(QString strSettingName, QString strSettingValue) {
  const int value = COMMON::clampSetting(strSettingName, strSettingValue.toInt());
  if (strSettingName == COMMON::kKeyTemperatureUnit)
    m_temperatureUnit = value;
  else if (strSettingName == COMMON::kKeyTemperatureAlarm)
    m_temperatureAlarm = value;
  else if (strSettingName == COMMON::kKeyUsageRateAlarm)
    m_usageAlarm = value;
  else if (strSettingName == COMMON::kKeyFanRpmAlarm)
    m_fanAlarm = value;
  else
    return;
  redraw();
}

// A hidden window costs nothing: nothing is drawn until it shows (Qt paints a widget
// that becomes visible by itself).
void HistoryPane::redraw() {
  if (isVisible()) update();
}

int HistoryPane::shownValue(Series series, int value) const {
  return bandOf(series) == 0 ? valuenames::inUnit(value, m_temperatureUnit) : value;
}

QString HistoryPane::valueText(Series series, int value) const {
  switch (bandOf(series)) {
    case 0:
      return valuenames::temperatureText(value, m_temperatureUnit);
    case 1:
      return QString::number(value) + QStringLiteral("%");
    default:
      return QString::number(value) + valuenames::rpmUnit();
  }
}

QString HistoryPane::legendText(Series series) const {
  static const valuenames::Value kValues[] = {valuenames::CpuTemperature,
                                              valuenames::GpuTemperature, valuenames::CpuUsage,
                                              valuenames::GpuUsage, valuenames::FanRpm};
  const QString name = valuenames::name(kValues[series]);
  const HistoryRing& ring = m_rings[series];
  std::optional<int> low, high;
  for (int i = 0; i < ring.size(); ++i) {
    if (const std::optional<int> value = ring.at(i)) {
      low = low ? qMin(*low, *value) : *value;
      high = high ? qMax(*high, *value) : *value;
    }
  }
  const std::optional<int> current = ring.size() ? ring.at(ring.size() - 1) : std::nullopt;
  if (!low) return name + QStringLiteral(": --");
  return name + QStringLiteral(": ") +
         (current ? valueText(series, *current) : QStringLiteral("--")) + QLatin1Char('\n') +
         tr("最小 %1, 最大 %2").arg(valueText(series, *low), valueText(series, *high));
}

QPair<int, int> HistoryPane::scaleOf(QVector<int> values, int threshold) {
  if (values.isEmpty()) return {qMin(0, threshold), qMax(threshold, 1)};
  std::sort(values.begin(), values.end());
  // With enough readings, the top and bottom 2 % may lie outside the band.
  const int n = values.size();
  const int cut = n >= 50 ? n / 50 : 0;
  int low = qMin(values[cut], threshold);
  int high = qMax(values[n - 1 - cut], threshold);
  const int pad = qMax(1, (high - low) / 10);
  low -= pad;
  high += pad;
  if (low >= 0 && values.first() >= 0) low = qMax(0, low);
  return {low, high};
}

QRect HistoryPane::legendRect(Series series) const {
  const int plotHeight = height() - kTitleHeight - kTimeAxisHeight;
  const int band = bandOf(series);
  const int slot = (series == GpuTemperature || series == GpuUsage) ? 1 : 0;
  const int top = kTitleHeight + int(plotHeight * kBandTop[band]) + slot * 36 + 2;
  return QRect(width() - kLegendWidth + 6, top, kLegendWidth - 8, 34);
}

void HistoryPane::mousePressEvent(QMouseEvent* event) {
  for (int series = 0; series < SeriesCount; ++series) {
    if (legendRect(Series(series)).contains(event->pos())) {
      setShown(Series(series), !isShown(Series(series)));
      return;
    }
  }
  QWidget::mousePressEvent(event);
}

void HistoryPane::paintEvent(QPaintEvent*) {
  ++m_paints;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor text = palette().color(QPalette::WindowText);
  const QColor grid = palette().color(QPalette::Mid);

  painter.setPen(text);
  painter.drawText(QRect(0, 0, width(), kTitleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   tr("最近10分钟"));

  const int left = kAxisWidth, right = width() - kLegendWidth;
  const int plotTop = kTitleHeight, plotHeight = height() - kTitleHeight - kTimeAxisHeight;
  if (right - left < 40 || plotHeight < 40) return;
  const double step = double(right - left) / (kCapacity - 1);

  for (int band = 0; band < 3; ++band) {
    const int top = plotTop + int(plotHeight * kBandTop[band]) + 2;
    const int bottom = plotTop + int(plotHeight * kBandTop[band + 1]) - 4;
    const int threshold = band == 0   ? shownValue(CpuTemperature, m_temperatureAlarm)
                          : band == 1 ? m_usageAlarm
                                      : m_fanAlarm;
    QVector<int> values;
    for (int series = 0; series < SeriesCount; ++series) {
      if (bandOf(Series(series)) != band || !isShown(Series(series))) continue;
      const HistoryRing& ring = m_rings[series];
      for (int i = 0; i < ring.size(); ++i)
        if (const std::optional<int> value = ring.at(i))
          values.append(shownValue(Series(series), *value));
    }
    const QPair<int, int> scale = band == 1 ? QPair<int, int>{0, 100} : scaleOf(values, threshold);
    const double span = qMax(1, scale.second - scale.first);
    auto yOf = [&](int value) {
      const double clamped = qBound(double(scale.first), double(value), double(scale.second));
      return bottom - (clamped - scale.first) / span * (bottom - top);
    };

    painter.setPen(QPen(grid, 1));
    painter.drawRect(QRect(left, top, right - left, bottom - top));
    painter.setPen(text);
    painter.drawText(QRect(0, top - 2, left - 4, 14), Qt::AlignRight | Qt::AlignTop,
                     QString::number(scale.second));
    painter.drawText(QRect(0, bottom - 12, left - 4, 14), Qt::AlignRight | Qt::AlignBottom,
                     QString::number(scale.first));
    QPen thresholdPen(text, 1, Qt::DotLine);
    painter.setPen(thresholdPen);
    painter.drawLine(QPointF(left, yOf(threshold)), QPointF(right, yOf(threshold)));

    for (int series = 0; series < SeriesCount; ++series) {
      if (bandOf(Series(series)) != band) continue;
      const QRect legend = legendRect(Series(series));
      const QPen pen = penOf(Series(series));
      painter.setPen(pen);
      painter.drawLine(legend.left(), legend.top() + 8, legend.left() + 18, legend.top() + 8);
      painter.setPen(isShown(Series(series)) ? text : grid);
      painter.drawText(legend.adjusted(24, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                       legendText(Series(series)));
      if (!isShown(Series(series))) continue;
      const HistoryRing& ring = m_rings[series];
      const int offset = kCapacity - ring.size();  // the newest reading at the right edge
      painter.setPen(pen);
      for (const QPair<int, int>& run : ring.runs()) {
        QPainterPath path;
        for (int i = run.first; i <= run.second; ++i) {
          const int value = shownValue(Series(series), *ring.at(i));
          const QPointF point(left + (offset + i) * step, yOf(value));
          if (i == run.first)
            path.moveTo(point);
          else
            path.lineTo(point);
          // A reading beyond the band is clamped to its edge, and marked so.
          if (value > scale.second || value < scale.first) painter.drawEllipse(point, 3, 3);
        }
        if (run.first == run.second) painter.drawPoint(path.currentPosition());
        painter.drawPath(path);
      }
    }
  }

  painter.setPen(text);
  const int axisTop = height() - kTimeAxisHeight;
  for (int minutes = 10; minutes >= 0; minutes -= 2) {
    const int x = right - int((right - left) * minutes / 10.0);
    const QString label = minutes == 0 ? tr("现在") : tr("-%1分").arg(minutes);
    painter.drawText(QRect(x - 30, axisTop, 60, kTimeAxisHeight), Qt::AlignCenter, label);
  }
}
