// A settings file damaged into 21 MB of binary junk around its good keys:
// the time from opening it to closing, with no change (/0) and with one
// (/1), whose write the window's exit waits for. A change should cost next
// to nothing beside the opening: the junk is not written back.
#include <benchmark/benchmark.h>

#include "app/Settings.h"

#include <QFile>
#include <QTemporaryDir>

#include <random>

namespace {

constexpr qsizetype kJunkBytes = 21 << 20;

QByteArray DamagedFile() {
  QByteArray content = "[scan]\nstart=88000000\nstop=108000000\n[receiver]\nppm=12\n";
  content.reserve(content.size() + kJunkBytes);
  std::mt19937 rng(5);
  for (qsizetype i = 0; i < kJunkBytes; ++i) {
    const unsigned r = rng() % 40;
    content += r == 0 ? '\n' : r == 1 ? '=' : r == 2 ? '[' : static_cast<char>(rng());
  }
  return content;
}

void BM_OneChangeToADamagedFile(benchmark::State& state) {
  const QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("wideglass.ini"));
  const QByteArray damaged = DamagedFile();
  int ppm = 0;
  for (auto _ : state) {
    state.PauseTiming();
    {
      QFile f(path);
      f.open(QIODevice::WriteOnly | QIODevice::Truncate);
      f.write(damaged);
    }
    state.ResumeTiming();
    wg::TSettings s(path);
    if (state.range(0)) s.SetPpm(++ppm % 100);
  }
  state.counters["file MB"] = static_cast<double>(damaged.size()) / (1 << 20);
}
BENCHMARK(BM_OneChangeToADamagedFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
