// The program's run log: one text file per start day, one flushed line per event,
// every line also on the Qt debug output. Safe to call from any thread.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QSharedPointer>
#include <QString>

class QFile;

class RSLogger : public QObject {
  Q_OBJECT

 public:
  enum LogLevel {
    LevelInfo = 0x01,
    LevelWarning = 0x02,
    LevelError = 0x04,
    LevelCritical = 0x08,
    LevelTimer = 0x10,
    LevelDebug = 0x100,
  };

  static QSharedPointer<RSLogger>& instance();

  // A logger writing into `folder` instead of the program's log folder (tests).
  explicit RSLogger(const QString& folder);
  ~RSLogger() override;

  void writeLog(int level, const QString& message, const char* function);

  // Path of the file this logger writes, empty when it runs without one.
  QString filePath() const;

  // The 8-character label of a level; "Unknown " for anything but one known bit.
  static QString levelLabel(int level);
  static QString formatLine(const QDateTime& time, int level, const char* function,
                            const QString& message);
  // Deletes all but the two newest day files in `folder`.
  static void pruneOldFiles(const QString& folder);
  // The folder the program logs into: "logs" beside the program where it keeps its files
  // there and that folder is usable, else "logs" in the user's state folder.
  static QString defaultFolder();
  static QString folderFor(const QString& programFolder, const QString& stateFolder);

 private:
  RSLogger(const QString& folder, bool processWide);
  void openFile(const QString& folder);

  int m_levelMask = 0xFF;
  QFile* m_file = nullptr;
  bool m_processWide = false;
};
