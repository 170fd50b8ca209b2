// Opening recordings: how quickly the first sweep is there, how fast the scan
// goes through a file, what it holds in memory, and what a sweep read on
// demand costs, plain and gzip-compressed. The file is a survey of 138-153 MHz
// as Wideglass writes it (five steps of 4096 bins, 165 kB a sweep);
// WG_BENCH_RECORDING_MB sets its size (default 256; 5120 for the 5 GB figure).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "record/HeatMapGrid.h"
#include "record/RecordingReader.h"
#include "record/RtlPowerCsv.h"
#include "record/SweepIntegrator.h"

namespace fs = std::filesystem;

namespace {

uint64_t WantedBytes() {
  const char* mb = std::getenv("WG_BENCH_RECORDING_MB");
  return (mb ? std::strtoull(mb, nullptr, 10) : 256) << 20;
}

wg::RtlPowerSweep SurveySweep(int n) {
  static std::vector<double> noise = [] {
    std::mt19937 rng(5);
    std::normal_distribution<double> d(-62, 3);
    std::vector<double> v(5 * 4096 + 997);
    for (double& x : v) x = d(rng);
    return v;
  }();
  wg::RtlPowerSweep s;
  s.sampleRate = 3200000;
  s.binWidth = 781.25;
  s.samples = 8;
  s.when = std::chrono::system_clock::from_time_t(1796642966 + n / 8);
  for (int j = 0; j < 5; ++j) s.lows.push_back(138000000 + j * 3200000);
  s.levels.assign(noise.begin() + n % 997, noise.begin() + n % 997 + 5 * 4096);
  return s;
}

// The recording, made once per run in the temporary folder (and its .gz).
const fs::path& Recording(bool compressed) {
  static const fs::path plain = fs::temp_directory_path() / ("wg_bench_recording_" + std::to_string(::getpid()) + ".csv");
  static const fs::path gz = fs::path(plain.string() + ".gz");
  static bool made = [] {
    std::ofstream out(plain, std::ios::binary);
    gzFile z = gzopen(gz.c_str(), "wb1");
    std::string text;
    uint64_t bytes = 0;
    for (int n = 0; bytes < WantedBytes(); ++n) {
      text.clear();
      wg::AppendRtlPowerLines(text, SurveySweep(n));
      out << text;
      gzwrite(z, text.data(), static_cast<unsigned>(text.size()));
      bytes += text.size();
    }
    gzclose(z);
    std::atexit([] {
      fs::remove(plain);
      fs::remove(gz);
    });
    return true;
  }();
  (void)made;
  return compressed ? gz : plain;
}

long PeakResidentKb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

// From opening the file to its first sweep in hand: what the first picture waits for.
void BM_OpenToFirstSweep(benchmark::State& state) {
  const fs::path& p = Recording(state.range(0));
  for (auto _ : state) {
    std::string error;
    auto r = wg::TRecording::Open(p.string(), error);
    uint64_t got = 0;
    r->Scan([&](const wg::RecordedSweep& s) {
      got = s.levels.size();
      return false;
    });
    benchmark::DoNotOptimize(got);
  }
}
BENCHMARK(BM_OpenToFirstSweep)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The whole scan that indexes the file (levels only counted), and what it keeps.
void BM_ScanIndex(benchmark::State& state) {
  const fs::path& p = Recording(state.range(0));
  size_t memory = 0;
  uint64_t sweeps = 0;
  for (auto _ : state) {
    std::string error;
    auto r = wg::TRecording::Open(p.string(), error);
    r->Scan();
    memory = r->MemoryBytes();
    sweeps = r->SweepCount();
  }
  const uint64_t bytes = fs::file_size(Recording(false));
  state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
  state.counters["sweeps"] = static_cast<double>(sweeps);
  state.counters["index_and_seek_MB"] = static_cast<double>(memory) / 1048576.0;
  state.counters["peak_resident_MB"] = static_cast<double>(PeakResidentKb()) / 1024.0;
}
BENCHMARK(BM_ScanIndex)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

// A sweep anywhere in the file, read on demand after the scan (the time slider).
void BM_ReadSweepAnywhere(benchmark::State& state) {
  const fs::path& p = Recording(state.range(0));
  std::string error;
  auto r = wg::TRecording::Open(p.string(), error);
  r->Scan();
  std::mt19937_64 rng(3);
  wg::RecordedSweep s;
  for (auto _ : state) {
    if (!r->ReadSweep(rng() % r->SweepCount(), s)) state.SkipWithError("sweep not read");
  }
}
BENCHMARK(BM_ReadSweepAnywhere)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The scan that reads every level too, as the heat map does, into its cells.
void BM_ScanIntoHeatMap(benchmark::State& state) {
  const fs::path& p = Recording(false);
  for (auto _ : state) {
    std::string error;
    auto r = wg::TRecording::Open(p.string(), error);
    r->Scan();
    wg::THeatMapGrid grid(r->Span().lowHz, r->Span().highHz, 1800, r->SweepCount(), 16384);
    r->ReadSweeps(0, [&](const wg::RecordedSweep& s) {
      grid.Add(s);
      return true;
    });
    grid.Finish();
  }
  state.SetBytesProcessed(static_cast<int64_t>(fs::file_size(p)) * state.iterations());
  state.counters["peak_resident_MB"] = static_cast<double>(PeakResidentKb()) / 1024.0;
}
BENCHMARK(BM_ScanIntoHeatMap)->Unit(benchmark::kMillisecond)->Iterations(1);

// Integrating one sweep of the survey into 12.5 kHz bins over an interval.
void BM_IntegrateSweep(benchmark::State& state) {
  wg::TSweepIntegrator g({10000, 10, false}, std::chrono::system_clock::from_time_t(1796642966));
  const wg::RtlPowerSweep s = SurveySweep(1);
  for (auto _ : state) g.Add(s, [](wg::RtlPowerSweep& o) { benchmark::DoNotOptimize(o.levels.data()); });
}
BENCHMARK(BM_IntegrateSweep)->Unit(benchmark::kMicrosecond);

}  // namespace
