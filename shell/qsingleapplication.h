// The application object of the program: it lets only one instance run per
// user session and brings that instance's window forward when the program is
// started again.
#pragma once

#include <QApplication>
#include <QString>
#include <functional>

class QLocalServer;
class QWidget;

class QSingleApplication : public QApplication {
  Q_OBJECT

 public:
  // Builds the application and probes for a running instance; when none answers,
  // this instance starts listening for later starts.
  QSingleApplication(int& argc, char** argv);

  // True when another instance answered at construction.
  bool isRunning() const { return m_bRunning; }
  // The window brought forward when the program is started again (not owned).
  void setMainWindow(QWidget* window);

  // "Morrowick" followed directly by "Stelvox".
  QString serverName() const { return m_serverName; }
  // Where that name lives on this platform (a socket path on Linux).
  static QString serverAddress(const QString& serverName);
  // True while this instance listens for later starts.
  bool isListening() const;

  // Ends the event loop, as a confirmed quit would, when the session asks the
  // program to end (log-out, Ctrl-C in a terminal), so that everything is shut
  // down in order and no helper process is left behind. A second request while
  // shutting down ends the process at once.
  void quitOnTerminationRequest();

 private slots:
  void newLocalConnection();

 private:
  void bringWindowForward();

  bool m_bRunning = false;
  QLocalServer* m_localServer = nullptr;
  QString m_serverName;
  QWidget* m_mainWindow = nullptr;
};

namespace COMMON::platform {

// Where a local server's name lives on this platform (a socket path on Linux).
QString localServerAddress(const QString& serverName);
// Calls `handler` on `receiver`'s thread with the signal's number when the session asks
// the program to end; a second request while that runs ends the process at once.
void onTerminationRequest(QObject* receiver, std::function<void(int)> handler);

}  // namespace COMMON::platform
