#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include "rslogger.h"

// One log line, formatted, written and flushed to the file.
static void BM_WriteLogLine(benchmark::State& state) {
  QTemporaryDir dir;
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  RSLogger logger(dir.path());
  for (auto _ : state)
    logger.writeLog(RSLogger::LevelWarning, QStringLiteral("Device refused the data frame."),
                    "SendHIDDataThread::sendDataToHIDDevice");
  qInstallMessageHandler(nullptr);
}
BENCHMARK(BM_WriteLogLine);
