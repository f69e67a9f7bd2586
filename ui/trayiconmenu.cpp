#include "trayiconmenu.h"

#include <QAction>
#include <QIcon>

#include "uiresources.h"

TrayIconMenu::TrayIconMenu(QWidget* parent) : QMenu(parent) {
  initUiResources();
  setObjectName(QStringLiteral("TrayIconMenu"));
}

void TrayIconMenu::initMenu(bool bQuitOnly) {
  if (bQuitOnly) {
    addQuitEntry();
    return;
  }

  m_pDeviceMenu = addMenu(QIcon(QStringLiteral(":/Resource/devicelist.png")), tr("设备列表"));
  m_pDeviceMenu->addAction(tr("无"));
  addSeparator();

  // "Open main window" and "help" exist with their signals but are not offered: a second
  // start brings the window forward, and there is no help to show.
  auto* openWindow = new QAction(tr("打开主面板"), this);
  auto* setting = new QAction(QIcon(QStringLiteral(":/Resource/setting.png")), tr("设置"), this);
  auto* checkUpdate =
      new QAction(QIcon(QStringLiteral(":/Resource/upgrade.png")), tr("检查更新"), this);
  auto* help = new QAction(tr("帮助"), this);
  auto* about = new QAction(QIcon(QStringLiteral(":/Resource/about.png")), tr("关于"), this);
  addAction(setting);
  addAction(checkUpdate);
  addAction(about);

  connect(openWindow, &QAction::triggered, this, &TrayIconMenu::sigOpenWindow);
  connect(setting, &QAction::triggered, this, &TrayIconMenu::sigSetting);
  connect(help, &QAction::triggered, this, &TrayIconMenu::sigHelp);
  connect(checkUpdate, &QAction::triggered, this, &TrayIconMenu::sigCheckUpdate);
  connect(about, &QAction::triggered, this, &TrayIconMenu::sigAbout);

  addQuitEntry();
}

void TrayIconMenu::addQuitEntry() {
  addSeparator();
  QAction* quit = addAction(QIcon(QStringLiteral(":/Resource/quit.png")), tr("退出"));
  connect(quit, &QAction::triggered, this, &TrayIconMenu::sigClose);
}

void TrayIconMenu::updateDeviceMenu(const QStringList& entries) {
  if (!m_pDeviceMenu) return;  // built with the quit entry only
  // clear() deletes the actions the submenu owns.
  m_pDeviceMenu->clear();
  if (entries.isEmpty()) {
    m_pDeviceMenu->addAction(tr("无"));
    return;
  }
  const QIcon online(QStringLiteral(":/Resource/online.png"));
  for (const QString& entry : entries) m_pDeviceMenu->addAction(online, entry);
}
