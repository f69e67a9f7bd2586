// A stand-in for the program around QSingleApplication: reports on stdout
// whether another instance answered, whether it listens, and when its window is
// brought forward. Ends when its standard input closes.
#include <QEvent>
#include <QSocketNotifier>
#include <QWidget>

#include <cstdio>

#include "qsingleapplication.h"

namespace {
void say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

class ShowWatcher : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) say("shown");
    return QObject::eventFilter(watched, event);
  }
};
}  // namespace

int main(int argc, char* argv[]) {
  QSingleApplication app(argc, argv);
  say(app.isRunning() ? "running 1" : "running 0");
  if (app.isRunning()) return 0;

  QWidget window;
  ShowWatcher watcher;
  window.installEventFilter(&watcher);
  app.setMainWindow(&window);
  window.hide();
  say(app.isListening() ? "listening 1" : "listening 0");

  QSocketNotifier input(0, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, &app, [&input]() {
    char buffer[256];
    if (std::fgets(buffer, sizeof buffer, stdin) == nullptr) {
      input.setEnabled(false);
      QCoreApplication::quit();
    }
  });
  return app.exec();
}
