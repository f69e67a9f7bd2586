#include "startupreport.h"

#include "constants.h"

namespace COMMON {

QString startupLine(const QString& executable, const QString& logFolder,
                    const QString& dumpFolder) {
  return QStringLiteral("%1 %2 started from %3; log folder %4; crash reports go to %5.")
      .arg(kApplicationName, kProgramVersion, executable, logFolder, dumpFolder);
}

QString firstSampleLine(const QStringList& values, int deviceCount) {
  static const QStringList kNames = {QStringLiteral("CPU temperature"), QStringLiteral("CPU usage"),
                                     QStringLiteral("GPU temperature"), QStringLiteral("GPU usage"),
                                     QStringLiteral("fan")};
  QStringList parts;
  bool missing = false;
  for (int i = 0; i < kNames.size(); ++i) {
    const QString value = values.value(i, kPlaceholder);
    missing = missing || value == kPlaceholder;
    parts << kNames.at(i) + QLatin1Char(' ') + value;
  }
  QString line = QStringLiteral("First values: %1; %2 display device(s) recognised.")
                     .arg(parts.join(QStringLiteral(", ")))
                     .arg(deviceCount);
  if (missing)
    line += QStringLiteral(
                " A value of %1 has no sensor behind it: pelmora-dump lists what the "
                "sensor library sees.")
                .arg(kPlaceholder);
  return line;
}

}  // namespace COMMON
