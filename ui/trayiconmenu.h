// The context menu of the notification-area icon: the device list, settings, the update
// check, about and quit. It only emits signals; the main window acts on them.
#pragma once

#include <QMenu>
#include <QStringList>

class TrayIconMenu : public QMenu {
  Q_OBJECT

 public:
  explicit TrayIconMenu(QWidget* parent = nullptr);

  // false: the whole menu; true: a separator and quit only.
  void initMenu(bool bQuitOnly);
  // Refills the device submenu: "无" when empty, else one entry per text in list order.
  void updateDeviceMenu(const QStringList& entries);

  QMenu* deviceMenu() const { return m_pDeviceMenu; }

 signals:
  void sigOpenWindow();
  void sigSetting();
  void sigCheckUpdate();
  void sigAbout();
  void sigHelp();
  void sigClose();

 private:
  void addQuitEntry();

  QMenu* m_pDeviceMenu = nullptr;
};
