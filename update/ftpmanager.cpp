#include "ftpmanager.h"

#include <QFileInfo>
#include <QMetaType>
#include <QRegularExpression>

#include "constants.h"
#include "minisign.h"
#include "qftpparse.h"
#include "rslogger.h"

namespace {

void log(int level, const QString& strMessage, const char* function) {
  RSLogger::instance()->writeLog(level, strMessage, function);
}

}  // namespace

FtpManager::FtpManager(QObject* parent)
    : QObject(parent),
      m_ftp(this),
      m_stallTimer(this),
      m_checkTimer(this),
      m_rateTimer(this),
      m_publicKey(COMMON::kUpdatePublicKey) {
  qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
  setServer(COMMON::kUpdateServerHost, COMMON::kUpdateServerPort, COMMON::kUpdateAccountName,
            COMMON::kUpdateAccountPassword);
  setStallTimeout(kDefaultStallTimeoutMs);
  m_stallTimer.setSingleShot(true);
  m_checkTimer.setSingleShot(true);
  setCheckTimeout(kDefaultCheckTimeoutMs);
  setRateFloor(kDefaultMinBytesPerSecond, kDefaultRateWindowMs);

  connect(&m_ftp, &QFtp::commandFinished, this, &FtpManager::onCmdFinished);
  connect(&m_ftp, &QFtp::listInfo, this, &FtpManager::onListInfo);
  connect(&m_ftp, &QFtp::stateChanged, this, &FtpManager::onStateChanged);
  connect(&m_stallTimer, &QTimer::timeout, this, &FtpManager::onTransferStalled);
  connect(&m_checkTimer, &QTimer::timeout, this, &FtpManager::onCheckTimeout);
  connect(&m_rateTimer, &QTimer::timeout, this, &FtpManager::onRateTick);
}

FtpManager::~FtpManager() {
  if (m_pDownload) {
    // Ending mid-transfer: leave no partial installer behind.
    m_pDownload->disconnect(this);
    m_file.close();
    m_file.remove();
  }
}

void FtpManager::setServer(const QString& strHost, quint16 nPort, const QString& strUser,
                           const QString& strPassword) {
  m_strHost = strHost;
  m_nPort = nPort;
  m_strUser = strUser;
  m_strPassword = strPassword;
  m_url = QUrl();
  m_url.setScheme(QStringLiteral("ftp"));
  m_url.setHost(strHost);
  m_url.setPort(nPort);
  m_url.setUserName(strUser);
  m_url.setPassword(strPassword);
}

void FtpManager::setStallTimeout(int nMilliseconds) { m_stallTimer.setInterval(nMilliseconds); }

void FtpManager::setCheckTimeout(int nMilliseconds) { m_checkTimer.setInterval(nMilliseconds); }

void FtpManager::setMaxTransferBytes(qint64 nBytes) { m_nMaxTransferBytes = nBytes; }

void FtpManager::setRateFloor(qint64 nBytesPerSecond, int nWindowMs) {
  m_nMinBytesPerSecond = nBytesPerSecond;
  m_rateTimer.setInterval(nWindowMs);
}

void FtpManager::setPublicKey(const QByteArray& publicKey) { m_publicKey = publicKey.trimmed(); }

QUrl FtpManager::downloadUrl(const QString& strRemotePath) const {
  QUrl url = m_url;
  url.setPath(strRemotePath, QUrl::DecodedMode);
  return url;
}

int FtpManager::checkNewestVersion() {
  // A second check would only queue behind a first that may be stuck for a while.
  if (isChecking() || m_ftp.hasPendingCommands()) return true;
  if (m_publicKey.isEmpty()) {
    log(RSLogger::LevelWarning,
        QStringLiteral("This build has no update signing key: releases are not verified."),
        "FtpManager::checkNewestVersion");
  }
  m_checkTimer.start();
  m_strNewestVersion.clear();
  m_nIgnoredNames = 0;
  if (m_ftp.state() != QFtp::LoggedIn) {
    m_ftp.connectToHost(m_strHost, m_nPort);
    m_ftp.login(m_strUser, m_strPassword);
  }
  return m_ftp.list(COMMON::kUpdateDirectory);
}

QVersionNumber FtpManager::releaseVersion(const QString& strReleaseName) {
  return QVersionNumber::fromString(strReleaseName.mid(1));
}

bool FtpManager::isReleaseEntry(const QUrlInfo& urlInfo) {
  const QString name = urlInfo.name();
  return urlInfo.isDir() && !name.isEmpty() && name.at(0) == QLatin1Char('V');
}

