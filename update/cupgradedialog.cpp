#include "cupgradedialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <cstdlib>
#include <limits>

#include "constants.h"
#include "ftpmanager.h"
#include "messageboxshow.h"
#include "qftpparse.h"
#include "rslogger.h"
#include "settings.h"
#include "ui_cupgradedialog.h"

namespace {

void log(int level, const QString& strMessage, const char* function) {
  RSLogger::instance()->writeLog(level, strMessage, function);
}

}  // namespace

CUpgradeDialog::CUpgradeDialog(QWidget* parent) : QDialog(parent), ui(new Ui::CUpgradeDialog) {
  ui->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
  // The main window is usually hidden: closing this must never end the program.
  setAttribute(Qt::WA_QuitOnClose, false);

  m_pFtpManager = new FtpManager(this);
  connect(m_pFtpManager, &FtpManager::signalNeedUpdate, this,
          &CUpgradeDialog::onExistNewVersionApp);
  connect(m_pFtpManager, &FtpManager::downloadProgress, this, &CUpgradeDialog::downloadProgress);
  connect(m_pFtpManager, &FtpManager::downloadFinished, this, &CUpgradeDialog::downloadFinished);
  connect(m_pFtpManager, &FtpManager::installerRejected, this,
          [this](const QString& strReason) { m_strRejection = strReason; });

  m_pCheckTimer = new QTimer(this);
  connect(m_pCheckTimer, &QTimer::timeout, this, &CUpgradeDialog::onCheckTime);
}

CUpgradeDialog::~CUpgradeDialog() {
  m_pCheckTimer->stop();
  delete m_pCheckTimer;
  delete ui;
}

void CUpgradeDialog::startCheckUpdate(bool bAutoCheck) {
  if (m_pFtpManager->isChecking()) {
    // The running check keeps its own kind; its answer comes within its time bound.
    log(RSLogger::LevelInfo, QStringLiteral("An update check is already running."),
        "CUpgradeDialog::startCheckUpdate");
    if (!bAutoCheck) {
      MessageBoxShow box(this, QMessageBox::Information);
      box.information(tr("更新提示"), tr("正在检查更新，请稍候。"));
    }
    return;
  }
  m_bAutoCheck = bAutoCheck;
  m_pFtpManager->checkNewestVersion();
}

bool CUpgradeDialog::isReminderTimerActive() const { return m_pCheckTimer->isActive(); }

CUpgradeDialog::ReminderState CUpgradeDialog::reminderState(quint64 nStoredTime,
                                                            qint64 nNowSeconds) {
  if (nStoredTime == static_cast<quint64>(kNoReminder)) return ReminderNotSet;
  if (nNowSeconds > 0 && static_cast<quint64>(nNowSeconds) > nStoredTime) return ReminderDue;
  return ReminderPending;
}

CUpgradeDialog::ReminderState CUpgradeDialog::reminderState() {
  const quint64 stored =
      COMMON::readSetting(COMMON::kKeyNextUpgradeTime, kNoReminder).toULongLong();
  return reminderState(stored, QDateTime::currentSecsSinceEpoch());
}

CUpgradeDialog::UpgradeAction CUpgradeDialog::decideAction(bool bAutoCheck, bool bNewerRelease,
                                                           ReminderState state) {
  // Columns: reminder pending, due, not set.
  static const UpgradeAction table[12] = {
      // manual, nothing newer
      ActionUpToDate,
      ActionUpToDate,
      ActionUpToDate,
      // manual, newer release
      ActionPromptNow,
      ActionPromptNow,
      ActionPromptNow,
      // automatic, nothing newer
      ActionClear,
      ActionClear,
      ActionNothing,
      // automatic, newer release
      ActionWait,
      ActionPromptNow,
      ActionFirstSight,
  };
  if (state < ReminderPending || state > ReminderNotSet) return ActionNothing;
  return table[(bAutoCheck ? 6 : 0) + (bNewerRelease ? 3 : 0) + state];
}

qint64 CUpgradeDialog::reminderDelaySeconds(int r1, int r2) {
  return (static_cast<qint64>(r1) * 256 + r2) * 60;
}

qint64 CUpgradeDialog::drawReminderDelay(unsigned int nSeed) {
  std::srand(nSeed);
  const int r1 = std::rand() % 78;
  const int r2 = std::rand() % 192;
  return reminderDelaySeconds(r1, r2);
}

void CUpgradeDialog::scheduleReminder() {
  // Spreads the first prompts of a release over about two weeks.
  const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
  const qint64 delay = drawReminderDelay(static_cast<unsigned int>(nowMs & 0xFFFFFFFF));
  COMMON::writeSetting(COMMON::kKeyNextUpgradeTime, QVariant(qint64(nowMs / 1000 + delay)));
}

