// Building one frame, and one send pass over 16 simulated devices (devsim linked in
// place of hidapi).
#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>

#include "circulardisplaytimer.h"
#include "hidprotocol.h"
#include "sendhiddatathread.h"

static void BM_BuildDataFrame(benchmark::State& state) {
  hidreport::Sample sample{67, 23, 58, 41, 1450};
  const hidreport::Thresholds thresholds;
  int unit = 0;
  for (auto _ : state) {
    const std::uint8_t item = hidreport::itemForDevice(hidreport::GPU_TEMPERATURE, false);
    hidreport::Buffer frame = hidreport::dataFrame(item, unit, sample, thresholds);
    benchmark::DoNotOptimize(frame);
    unit ^= 1;
    sample.fanRpm ^= 1;
  }
}
BENCHMARK(BM_BuildDataFrame);

static void BM_SendPass16Devices(benchmark::State& state) {
  QTemporaryDir dir;
  const QString config = dir.filePath("devices.conf");
  qputenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit());
  qputenv("STELVOX_DEVSIM_CONFIG", config.toLocal8Bit());
  qunsetenv("STELVOX_DEVSIM_LOG");
  qunsetenv("STELVOX_DEVSIM_SCREEN");

  QFile file(config);
  file.open(QIODevice::WriteOnly);
  HIDDeviceTable devices;
  for (int i = 0; i < 16; ++i) {
    const QString path = QStringLiteral("/dev/hidraw-bench%1").arg(i, 2, 10, QLatin1Char('0'));
    file.write(path.toUtf8() + '\n');
    HIDDeviceInfo info;
    info.vid = QStringLiteral("2E3C");
    info.pid = QStringLiteral("A15");
    info.path = path.toUpper();
    info.openPath = path;
    devices.insert(info.path, info);
  }
  file.close();

  CircularDisplayTimer::instance();
  SendHIDDataThread thread;
  thread.onSetHardwareData({"67", "23", "58", "41", "1450"});
  thread.setDevices(devices);
  for (auto _ : state) thread.sendDataToHIDDevice();
  state.counters["devices"] = 16;
}
BENCHMARK(BM_SendPass16Devices)->Unit(benchmark::kMicrosecond);
