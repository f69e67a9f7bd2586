// What the log says at start-up, so that a user's log answers the first questions of a
// bug report: which program, where its files are, where its icon went, what it measured.
#pragma once

#include <QString>
#include <QStringList>

namespace COMMON {

// Version, executable, the folders of the log and the crash reports.
QString startupLine(const QString& executable, const QString& logFolder, const QString& dumpFolder);
// The five values of a sample, in the sample's order, and the number of display devices.
QString firstSampleLine(const QStringList& values, int deviceCount);

namespace platform {
// Where the notification-area icon is shown, or why it cannot be; `x11Tray` is whether an
// X11 system tray was found.
QString notificationAreaDescription(bool x11Tray);
}  // namespace platform

}  // namespace COMMON
