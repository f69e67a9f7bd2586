// The main of a benchmark whose code needs a Qt application object (timers, the
// logger's application path, queued connections).
#include <benchmark/benchmark.h>
#include <QCoreApplication>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