QString CUpgradeDialog::installerFileName(const QString& strVersion) {
  return QStringLiteral("%1Setup_%2").arg(COMMON::kApplicationName, strVersion) +
         update::platform::installerSuffix();
}

QString CUpgradeDialog::remoteInstallerPath(const QString& strVersion) {
  return QStringLiteral("%1/%2/%3")
      .arg(COMMON::kUpdateDirectory, strVersion, installerFileName(strVersion));
}

QString CUpgradeDialog::localInstallerPath(const QString& strVersion) {
  return update::platform::downloadFolder() + QLatin1Char('/') + installerFileName(strVersion);
}

void CUpgradeDialog::progressRange(qint64 bytesReceived, qint64 bytesTotal, int* pnValue,
                                   int* pnMaximum) {
  constexpr qint64 kIntMax = std::numeric_limits<int>::max();
  if (bytesTotal < 0) {
    // Unknown size: a range of 0..0 makes the bar a busy indicator.
    *pnMaximum = 0;
    *pnValue = 0;
    return;
  }
  int shift = 0;
  while ((bytesTotal >> shift) > kIntMax) ++shift;
  const qint64 maximum = bytesTotal >> shift;
  *pnMaximum = static_cast<int>(maximum);
  *pnValue = static_cast<int>(qBound<qint64>(0, bytesReceived >> shift, maximum));
}

void CUpgradeDialog::writeNoReminder() {
  COMMON::writeSetting(COMMON::kKeyNextUpgradeTime, QVariant(static_cast<int>(kNoReminder)));
}

void CUpgradeDialog::stopReminderTimer() { m_pCheckTimer->stop(); }

void CUpgradeDialog::startReminderTimer() { m_pCheckTimer->start(kReminderIntervalMs); }

void CUpgradeDialog::onExistNewVersionApp(QString strNewestVersion) {
  switch (decideAction(m_bAutoCheck, !strNewestVersion.isEmpty(), reminderState())) {
    case ActionNothing:
      break;
    case ActionClear:
      writeNoReminder();
      stopReminderTimer();
      break;
    case ActionWait:
      startReminderTimer();
      break;
    case ActionFirstSight:
      scheduleReminder();
      COMMON::writeSetting(COMMON::kKeyUpgradeVersion, QVariant(strNewestVersion));
      startReminderTimer();
      break;
    case ActionPromptNow: {
      scheduleReminder();
      COMMON::writeSetting(COMMON::kKeyUpgradeVersion, QVariant(strNewestVersion));
      QString stored = COMMON::readSetting(COMMON::kKeyUpgradeVersion, QString()).toString();
      if (stored != strNewestVersion) {
        // An unwritable store must not turn the offer into one for an older release.
        log(RSLogger::LevelWarning,
            QStringLiteral("The settings store did not keep \"upgrade version\"; offering %1.")
                .arg(strNewestVersion),
            "CUpgradeDialog::onExistNewVersionApp");
        stored = strNewestVersion;
      }
      showNewVersionPrompt(stored);
      break;
    }
    case ActionUpToDate: {
      writeNoReminder();
      stopReminderTimer();
      MessageBoxShow box(this, QMessageBox::Information);
      box.information(tr("更新提示"), tr("当前软件已是最新版本！"));
      break;
    }
  }
}

void CUpgradeDialog::onCheckTime() {
  switch (reminderState()) {
    case ReminderPending:
      break;
    case ReminderDue: {
      const QString version = COMMON::readSetting(COMMON::kKeyUpgradeVersion, QString()).toString();
      if (FtpManager::releaseVersion(version) <=
          FtpManager::releaseVersion(COMMON::kProgramVersion)) {
        // Installed some other way since: offering the running version makes no sense.
        // The next start's check finds whatever is newer.
        log(RSLogger::LevelInfo,
            QStringLiteral("Reminder for %1 dropped: not newer than the running version.")
                .arg(qftpparse::harmless(version, 120)),
            "CUpgradeDialog::onCheckTime");
        writeNoReminder();
        stopReminderTimer();
        break;
      }
      showNewVersionPrompt(version);
      break;
    }
    case ReminderNotSet:
      writeNoReminder();
      stopReminderTimer();
      break;
  }
}