bool FtpManager::isSafeReleaseName(const QString& strReleaseName) {
  // \z, not $: a trailing newline must not pass.
  static const QRegularExpression pattern(QStringLiteral("\\AV[0-9]{1,9}(\\.[0-9]{1,9}){0,15}\\z"));
  return pattern.match(strReleaseName).hasMatch();
}

QString FtpManager::newerRelease(const QString& strCurrent, const QString& strCandidate) {
  if (strCandidate.isEmpty()) return strCurrent;
  if (strCurrent.isEmpty()) return strCandidate;
  return releaseVersion(strCandidate) > releaseVersion(strCurrent) ? strCandidate : strCurrent;
}

QString FtpManager::stateName(int nState) {
  static const QStringList names = {
      QStringLiteral("unconnected"), QStringLiteral("HostLookup"), QStringLiteral("Connecting"),
      QStringLiteral("Connected"),   QStringLiteral("LoggedIn"),   QStringLiteral("Closing"),
  };
  static const QString unknown = QStringLiteral("error state");
  return nState >= 0 && nState < names.size() ? names.at(nState) : unknown;
}

QString FtpManager::commandName(int nCommand) {
  static const QStringList names = {
      QStringLiteral("None"),       QStringLiteral("SetTransferMode"),
      QStringLiteral("SetProxy"),   QStringLiteral("ConnectToHost"),
      QStringLiteral("Login"),      QStringLiteral("Close"),
      QStringLiteral("List"),       QStringLiteral("Cd"),
      QStringLiteral("Get"),        QStringLiteral("Put"),
      QStringLiteral("Remove"),     QStringLiteral("Mkdir"),
      QStringLiteral("Rmdir"),      QStringLiteral("Rename"),
      QStringLiteral("RawCommand"),
  };
  static const QString unknown = QStringLiteral("Unknown Command");
  return nCommand >= 0 && nCommand < names.size() ? names.at(nCommand) : unknown;
}

QString FtpManager::statusText(int nState, int nCommand, const QString& strErrorString) {
  if (nState == QFtp::Unconnected) {
    return QStringLiteral("FTP current state: [[%1]] current command: [[%2]]")
        .arg(stateName(nState), commandName(nCommand));
  }
  return QStringLiteral("FTP current state: [[%1]] current command: [[%2]] error message: [[%3]]")
      .arg(stateName(nState), commandName(nCommand), strErrorString);
}

void FtpManager::onListInfo(const QUrlInfo& urlInfo) {
  if (!isReleaseEntry(urlInfo)) return;
  // The name becomes part of a local file path: a broken or hostile listing must not
  // be able to point the download anywhere else.
  if (!isSafeReleaseName(urlInfo.name())) {
    constexpr int kLoggedNames = 5;
    if (++m_nIgnoredNames <= kLoggedNames)
      log(RSLogger::LevelWarning,
          QStringLiteral("Release directory with an unusable name ignored. (%1)%2")
              .arg(qftpparse::harmless(urlInfo.name(), 120),
                   m_nIgnoredNames == kLoggedNames
                       ? QStringLiteral(" Further such names are not logged.")
                       : QString()),
          "FtpManager::onListInfo");
    return;
  }
  m_strNewestVersion = newerRelease(m_strNewestVersion, urlInfo.name());
}

void FtpManager::onCmdFinished(int commandId, bool bError) {
  Q_UNUSED(commandId)
  if (bError) {
    m_checkTimer.stop();
    // The error text carries the server's reply: one line, nothing it could forge.
    log(RSLogger::LevelError,
        QStringLiteral("FTP command Failed. (%1)")
            .arg(statusText(m_ftp.state(), m_ftp.currentCommand(),
                            qftpparse::harmless(m_ftp.errorString(), 400))),
        "FtpManager::onCmdFinished");
    return;
  }
  if (m_ftp.currentCommand() != QFtp::List) return;
  m_checkTimer.stop();
  if (releaseVersion(COMMON::kProgramVersion) >= releaseVersion(m_strNewestVersion)) {
    m_strNewestVersion.clear();
  }
  emit signalNeedUpdate(m_strNewestVersion);
}

void FtpManager::onStateChanged(int state) { Q_UNUSED(state) }

