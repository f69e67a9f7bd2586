// What the main window needs of the update dialog, which lives in a subsystem above
// this one. The program's entry point installs a factory on MainWindow.
#pragma once

class UpgradeDialogInterface {
 public:
  virtual ~UpgradeDialogInterface() = default;
  // true for the automatic check at start, false when the user asked for it.
  virtual void startCheckUpdate(bool bAutoCheck) = 0;
};
