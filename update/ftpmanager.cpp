#include "ftpmanager.h"

#include <QFileInfo>
#include <QMetaType>
#include <QNetworkRequest>
#include <QRegularExpression>

#include "constants.h"
#include "rslogger.h"

namespace {

// A server's names end up in the log: keep them on one readable line.
QString printable(const QString& strText) {
  constexpr int kMaxLength = 120;
  QString out;
  for (const QChar c : strText.left(kMaxLength)) out += c.isPrint() ? c : QLatin1Char('?');
  if (strText.size() > kMaxLength) out += QStringLiteral("...");
  return out;
}

// Qt's error texts quote the whole URL, account and password included.
QString withoutAccount(QString strText, const QUrl& url) {
  strText.replace(url.toString(), url.toString(QUrl::RemoveUserInfo));
  if (!url.password().isEmpty()) strText.replace(url.password(), QStringLiteral("******"));
  return strText;
}

void log(int level, const QString& strMessage, const char* function) {
  RSLogger::instance()->writeLog(level, strMessage, function);
}

}  // namespace

FtpManager::FtpManager(QObject* parent)
    : QObject(parent), m_ftp(this), m_networkManager(this), m_stallTimer(this) {
  qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
  setServer(COMMON::kUpdateServerHost, COMMON::kUpdateServerPort, COMMON::kUpdateAccountName,
            COMMON::kUpdateAccountPassword);
  setStallTimeout(kDefaultStallTimeoutMs);
  m_stallTimer.setSingleShot(true);

  connect(&m_ftp, &QFtp::commandFinished, this, &FtpManager::onCmdFinished);
  connect(&m_ftp, &QFtp::listInfo, this, &FtpManager::onListInfo);
  connect(&m_ftp, &QFtp::stateChanged, this, &FtpManager::onStateChanged);
  connect(&m_stallTimer, &QTimer::timeout, this, &FtpManager::onTransferStalled);
}

FtpManager::~FtpManager() {
  if (m_pReply) {
    // Ending mid-transfer: nothing was written, so leave no empty installer behind.
    disconnect(m_pReply, nullptr, this, nullptr);
    m_pReply->abort();
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

QUrl FtpManager::downloadUrl(const QString& strRemotePath) const {
  QUrl url = m_url;
  url.setPath(strRemotePath, QUrl::DecodedMode);
  return url;
}

int FtpManager::checkNewestVersion() {
  if (m_ftp.hasPendingCommands()) return true;
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
              .arg(printable(urlInfo.name()),
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
    log(RSLogger::LevelError,
        QStringLiteral("FTP command Failed. (%1)")
            .arg(statusText(m_ftp.state(), m_ftp.currentCommand(), m_ftp.errorString())),
        "FtpManager::onCmdFinished");
    return;
  }
  if (m_ftp.currentCommand() != QFtp::List) return;
  if (releaseVersion(COMMON::kProgramVersion) >= releaseVersion(m_strNewestVersion)) {
    m_strNewestVersion.clear();
  }
  emit signalNeedUpdate(m_strNewestVersion);
}

void FtpManager::onStateChanged(int state) { Q_UNUSED(state) }

bool FtpManager::downloadFile(QString strRemotePath, QString strLocalPath) {
  if (m_pReply) {
    log(RSLogger::LevelWarning,
        QStringLiteral("A download is already running; %1 not started.").arg(strRemotePath),
        "FtpManager::downloadFile");
    return false;
  }
  m_bInterrupted = false;
  m_bStalled = false;

  const QFileInfo localInfo(strLocalPath);
  if ((localInfo.exists() || localInfo.isSymLink()) && !QFile::remove(strLocalPath)) {
    log(RSLogger::LevelError,
        QStringLiteral("Cannot remove the old installer file. (%1)").arg(strLocalPath),
        "FtpManager::downloadFile");
    return false;
  }
  m_file.setFileName(strLocalPath);
  // Created afresh by this call, never an existing file (or link) that appeared since.
  if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::NewOnly)) {
    log(RSLogger::LevelError,
        QStringLiteral("Cannot create the installer file. (%1: %2)")
            .arg(strLocalPath, m_file.errorString()),
        "FtpManager::downloadFile");
    return false;
  }

  m_pReply = m_networkManager.get(QNetworkRequest(downloadUrl(strRemotePath)));
  connect(m_pReply, &QNetworkReply::finished, this, &FtpManager::dlFinished);
  connect(m_pReply, &QNetworkReply::downloadProgress, this, &FtpManager::downloadProgress);
  connect(m_pReply, &QNetworkReply::errorOccurred, this, &FtpManager::error);
  connect(m_pReply, &QNetworkReply::downloadProgress, &m_stallTimer,
          static_cast<void (QTimer::*)()>(&QTimer::start));
  connect(m_pReply, &QNetworkReply::readyRead, &m_stallTimer,
          static_cast<void (QTimer::*)()>(&QTimer::start));
  m_stallTimer.start();
  return true;
}

void FtpManager::cancelDownload() {
  m_bInterrupted = true;
  if (QNetworkReply* reply = m_pReply) {
    // Aborting finishes the reply at once, so dlFinished reports the interruption.
    reply->abort();
    reply->deleteLater();
  }
}

void FtpManager::onTransferStalled() {
  if (!m_pReply) return;
  m_bStalled = true;
  // The abort below would report a cancellation; the reason is the silence.
  disconnect(m_pReply, &QNetworkReply::errorOccurred, this, &FtpManager::error);
  emit error(QNetworkReply::TimeoutError);
  m_pReply->abort();
}

void FtpManager::dlFinished() {
  QNetworkReply* reply = qobject_cast<QNetworkReply*>(sender());
  if (!reply) reply = m_pReply;
  if (!reply) return;
  if (reply != m_pReply) {
    reply->deleteLater();
    return;
  }
  m_stallTimer.stop();
  m_pReply = nullptr;

  // A failed transfer is reported like an interruption: the caller then discards the
  // file instead of offering to run a broken installer.
  bool bFailed = false;
  if (reply->error() == QNetworkReply::NoError) {
    const QByteArray data = reply->readAll();
    if (data.isEmpty()) {
      log(RSLogger::LevelError,
          QStringLiteral("Download failed. (the server sent an empty file: %1)")
              .arg(reply->url().path()),
          "FtpManager::dlFinished");
      bFailed = true;
    } else if (m_file.write(data) != data.size() || !m_file.flush()) {
      log(RSLogger::LevelError,
          QStringLiteral("Writing the installer failed. (%1: %2)")
              .arg(m_file.fileName(), m_file.errorString()),
          "FtpManager::dlFinished");
      bFailed = true;
    }
  } else if (!m_bInterrupted) {
    const QString reason = m_bStalled
                               ? QStringLiteral("no data received for %1 s, transfer aborted")
                                     .arg(m_stallTimer.interval() / 1000.0)
                               : withoutAccount(reply->errorString(), reply->url());
    log(RSLogger::LevelError, QStringLiteral("Download failed. (%1)").arg(reason),
        "FtpManager::dlFinished");
    bFailed = true;
  }
  m_file.close();
  reply->deleteLater();
  emit downloadFinished(m_bInterrupted || bFailed, m_file.fileName());
}
