// The display link against the real hidapi with faults under it (hidrawshim.cpp preloaded):
// recognition of every node over and over, the send thread streaming to what was
// recognised, and devices unplugged at random, as the main window wires them. Ends with 0
// when it ran its time and shut down; a crash, a hang (the test's time limit) or a
// sanitizer report is the failure.
//
//   stelvox_hidfaults <seconds> [nodes]
#include <dlfcn.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <memory>

#include "hiddevicesmanager.h"
#include "hidrecognizer.h"
#include "sendhiddatathread.h"

namespace {

std::atomic<long> g_logLines{0};
void countLine(QtMsgType, const QMessageLogContext&, const QString&) { ++g_logLines; }

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int seconds = argc > 1 ? QString(argv[1]).toInt() : 20;
  const int nodeCount = argc > 2 ? QString(argv[2]).toInt() : 12;
  qputenv("XDG_CONFIG_HOME", QByteArray("/nonexistent/stelvox-hidfaults"));
  qInstallMessageHandler(countLine);

  QStringList paths;
  for (int i = 0; i < nodeCount; ++i) paths << QStringLiteral("/dev/hidraw-fault%1").arg(i);

  HIDDevicesManager manager;
  auto thread = std::make_unique<SendHIDDataThread>();
  thread->onSetHardwareData({"--", "12", "61", "8", "1450"});
  thread->start();
  HIDRecognizer recognizer;
  long results = 0;
  QObject::connect(&recognizer, &HIDRecognizer::identified, [&](const HIDIdentifyResult& result) {
    ++results;
    const int before = manager.devices().size();
    manager.applyIdentifyResult(result);
    if (manager.devices().size() != before) thread->setDevices(manager.devices());
  });

  // Arrivals as fast as the exchanges finish (one at a time per node), removals now and then.
  QTimer arrivals;
  QObject::connect(&arrivals, &QTimer::timeout, [&] {
    for (const QString& path : qAsConst(paths)) recognizer.recognize(path, 0x2E3C, 0x0A15);
  });
  arrivals.start(2);
  QTimer removals;
  QObject::connect(&removals, &QTimer::timeout, [&] {
    const QString path = paths[QRandomGenerator::global()->bounded(paths.size())];
    recognizer.forget(path);
    const int before = manager.devices().size();
    manager.handleRemoval(path);
    if (manager.devices().size() != before) thread->setDevices(manager.devices());
  });
  removals.start(150);

  // The window's side: the event loop must keep turning whatever the devices do.
  qint64 worstDelay = 0;
  QElapsedTimer sinceLast;
  sinceLast.start();
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout,
                   [&] { worstDelay = qMax(worstDelay, sinceLast.restart() - probe.interval()); });
  probe.start(10);

  QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
  app.exec();

  QElapsedTimer stopping;
  stopping.start();
  thread.reset();
  const qint64 stopMs = stopping.elapsed();

  // Exchanges left running (a stalled write, a late reply) end within seconds and close
  // their nodes; a node still open after that was lost, and the leak check would not
  // tell it from one still in use.
  using OpenFiles = long (*)();
  const auto openFiles =
      reinterpret_cast<OpenFiles>(::dlsym(RTLD_DEFAULT, "hidrawshim_open_files"));
  const long openAtQuit = openFiles ? openFiles() : -1;
  QElapsedTimer draining;
  draining.start();
  while (openFiles && openFiles() > 0 && draining.elapsed() < 15000) QThread::msleep(50);
  const long leftOpen = openFiles ? openFiles() : -1;
  QThread::msleep(200);  // their threads end right after the close

  std::fprintf(stderr,
               "hidfaults: %d s, %lld identify results, %ld log lines, longest event-loop delay "
               "%lld ms, send thread stopped in %lld ms, %ld nodes open at quit, %ld after %lld "
               "ms\n",
               seconds, static_cast<long long>(results), g_logLines.load(),
               static_cast<long long>(worstDelay), static_cast<long long>(stopMs), openAtQuit,
               leftOpen, static_cast<long long>(draining.elapsed()));
  return leftOpen > 0 ? 1 : 0;
}
