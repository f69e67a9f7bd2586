// The FTP client's parsers: a listing line, a multi-line reply, the worst listing line
// (long runs of blanks, the most backtracking the Unix pattern can do).
#include <benchmark/benchmark.h>

#include "qftpparse.h"

namespace {

const QDateTime kNow(QDate(2026, 12, 8), QTime(12, 0));

void BM_ParseDirUnix(benchmark::State& state) {
  const QByteArray line("drwxr-xr-x    2 0        0            4096 Dec  8 00:43 V1.0.0.28\r\n");
  for (auto _ : state) {
    QUrlInfo info;
    benchmark::DoNotOptimize(qftpparse::parseDir(line, QString(), &info, kNow));
  }
}
BENCHMARK(BM_ParseDirUnix);

void BM_ParseDirDos(benchmark::State& state) {
  const QByteArray line("12-01-23  09:15AM       <DIR>          V1.0.0.28\r\n");
  for (auto _ : state) {
    QUrlInfo info;
    benchmark::DoNotOptimize(qftpparse::parseDir(line, QString(), &info, kNow));
  }
}
BENCHMARK(BM_ParseDirDos);

void BM_ParseDirRejectTotal(benchmark::State& state) {
  const QByteArray line("total 12\r\n");
  for (auto _ : state) {
    QUrlInfo info;
    benchmark::DoNotOptimize(qftpparse::parseDir(line, QString(), &info, kNow));
  }
}
BENCHMARK(BM_ParseDirRejectTotal);

void BM_ParseDirWorstBlanks(benchmark::State& state) {
  // The longest line accepted for parsing, after the link count nothing but the longest
  // blank runs accepted, each followed by one letter.
  QByteArray line("drwxr-xr-x 1");
  while (line.size() + 129 <= 8192) line += QByteArray(128, ' ') + 'x';
  for (auto _ : state) {
    QUrlInfo info;
    benchmark::DoNotOptimize(qftpparse::parseDir(line, QString(), &info, kNow));
  }
}
BENCHMARK(BM_ParseDirWorstBlanks)->Unit(benchmark::kMicrosecond);

void BM_ReplyReaderMultiLine(benchmark::State& state) {
  const QStringList lines = {QStringLiteral("230-Welcome\r\n"), QStringLiteral("plain text\r\n"),
                             QStringLiteral("230 Logged in\r\n")};
  for (auto _ : state) {
    QFtpReplyReader reader;
    for (const QString& l : lines) benchmark::DoNotOptimize(reader.addLine(l));
    benchmark::DoNotOptimize(reader.text());
  }
}
BENCHMARK(BM_ReplyReaderMultiLine);

}  // namespace
