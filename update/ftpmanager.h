// The update server's client side: finds the newest release in the release directory
// (through the program's own FTP client) and downloads a release's installer (through
// Qt's network access manager).
#pragma once

#include <QFile>
#include <QNetworkAccessManager>
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
  bool isDownloading() const { return m_pReply != nullptr; }

  // Where the check and the download go; the build's update server unless a caller
  // (a test, a mirror) points it elsewhere.
  void setServer(const QString& strHost, quint16 nPort, const QString& strUser,
                 const QString& strPassword);
  void setStallTimeout(int nMilliseconds);
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

 public slots:
  void dlFinished();
  void onListInfo(const QUrlInfo& urlInfo);
  void onCmdFinished(int commandId, bool bError);
  void onStateChanged(int state);

 private slots:
  void onTransferStalled();

 private:
  QUrl m_url;
  QFile m_file;
  QFtp m_ftp;
  QNetworkAccessManager m_networkManager;
  QString m_strNewestVersion;
  // Unusable release names seen in the current listing; only the first few are logged.
  int m_nIgnoredNames = 0;
  QNetworkReply* m_pReply = nullptr;
  bool m_bInterrupted = false;

  QString m_strHost;
  quint16 m_nPort = 0;
  QString m_strUser;
  QString m_strPassword;
  // Qt applies no transfer timeout to ftp URLs; this one restarts on every sign of data.
  QTimer m_stallTimer;
  bool m_bStalled = false;
};