void FtpManager::onCheckTimeout() {
  const QString reason = QStringLiteral("the update check took longer than %1 s")
                             .arg(m_checkTimer.interval() / 1000.0);
  log(RSLogger::LevelWarning, QStringLiteral("Update check given up: %1.").arg(reason),
      "FtpManager::onCheckTimeout");
  m_ftp.abandon(reason);
}

bool FtpManager::downloadFile(QString strRemotePath, QString strLocalPath) {
  if (m_pDownload) {
    log(RSLogger::LevelWarning,
        QStringLiteral("A download is already running; %1 not started.").arg(strRemotePath),
        "FtpManager::downloadFile");
    return false;
  }
  m_bInterrupted = false;
  m_strLocalPath = strLocalPath;
  m_strRemotePath = strRemotePath;

  // The part file is ours alone: a leftover (or a link planted in its place) goes first,
  // and the new one is created afresh, never opened through something that appeared since.
  const QFileInfo partInfo(partPath());
  if ((partInfo.exists() || partInfo.isSymLink()) && !QFile::remove(partPath())) {
    log(RSLogger::LevelError,
        QStringLiteral("Cannot remove the old installer file. (%1)").arg(partPath()),
        "FtpManager::downloadFile");
    return false;
  }
  m_file.setFileName(partPath());
  if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
    log(RSLogger::LevelError,
        QStringLiteral("Cannot create the installer file. (%1: %2)")
            .arg(partPath(), m_file.errorString()),
        "FtpManager::downloadFile");
    return false;
  }
  m_phase = Phase::Installer;
  startTransfer(strRemotePath);
  return true;
}

void FtpManager::startTransfer(const QString& strRemotePath) {
  m_nReceived = 0;
  m_nAnnounced = -1;
  m_nWindowStart = 0;
  m_signature.clear();
  m_strFailure.clear();
  // A client of its own per transfer: the check's connection stays as it is, and a
  // cancelled transfer takes its connection with it.
  m_pDownload = new QFtp(this);
  m_pDownload->setInactivityTimeout(0);  // the stall timer below is the bound
  connect(m_pDownload, &QFtp::commandFinished, this, &FtpManager::onTransferCommandFinished);
  connect(m_pDownload, &QFtp::dataTransferProgress, this, &FtpManager::onTransferProgress);
  m_pDownload->connectToHost(m_strHost, m_nPort);
  m_pDownload->login(m_strUser, m_strPassword);
  if (m_phase == Phase::Installer) {
    m_nGetId = m_pDownload->get(strRemotePath, &m_file);
  } else {
    m_signatureBuffer.setBuffer(&m_signature);
    m_signatureBuffer.open(QIODevice::WriteOnly);
    m_nGetId = m_pDownload->get(strRemotePath, &m_signatureBuffer);
  }
  m_pDownload->close();
  m_stallTimer.start();
  m_rateTimer.start();
}

void FtpManager::onTransferProgress(qint64 bytesDone, qint64 bytesTotal) {
  if (!m_pDownload || !m_strFailure.isEmpty() || m_bInterrupted) return;
  m_stallTimer.start();
  m_nReceived = bytesDone;
  m_nAnnounced = bytesTotal;
  const qint64 bound = m_phase == Phase::Installer ? m_nMaxTransferBytes : kMaxSignatureBytes;
  if (m_nReceived > bound) {
    failTransfer(QStringLiteral("the server sent more than %1 bytes").arg(bound),
                 QNetworkReply::ProtocolFailure);
    return;
  }
  if (m_phase == Phase::Installer) emit downloadProgress(bytesDone, bytesTotal);
}

void FtpManager::onTransferCommandFinished(int commandId, bool bError) {
  if (!m_pDownload || sender() != m_pDownload) return;
  if (bError) {
    if (m_strFailure.isEmpty() && !m_bInterrupted) {
      m_strFailure = qftpparse::harmless(m_pDownload->errorString(), 400);
      emit error(QNetworkReply::ProtocolFailure);
    }
    dlFinished();
  } else if (commandId == m_nGetId) {
    // The file is complete; the goodbye is not waited for.
    dlFinished();
  }
}

void FtpManager::cancelDownload() {
  m_bInterrupted = true;
  if (m_pDownload) {
    emit error(QNetworkReply::OperationCanceledError);
    // Dropping the connection ends the transfer at once, so dlFinished reports the
    // interruption.
    m_pDownload->abandon(QStringLiteral("cancelled"));
    if (m_pDownload) dlFinished();
  }
}

