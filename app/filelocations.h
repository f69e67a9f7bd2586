// Where the program keeps the files it writes for itself: the run log and crash dumps.
// Beside the program when it runs from a folder of the user's own (a build tree, a
// per-user install); an installed program, even one run as root, writes into the user's
// state folder instead and never into a system folder.
#pragma once

#include <QString>

namespace COMMON::platform {

// True when the program in `programFolder` keeps its files beside itself.
bool keepsFilesBesideProgram(const QString& programFolder);
// True for the folders of the operating system and of installed programs.
bool isSystemFolder(const QString& canonicalPath);
// The program's folder in the user's state folder, without a trailing slash.
QString stateFolder();

}  // namespace COMMON::platform
