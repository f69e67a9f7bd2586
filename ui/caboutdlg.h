// The program's version and the hardware and firmware versions of the first display device.
#pragma once

#include <QDialog>

struct HIDDeviceInfo;

namespace Ui {
class AboutDlg;
}

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent);
  ~CAboutDlg() override;

  // null shows "--" for both device versions.
  void setDeviceInfo(const HIDDeviceInfo* device);

 private:
  Ui::AboutDlg* ui;
};