void FtpManager::failTransfer(const QString& strReason, QNetworkReply::NetworkError code) {
  if (!m_pDownload || !m_strFailure.isEmpty()) return;
  m_strFailure = strReason;
  emit error(code);
  m_pDownload->abandon(strReason);
  if (m_pDownload) dlFinished();
}

void FtpManager::onTransferStalled() {
  failTransfer(QStringLiteral("no data received for %1 s, transfer aborted")
                   .arg(m_stallTimer.interval() / 1000.0),
               QNetworkReply::TimeoutError);
}

void FtpManager::onRateTick() {
  if (!m_pDownload) {
    m_rateTimer.stop();
    return;
  }
  const qint64 window = m_rateTimer.interval();
  if ((m_nReceived - m_nWindowStart) * 1000 < m_nMinBytesPerSecond * window) {
    failTransfer(QStringLiteral("slower than %1 bytes/s for %2 s, transfer aborted")
                     .arg(m_nMinBytesPerSecond)
                     .arg(window / 1000.0),
                 QNetworkReply::TimeoutError);
    return;
  }
  m_nWindowStart = m_nReceived;
}

void FtpManager::dlFinished() {
  QFtp* client = m_pDownload;
  if (!client) return;
  m_pDownload = nullptr;
  m_stallTimer.stop();
  m_rateTimer.stop();
  // Called from inside the client's own signals: it goes once they have returned.
  client->disconnect(this);
  client->abandon(QString());
  client->deleteLater();
  m_signatureBuffer.close();

  QString failure = m_strFailure;
  if (failure.isEmpty() && !m_bInterrupted) {
    if (m_nReceived == 0 && m_phase == Phase::Installer)
      failure = QStringLiteral("the server sent an empty file: %1").arg(m_strRemotePath);
    else if (m_nAnnounced > 0 && m_nReceived < m_nAnnounced)
      // A connection closed early looks like a normal end; only the size tells.
      failure = QStringLiteral("the transfer ended after %1 of %2 bytes")
                    .arg(m_nReceived)
                    .arg(m_nAnnounced);
  }

  if (m_phase == Phase::Signature && !m_bInterrupted) {
    verifyInstaller(failure);
    return;
  }
  if (!failure.isEmpty() && !m_bInterrupted) {
    log(RSLogger::LevelError, QStringLiteral("Download failed. (%1)").arg(failure),
        "FtpManager::dlFinished");
  }
  if (!failure.isEmpty() || m_bInterrupted) {
    m_file.close();
    m_file.remove();
    emit downloadFinished(true, m_strLocalPath);
    return;
  }
  if (!m_file.flush()) {
    log(RSLogger::LevelError,
        QStringLiteral("Writing the installer failed. (%1: %2)")
            .arg(m_file.fileName(), m_file.errorString()),
        "FtpManager::dlFinished");
    m_file.close();
    m_file.remove();
    emit downloadFinished(true, m_strLocalPath);
    return;
  }
  m_file.close();
  if (m_publicKey.isEmpty()) {
    finishInstaller();
    return;
  }
  m_phase = Phase::Signature;
  startTransfer(m_strRemotePath + QStringLiteral(".minisig"));
}

void FtpManager::verifyInstaller(const QString& strFetchFailure) {
  QString reason;
  if (!strFetchFailure.isEmpty())
    reason = QStringLiteral("no signature file (%1)").arg(strFetchFailure);
  else
    minisign::verifyFile(partPath(), m_signature, m_publicKey, &reason);
  if (reason.isEmpty()) {
    finishInstaller();
    return;
  }
  log(RSLogger::LevelError,
      QStringLiteral("Installer refused: its signature does not hold. (%1: %2)")
          .arg(m_strRemotePath, reason),
      "FtpManager::verifyInstaller");
  QFile::remove(partPath());
  emit installerRejected(reason);
  emit downloadFinished(true, m_strLocalPath);
}

void FtpManager::finishInstaller() {
  // The local file is replaced only by a whole (and, with a key, verified) installer.
  const QFileInfo localInfo(m_strLocalPath);
  if (((localInfo.exists() || localInfo.isSymLink()) && !QFile::remove(m_strLocalPath)) ||
      !QFile::rename(partPath(), m_strLocalPath)) {
    log(RSLogger::LevelError,
        QStringLiteral("Cannot put the installer in place. (%1)").arg(m_strLocalPath),
        "FtpManager::dlFinished");
    QFile::remove(partPath());
    emit downloadFinished(true, m_strLocalPath);
    return;
  }
  emit downloadFinished(false, m_strLocalPath);
}
