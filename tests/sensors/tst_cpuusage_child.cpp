// A minimal program around the real sampler, for the tests that end or kill it:
// starts the sampler with the helper given as its argument, prints the helper's
// process id once the helper's first value has reached the sample, and quits when
// its standard input ends, leaving the sampler to be released at exit as the
// program does.
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>

#include "cpuusage.h"
#include "hardwareinforeader.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) return 2;
  cpuusage::setHelperPath(QString::fromLocal8Bit(argv[1]));

  HardwareInfoReader* reader = HardwareInfoReader::instance().data();
  auto* helper = reader->findChild<cpuusage::HelperProcess*>();
  if (!helper) return 3;

  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (reader->currentHardwareInfo().strCPUUsageRate == QLatin1String("--") ||
        !helper->isRunning())
      return;
    std::printf("%lld\n", static_cast<long long>(helper->processId()));
    std::fflush(stdout);
    watch.stop();
  });
  watch.start(50);

  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[64];
    if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) app.quit();
  });

  reader->start(300);
  return app.exec();
}
