// Linux layer of the settings store: an INI file under the XDG configuration
// folder, and an XDG autostart desktop entry.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

#include "settings.h"

namespace COMMON::platform {

namespace {

QString configHome() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString autoStartFile(const QString& entryName) {
  return configHome() + QStringLiteral("/autostart/") + entryName + QStringLiteral(".desktop");
}

// Exec= arguments follow the desktop entry quoting rules: reserved characters
// force double quotes, inside which " ` $ and \ are escaped; % is doubled.
QString quoteExecArgument(const QString& path) {
  static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
  bool needsQuotes = false;
  for (QChar c : path) needsQuotes = needsQuotes || reserved.contains(c);
  QString escaped;
  for (QChar c : path) {
    if (c == QLatin1Char('%')) {
      escaped += QStringLiteral("%%");
      continue;
    }
    if (needsQuotes && QStringLiteral("\"`$\\").contains(c)) escaped += QLatin1Char('\\');
    escaped += c;
  }
  // The key file format itself escapes backslashes once more.
  escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
  return needsQuotes ? QLatin1Char('"') + escaped + QLatin1Char('"') : escaped;
}

QString unquoteExecArgument(QString value) {
  value.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
  QString out;
  if (!value.startsWith(QLatin1Char('"'))) {
    const int space = value.indexOf(QLatin1Char(' '));
    out = space < 0 ? value : value.left(space);
  } else {
    for (int i = 1; i < value.size(); ++i) {
      const QChar c = value.at(i);
      if (c == QLatin1Char('"')) break;
      if (c == QLatin1Char('\\') && i + 1 < value.size()) {
        out += value.at(++i);
        continue;
      }
      out += c;
    }
  }
  out.replace(QStringLiteral("%%"), QStringLiteral("%"));
  return out;
}

}  // namespace

QString settingsFilePath() {
  return configHome() + QStringLiteral("/Ostrel/") + QCoreApplication::applicationName() +
         QStringLiteral(".conf");
}

QString registeredAutoStartPath(const QString& entryName) {
  QFile file(autoStartFile(entryName));
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return QString();
  QTextStream in(&file);
  in.setCodec("UTF-8");
  bool inMainGroup = false;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.startsWith(QLatin1Char('['))) {
      inMainGroup = line == QStringLiteral("[Desktop Entry]");
    } else if (inMainGroup && line.startsWith(QStringLiteral("Exec="))) {
      return unquoteExecArgument(line.mid(5).trimmed());
    }
  }
  return QString();
}

void registerAutoStart(const QString& entryName, const QString& executablePath) {
  if (!QDir().mkpath(configHome() + QStringLiteral("/autostart"))) return;
  QSaveFile file(autoStartFile(entryName));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return;
  QTextStream out(&file);
  out.setCodec("UTF-8");
  out << "[Desktop Entry]\n"
      << "Type=Application\n"
      << "Name=" << QCoreApplication::applicationName() << "\n"
      << "Comment=Hardware monitor for USB display devices\n"
      << "Exec=" << quoteExecArgument(executablePath) << "\n"
      << "Icon=stelvox\n"
      << "Terminal=false\n"
      << "X-GNOME-Autostart-enabled=true\n";
  out.flush();
  file.commit();
}

void unregisterAutoStart(const QString& entryName) { QFile::remove(autoStartFile(entryName)); }

}  // namespace COMMON::platform
