#include "rslogger.h"

#include <QAtomicPointer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QTextStream>
#include <QtDebug>

#include "filelocations.h"

namespace {

// One lock serialises creation of the instance and every line.
QMutex& loggerMutex() {
  static QMutex mutex;
  return mutex;
}

QAtomicPointer<RSLogger> g_created;
bool g_processLoggerDestroyed = false;

const QString kLogFilePrefix = QStringLiteral("Log_");
const QString kLogFileSuffix = QStringLiteral(".txt");

}  // namespace

QSharedPointer<RSLogger>& RSLogger::instance() {
  static QSharedPointer<RSLogger> s_instance;
  if (!g_created.loadAcquire()) {
    QMutexLocker lock(&loggerMutex());
    if (!g_created.loadRelaxed()) {
      s_instance.reset(new RSLogger(defaultFolder(), true));
      g_created.storeRelease(s_instance.data());
    }
  }
  return s_instance;
}

RSLogger::RSLogger(const QString& folder) : RSLogger(folder, false) {}

RSLogger::RSLogger(const QString& folder, bool processWide) : m_processWide(processWide) {
  openFile(folder);
}

RSLogger::~RSLogger() {
  QMutexLocker lock(&loggerMutex());
  if (m_file) {
    m_file->close();
    delete m_file;
    m_file = nullptr;
  }
  if (m_processWide) g_processLoggerDestroyed = true;
}

void RSLogger::openFile(const QString& folder) {
  QDir dir(folder);
  if (!dir.exists() && !dir.mkpath(QStringLiteral("."))) {
    qDebug().noquote() << QStringLiteral("Create Log folder fail. [%1]").arg(folder);
    return;
  }
  const QString path =
      dir.filePath(kLogFilePrefix + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) +
                   kLogFileSuffix);
  pruneOldFiles(folder);

  m_file = new QFile(path);
  const bool existed = m_file->exists();
  if (!m_file->open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Text)) {
    // Today's name taken by a folder, or no right to write: run without a file.
    qDebug().noquote()
        << QStringLiteral("Open log file fail. [%1] %2").arg(path, m_file->errorString());
    delete m_file;
    m_file = nullptr;
    return;
  }
  if (!existed) {
    const QString stars(78, QLatin1Char('*'));
    QTextStream out(m_file);
    out.setCodec("UTF-8");
    out << stars << '\n'
        << "* Device Monitor Application Running Log Information." << '\n'
        << "* BuildTime:"
        << QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) << '\n'
        << stars << '\n';
    out.flush();
    m_file->flush();
  }
}

void RSLogger::pruneOldFiles(const QString& folder) {
  // Only our own day files count: the names sort by date, so the last two are the
  // newest. Anything else a user keeps in the folder is left alone.
  QDir dir(folder);
  QStringList files = dir.entryList({kLogFilePrefix + QStringLiteral("*") + kLogFileSuffix},
                                    QDir::Files | QDir::Hidden, QDir::Name);
  while (files.size() > 2) dir.remove(files.takeFirst());
}

QString RSLogger::defaultFolder() {
  return folderFor(QCoreApplication::applicationDirPath(), COMMON::platform::stateFolder());
}

QString RSLogger::folderFor(const QString& programFolder, const QString& stateFolder) {
  // No trailing slash in the test: "logs/" of a plain file named "logs" does not exist,
  // which made a program write into a folder it could never create.
  const QFileInfo beside(programFolder + QStringLiteral("/logs"));
  const bool usable =
      (!beside.exists() && !beside.isSymLink()) || (beside.isDir() && beside.isWritable());
  if (usable && COMMON::platform::keepsFilesBesideProgram(programFolder))
    return beside.filePath() + QLatin1Char('/');
  return stateFolder + QStringLiteral("/logs/");
}

QString RSLogger::filePath() const { return m_file ? m_file->fileName() : QString(); }

QString RSLogger::levelLabel(int level) {
  switch (level) {
    case LevelInfo:
      return QStringLiteral("Info    ");
    case LevelWarning:
      return QStringLiteral("Warnning");
    case LevelError:
      return QStringLiteral("Error   ");
    case LevelCritical:
      return QStringLiteral("Critical");
    case LevelTimer:
      return QStringLiteral("Timer   ");
    case LevelDebug:
      return QStringLiteral("Debug   ");
    default:
      return QStringLiteral("Unknown ");
  }
}

QString RSLogger::formatLine(const QDateTime& time, int level, const char* function,
                             const QString& message) {
  return QStringLiteral("[%1] [%2] %3(): %4")
      .arg(time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), levelLabel(level),
           QString::fromLatin1(function ? function : ""), message);
}

void RSLogger::writeLog(int level, const QString& message, const char* function) {
  if ((level & m_levelMask) == 0) return;
  QMutexLocker lock(&loggerMutex());
  const QString line = formatLine(QDateTime::currentDateTime(), level, function, message);
  qInfo().noquote() << line;
  if (!m_file || (m_processWide && g_processLoggerDestroyed)) return;
  QTextStream out(m_file);
  out.setCodec("UTF-8");
  out << line << '\n';
  out.flush();
  m_file->flush();
}
