// Records every signal of a QFtp as one line of text, in order, for the FTP tests.
#pragma once

#include <QObject>
#include <QStringList>
#include <QVector>

#include "qftp.h"

class QFtpRecorder : public QObject {
  Q_OBJECT

 public:
  explicit QFtpRecorder(QFtp* ftp) : m_ftp(ftp) {
    connect(ftp, &QFtp::stateChanged, this,
            [this](int s) { events << QStringLiteral("state %1").arg(s); });
    connect(ftp, &QFtp::listInfo, this, [this](const QUrlInfo& i) {
      events << QStringLiteral("info %1").arg(i.name());
      entries << i;
    });
    connect(ftp, &QFtp::commandStarted, this,
            [this](int id) { events << QStringLiteral("started %1").arg(id); });
    connect(ftp, &QFtp::commandFinished, this, [this](int id, bool error) {
      events << QStringLiteral("finished %1 %2").arg(id).arg(error ? "error" : "ok");
      finishedCommands << m_ftp->currentCommand();
    });
    connect(ftp, &QFtp::done, this, [this](bool error) {
      events << QStringLiteral("done %1").arg(error ? "error" : "ok");
      ++doneCount;
      lastDoneError = error;
    });
  }

  // The events without the listing entries and state changes.
  QStringList commandEvents() const {
    QStringList out;
    for (const QString& e : events)
      if (!e.startsWith(QLatin1String("info ")) && !e.startsWith(QLatin1String("state "))) out << e;
    return out;
  }

  QStringList names() const {
    QStringList out;
    for (const QUrlInfo& i : entries) out << i.name();
    return out;
  }

  QStringList events;
  QVector<QUrlInfo> entries;
  QVector<QFtp::Command> finishedCommands;
  int doneCount = 0;
  bool lastDoneError = false;

 private:
  QFtp* m_ftp;
};