void CUpgradeDialog::showNewVersionPrompt(QString strVersion) {
  stopReminderTimer();
  if (m_bOfferRunning) {
    // A download hidden with Escape: asking again brings its window back.
    if (m_pFtpManager->isDownloading() && !isVisible()) {
      show();
      raise();
      activateWindow();
    }
    log(RSLogger::LevelInfo,
        QStringLiteral("An update is already being offered; %1 not offered again.").arg(strVersion),
        "CUpgradeDialog::showNewVersionPrompt");
    return;
  }
  // The name becomes part of the installer's local path (it may come from the settings
  // store): only a plain release name is offered.
  if (!FtpManager::isSafeReleaseName(strVersion)) {
    log(RSLogger::LevelWarning,
        QStringLiteral("Release name not usable, nothing offered. (%1)")
            .arg(qftpparse::harmless(strVersion, 120)),
        "CUpgradeDialog::showNewVersionPrompt");
    return;
  }

  QString folderError;
  if (!update::platform::makePrivateFolder(update::platform::downloadFolder(), &folderError)) {
    log(RSLogger::LevelError,
        QStringLiteral("No private folder for the download, nothing offered. (%1: %2)")
            .arg(update::platform::downloadFolder(), folderError),
        "CUpgradeDialog::showNewVersionPrompt");
    return;
  }

  m_bOfferRunning = true;
  MessageBoxShow box(this, QMessageBox::Question);
  const int answer =
      box.question(tr("更新提示"), tr("检测到新版本：") + strVersion + tr(", 是否需要更新？"));
  if (answer != QMessageBox::Ok) {
    m_bOfferRunning = false;
    return;
  }

  m_bDownloadEnded = false;
  // The dialog is reused for every offer: start from a clean bar and a live button.
  ui->btn_cancel_upgrade->setEnabled(true);
  ui->progressBar_upgrade->setRange(0, 100);
  ui->progressBar_upgrade->setValue(0);
  m_strRejection.clear();
  if (!m_pFtpManager->downloadFile(remoteInstallerPath(strVersion),
                                   localInstallerPath(strVersion))) {
    m_bDownloadEnded = true;
    m_bOfferRunning = false;
    return;
  }
  exec();
}

void CUpgradeDialog::downloadProgress(qint64 bytesReceived, qint64 bytesTotal) {
  int value = 0;
  int maximum = 0;
  progressRange(bytesReceived, bytesTotal, &value, &maximum);
  ui->progressBar_upgrade->setMaximum(maximum);
  ui->progressBar_upgrade->setValue(value);
}

void CUpgradeDialog::downloadFinished(bool bInterrupted, QString strFilePath) {
  m_bDownloadEnded = true;
  ui->btn_cancel_upgrade->setEnabled(false);
  if (bInterrupted) {
    QFile::remove(strFilePath);
    close();
    m_bOfferRunning = false;
    if (!m_strRejection.isEmpty()) {
      const QString reason = m_strRejection;
      m_strRejection.clear();
      MessageBoxShow box(this, QMessageBox::Critical);
      box.information(tr("更新提示"), tr("安装包签名校验失败，已删除：%1").arg(reason));
    }
    return;
  }

  MessageBoxShow box(this, QMessageBox::Warning);
  const int answer =
      box.question(tr("更新提示"), tr("新版本程序安装包已下载完成，是否立即重启安装？"));
  if (answer != QMessageBox::Ok) {
    QFile::remove(strFilePath);
    close();
    m_bOfferRunning = false;
    return;
  }
  offerInstaller(strFilePath);
}

void CUpgradeDialog::offerInstaller(const QString& strFilePath) {
  const QString nativePath = QDir::toNativeSeparators(strFilePath);
  QString reason;
  if (update::platform::startInstaller(nativePath, &reason)) {
    writeNoReminder();
    close();
    QCoreApplication::quit();
    return;
  }
  // Not installed: keep the program, the reminder and the file for another try.
  log(RSLogger::LevelError,
      QStringLiteral("Starting the installer failed. (%1: %2)").arg(nativePath, reason),
      "CUpgradeDialog::downloadFinished");
  close();
  MessageBoxShow box(this, QMessageBox::Critical);
  box.information(tr("更新提示"),
                  tr("安装程序无法启动（%1），安装包已保存在：%2").arg(reason, nativePath));
  m_bOfferRunning = false;
}

int CUpgradeDialog::on_btn_cancel_upgrade_clicked() {
  MessageBoxShow box(this, QMessageBox::Warning);
  const int answer = box.question(tr("温馨提示"), tr("是否确认停止下载更新？"));
  if (answer == QMessageBox::Ok) {
    m_bDownloadEnded = true;
    close();
    m_pFtpManager->cancelDownload();
  }
  return answer;
}

void CUpgradeDialog::closeEvent(QCloseEvent* event) {
  if (!m_bDownloadEnded && on_btn_cancel_upgrade_clicked() != QMessageBox::Ok) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}
