#include "caboutdlg.h"

#include "constants.h"
#include "hiddevicesmanager.h"
#include "ui_aboutdlg.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui(new Ui::AboutDlg) {
  ui->setupUi(this);
  setAttribute(Qt::WA_QuitOnClose, false);
  setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
  ui->lbl_software_vv->setText(COMMON::kProgramVersion);
}

CAboutDlg::~CAboutDlg() { delete ui; }

void CAboutDlg::setDeviceInfo(const HIDDeviceInfo* device) {
  if (device) {
    ui->lbl_hardware_vv->setText(QStringLiteral("V") + device->hardwareVersion);
    ui->lbl_firmware_vv->setText(QStringLiteral("V") + device->firmwareVersion);
  } else {
    ui->lbl_hardware_vv->setText(COMMON::kPlaceholder);
    ui->lbl_firmware_vv->setText(COMMON::kPlaceholder);
  }
}
