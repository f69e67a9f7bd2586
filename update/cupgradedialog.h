// Turns the result of an update check into an action (nothing, a reminder for later,
// a prompt, or "up to date"), and shows the installer download with its progress.
#pragma once

#include <QDialog>
#include <QString>

#include "upgradedialoginterface.h"

class QCloseEvent;
class QTimer;
class FtpManager;

namespace Ui {
class CUpgradeDialog;
}

class CUpgradeDialog : public QDialog, public UpgradeDialogInterface {
  Q_OBJECT

 public:
  // Derived from "next upgrade time".
  enum ReminderState { ReminderPending = 0, ReminderDue = 1, ReminderNotSet = 2 };

  enum UpgradeAction {
    ActionNothing,
    ActionClear,       // forget a stored reminder
    ActionWait,        // keep the reminder timer running
    ActionFirstSight,  // schedule a reminder for a newly found release, no prompt
    ActionPromptNow,   // schedule a reminder and ask at once
    ActionUpToDate,    // forget the reminder and tell the user nothing is newer
  };

  static constexpr int kReminderIntervalMs = 60000;
  // "next upgrade time" holds this when no reminder is pending.
  static constexpr qint64 kNoReminder = 998;

  explicit CUpgradeDialog(QWidget* parent = nullptr);
  ~CUpgradeDialog() override;

  void startCheckUpdate(bool bAutoCheck) override;
  void showNewVersionPrompt(QString strVersion);

  FtpManager* ftpManager() const { return m_pFtpManager; }
  bool isReminderTimerActive() const;

  // The decision rules, as plain functions.
  static ReminderState reminderState(quint64 nStoredTime, qint64 nNowSeconds);
  static ReminderState reminderState();
  static UpgradeAction decideAction(bool bAutoCheck, bool bNewerRelease, ReminderState state);
  // The reminder delay for two draws of the C library generator, in seconds.
  static qint64 reminderDelaySeconds(int r1, int r2);
  // Seeds the generator, draws a delay and stores now + delay as the next reminder.
  static void scheduleReminder();
  // The delay scheduleReminder draws for a given seed.
  static qint64 drawReminderDelay(unsigned int nSeed);

  // File names and paths of a release's installer.
  static QString installerFileName(const QString& strVersion);
  static QString remoteInstallerPath(const QString& strVersion);
  static QString localInstallerPath(const QString& strVersion);

  // The progress bar's range and value for byte counts; sizes past the int range are
  // scaled down together, an unknown total (-1) stays -1.
  static void progressRange(qint64 bytesReceived, qint64 bytesTotal, int* pnValue, int* pnMaximum);

 public slots:
  int on_btn_cancel_upgrade_clicked();
  void onExistNewVersionApp(QString strNewestVersion);
  void downloadProgress(qint64 bytesReceived, qint64 bytesTotal);
  void downloadFinished(bool bInterrupted, QString strFilePath);
  void onCheckTime();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void writeNoReminder();
  void stopReminderTimer();
  void startReminderTimer();
  void offerInstaller(const QString& strFilePath);

  Ui::CUpgradeDialog* ui;
  FtpManager* m_pFtpManager = nullptr;
  bool m_bAutoCheck = false;
  bool m_bDownloadEnded = false;
  QTimer* m_pCheckTimer = nullptr;
  // True from an accepted prompt until the downloaded file has been dealt with, so a
  // second offer (a manual check, a reminder) cannot start a second transfer.
  bool m_bOfferRunning = false;
  // Why the last download's installer was refused; shown once the window has closed.
  QString m_strRejection;
};

// What differs between platforms in running a downloaded installer.
namespace update::platform {
// The installer's file name suffix on this platform, dot included.
QString installerSuffix();
// Makes the file runnable where that is needed and starts it as a detached process
// without arguments. False, with the operating system's reason, when it could not be
// started.
bool startInstaller(const QString& strFilePath, QString* pstrReason);
// The user's own folder for downloaded installers.
QString downloadFolder();
// Creates `strFolder` (and what is missing above it) for this user alone, or checks that
// the existing one is a real folder of this user that nobody else may enter.
bool makePrivateFolder(const QString& strFolder, QString* pstrReason);
}  // namespace update::platform
