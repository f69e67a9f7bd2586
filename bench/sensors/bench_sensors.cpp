// The sensor query and one sampling pass on the recorded AMD desktop. A pass runs on
// the GUI thread, so it should stay well under a millisecond on such data.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "cpuusage.h"
#include "hardwareinforeader.h"
#include "pelmora.h"
#include "pelmoracore.h"
#include "recording.h"

namespace {
const QString kMachine = QStringLiteral(STELVOX_SOURCE_DIR "/tests/fixtures/amd-desktop");
// The recording with the most readings (an nct6779 board, k10temp, amdgpu, drives).
const QString kLargestRecording =
    QStringLiteral(STELVOX_SOURCE_DIR "/tests/fixtures/machines/recordings/0013.txt");
}  // namespace

// One call of the export, as the sampler makes it (the singleton already open).
static void BM_PlmGetHardwareInfo(benchmark::State& state) {
  for (auto _ : state) {
    pelmora::HardwareDatas datas;
    benchmark::DoNotOptimize(PLM_GetHardwareInfo(datas));
  }
}
BENCHMARK(BM_PlmGetHardwareInfo)->Unit(benchmark::kMicrosecond);

// One query over the sysfs tree of the largest real recording.
static void BM_QueryLargestRecording(benchmark::State& state) {
  QTemporaryDir root;
  QFile text(kLargestRecording);
  if (!text.open(QIODevice::ReadOnly) ||
      !recording::writeTree(recording::parse(text.readAll()), root.path())) {
    state.SkipWithError("the recording could not be turned into a tree");
    return;
  }
  const QByteArray sys = qgetenv("HOST_SYS"), proc = qgetenv("HOST_PROC");
  fixtures::useRoots(root.path());
  pelmora::Pelmora library(pelmora::platform::createComputer());
  qputenv("HOST_SYS", sys);
  qputenv("HOST_PROC", proc);
  for (auto _ : state) {
    pelmora::HardwareDatas datas;
    benchmark::DoNotOptimize(library.getHardwareInfo(datas));
  }
}
BENCHMARK(BM_QueryLargestRecording)->Unit(benchmark::kMicrosecond);

// One pass of the sampler: helper check, driver read, query, combination, signal.
static void BM_SamplingPass(benchmark::State& state) {
  auto reader = HardwareInfoReader::instance();
  for (auto _ : state) reader->onReadHardwareInfo();
}
BENCHMARK(BM_SamplingPass)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  QTemporaryDir scratch;
  // The driver finds one processor whose register it cannot read (temperature 0)
  // rather than loading a kernel module; the helper runs and stays quiet.
  QDir().mkpath(scratch.path() + "/dev/cpu/0");
  QFile(scratch.path() + "/dev/cpu/0/msr").open(QIODevice::WriteOnly);
  const QString helper = scratch.path() + "/helper.sh";
  QFile script(helper);
  script.open(QIODevice::WriteOnly);
  script.write("#!/bin/sh\nexec sleep 3600\n");
  script.close();
  script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

  qputenv("HOST_SYS", (kMachine + "/sys").toLocal8Bit());
  qputenv("HOST_PROC", (kMachine + "/proc").toLocal8Bit());
  qputenv("HOST_DEV", (scratch.path() + "/dev").toLocal8Bit());
  QCoreApplication app(argc, argv);
  cpuusage::setHelperPath(helper);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
