// The names of the five values and the fan's unit as the main window shows them; the
// tray tool tip, the alarm notices and the history pane say the same.
#pragma once

#include <QCoreApplication>
#include <QString>

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

}  // namespace valuenames
