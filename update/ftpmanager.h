// The update server's client side: finds the newest release in the release directory
// and downloads a release's installer, both through the program's own FTP client.
#pragma once

#include <QBuffer>
#include <QFile>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QVersionNumber>

#include "qftp.h"
#include "qurlinfo.h"

class FtpManager : public QObject {
  Q_OBJECT

 public:
  // A transfer that receives nothing for this long is given up.
  static constexpr int kDefaultStallTimeoutMs = 30000;
  // A whole check (connect, login, listing) ends within this, whatever the server does.
  static constexpr int kDefaultCheckTimeoutMs = 60000;
  // No installer is this large; a server that sends more is not sending one.
  static constexpr qint64 kDefaultMaxInstallerBytes = qint64(1) << 30;
  // A transfer slower than this on average over a whole window is as good as stalled.
  static constexpr qint64 kDefaultMinBytesPerSecond = 1024;
  static constexpr int kDefaultRateWindowMs = 60000;
  // A signature file is four short lines.
  static constexpr qint64 kMaxSignatureBytes = 16 * 1024;

  explicit FtpManager(QObject* parent = nullptr);
  ~FtpManager() override;

  // Starts a check: (re)connects and logs in unless already logged in, then lists the
  // release directory. Returns the listing's command identifier, or true (1) when the
  // check was skipped because the client still has commands queued.
  int checkNewestVersion();

  // Starts fetching `strRemotePath` into `strLocalPath`. Returns false (with a log
  // line) when the transfer could not be started; the end is reported only for a
  // transfer that started.
  bool downloadFile(QString strRemotePath, QString strLocalPath);
  void cancelDownload();
  bool isDownloading() const { return m_pDownload != nullptr; }
  bool isChecking() const { return m_checkTimer.isActive(); }

  // Where the check and the download go; the build's update server unless a caller
  // (a test, a mirror) points it elsewhere.
  void setServer(const QString& strHost, quint16 nPort, const QString& strUser,
                 const QString& strPassword);
  void setStallTimeout(int nMilliseconds);
  void setCheckTimeout(int nMilliseconds);
  void setMaxTransferBytes(qint64 nBytes);
  void setRateFloor(qint64 nBytesPerSecond, int nWindowMs);
  // The base64 line of the release operators' minisign public key. With a key, an
  // installer is handed on only with a valid signature beside it on the server; with
  // none (an empty key), releases are not verified.
  void setPublicKey(const QByteArray& publicKey);
  QUrl downloadUrl(const QString& strRemotePath) const;

  // The release rules, as plain functions.
  // "V1.0.0.28" -> 1.0.0.28; the leading character is dropped, trailing text ignored.
  static QVersionNumber releaseVersion(const QString& strReleaseName);
  // A listing entry that may name a release: a directory whose name starts with "V".
  static bool isReleaseEntry(const QUrlInfo& urlInfo);
  // A name that is safe to use in a file name: "V" followed by dotted decimal numbers.
  static bool isSafeReleaseName(const QString& strReleaseName);
  // The newer of the two names; on a tie (or an empty candidate) the current one.
  static QString newerRelease(const QString& strCurrent, const QString& strCandidate);
  // What goes into the log when a command fails.
  static QString stateName(int nState);
  static QString commandName(int nCommand);
  static QString statusText(int nState, int nCommand, const QString& strErrorString);

 signals:
  void error(QNetworkReply::NetworkError code);
  void downloadProgress(qint64 bytesReceived, qint64 bytesTotal);
  void signalNeedUpdate(QString strNewestVersion);
  void downloadFinished(bool bInterrupted, QString strFilePath);
  // The installer arrived but its signature did not hold; emitted just before
  // downloadFinished reports the interruption. The reason is fit for a message box.
  void installerRejected(QString strReason);

 public slots:
  void dlFinished();
  void onListInfo(const QUrlInfo& urlInfo);
  void onCmdFinished(int commandId, bool bError);
  void onStateChanged(int state);

 private slots:
  void onTransferStalled();
  void onCheckTimeout();
  void onRateTick();
  void onTransferProgress(qint64 bytesDone, qint64 bytesTotal);
  void onTransferCommandFinished(int commandId, bool bError);

 private:
  // Ends the running transfer as failed, with `strReason` in the log.
  void failTransfer(const QString& strReason, QNetworkReply::NetworkError code);
  void startTransfer(const QString& strRemotePath);
  // The installer and its signature have arrived (or the signature could not be
  // fetched, for `strFetchFailure`): only a verified installer is put in place.
  void verifyInstaller(const QString& strFetchFailure);
  // Puts the whole (and, with a key, verified) installer in place of the local file.
  void finishInstaller();
  QString partPath() const { return m_strLocalPath + QStringLiteral(".part"); }

 private:
  QUrl m_url;
  QFile m_file;
  QFtp m_ftp;
  QString m_strNewestVersion;
  // Unusable release names seen in the current listing; only the first few are logged.
  int m_nIgnoredNames = 0;
  // The running transfer's own client; null while none runs.
  QFtp* m_pDownload = nullptr;
  int m_nGetId = 0;
  bool m_bInterrupted = false;

  QString m_strHost;
  quint16 m_nPort = 0;
  QString m_strUser;
  QString m_strPassword;
  // Qt applies no transfer timeout to ftp URLs; this one restarts on every sign of data.
  QTimer m_stallTimer;
  QTimer m_checkTimer;
  QTimer m_rateTimer;
  qint64 m_nMaxTransferBytes = kDefaultMaxInstallerBytes;
  qint64 m_nMinBytesPerSecond = kDefaultMinBytesPerSecond;
  QByteArray m_publicKey;

  // The running transfer: the installer into "<local>.part", then its signature into
  // memory. The part file becomes the local file only once it is whole and verified.
  enum class Phase { Installer, Signature };
  Phase m_phase = Phase::Installer;
  QString m_strRemotePath;
  QString m_strLocalPath;
  qint64 m_nReceived = 0;
  qint64 m_nAnnounced = -1;
  qint64 m_nWindowStart = 0;
  QByteArray m_signature;
  QBuffer m_signatureBuffer;
  // Why the transfer was ended by this side; empty while nothing went wrong.
  QString m_strFailure;
};
