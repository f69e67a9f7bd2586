// Notices changes of the settings file made while the program runs (by a person or a
// tool) and announces each changed setting the way the settings dialog does.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

class QFileSystemWatcher;

class SettingsWatcher : public QObject {
  Q_OBJECT

 public:
  explicit SettingsWatcher(QObject* parent = nullptr);

 public slots:
  // A change announced elsewhere (the dialog) is not announced again.
  void noteAnnounced(QString strSettingName, QString strSettingValue);
  // Reads the file now and announces what changed (the watch calls it, debounced).
  void check();

 signals:
  void settingInfoChanged(QString strSettingName, QString strSettingValue);

 private:
  void watch();

  QFileSystemWatcher* m_watcher;
  QTimer m_debounce;
  QString m_path;
  QHash<QString, int> m_known;
};
