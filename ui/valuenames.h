// The names of the five values, the fan's unit and the temperature texts as the main
// window shows them; the tray tool tip, the alarm notices and the history pane say the
// same.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <optional>

#include "hidprotocol.h"

namespace valuenames {

enum Value { CpuTemperature, CpuUsage, GpuTemperature, GpuUsage, FanRpm };

inline QString name(Value value) {
  static const char* const kNames[] = {
      QT_TRANSLATE_NOOP("MainWindow", "CPU温度"), QT_TRANSLATE_NOOP("MainWindow", "CPU使用率"),
      QT_TRANSLATE_NOOP("MainWindow", "GPU温度"), QT_TRANSLATE_NOOP("MainWindow", "GPU使用率"),
      QT_TRANSLATE_NOOP("MainWindow", "风扇转速")};
  return QCoreApplication::translate("MainWindow", kNames[value]);
}

inline QString rpmUnit() { return QCoreApplication::translate("MainWindow", "RPM"); }

// A sample's text as a number; nothing for "--" or anything else that is not one.
inline std::optional<int> reading(const QString& text) {
  bool ok = false;
  const int value = text.toInt(&ok, 10);
  return ok ? std::optional<int>(value) : std::nullopt;
}

// A temperature sampled in Celsius, in the chosen unit (0 Celsius, else Fahrenheit).
inline int inUnit(int celsius, int unit) {
  return unit != 0 ? hidreport::toFahrenheit(celsius) : celsius;
}
inline QString temperatureText(int celsius, int unit) {
  return QString::number(inUnit(celsius, unit)) +
         (unit != 0 ? QStringLiteral("℉") : QStringLiteral("℃"));
}

}  // namespace valuenames
