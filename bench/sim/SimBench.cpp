// How fast the simulated stick makes samples, against the plain way of
// making them (sin/cos and a Gaussian draw per sample) and against the rate
// the viewer's sweep needs: 6.4 MB/s (3.2 MS/s, two bytes a sample); and what
// the demodulator's filter model adds to a block (argument 0: off, 1: on).
#include "sim/DemodFilter.h"
#include "sim/Generator.h"
#include "sim/Scene.h"

#include <rtl-sdr.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

using namespace wg::sim;

constexpr size_t kBlock = 131072;  // the viewer's read
constexpr double kRate = 3200000;
constexpr double kCentre = 146000000;

// Emitters inside the band around kCentre: carriers and narrow FM.
std::vector<Emitter> BandScene(int emitters) {
  std::vector<Emitter> s;
  for (int i = 0; i < emitters; ++i) {
    const bool fm = i % 3 == 2;
    s.push_back({kCentre - 1.4e6 + i * (2.8e6 / emitters), -40.0 - i,
                 fm ? EmitterKind::Nfm : EmitterKind::Carrier, fm ? 5000.0 : 0.0});
  }
  return s;
}

void SetRealTimeCounter(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
  // Seconds of stick time made per second: 1 is just fast enough.
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kBlock / (2 * kRate), benchmark::Counter::kIsRate);
}

void BM_Generator(benchmark::State& state) {
  Generator g(BandScene(static_cast<int>(state.range(0))), 1);
  std::vector<uint8_t> buf(kBlock);
  Reception rx{kCentre, kRate, 0};
  rx.filter = rx.dcOffset = state.range(1) != 0;
  for (auto _ : state) {
    g.Fill(buf.data(), buf.size(), rx);
    benchmark::DoNotOptimize(buf.data());
  }
  SetRealTimeCounter(state);
}
BENCHMARK(BM_Generator)->ArgNames({"emitters", "filter"})->ArgsProduct({{3, 12}, {0, 1}});

// The filter's share alone: shaping a block's noise.
void BM_NoiseShaper(benchmark::State& state) {
  NoiseShaper shaper;
  std::vector<float> re(kBlock / 2, 1.0f), im(kBlock / 2, -1.0f);
  for (auto _ : state) {
    shaper.Apply(re.data(), im.data(), re.size());
    benchmark::DoNotOptimize(re.data());
  }
  SetRealTimeCounter(state);
}
BENCHMARK(BM_NoiseShaper);

// The peer: a phase per emitter turned into sin/cos at every sample, a
// normal draw per byte; same scene, same quantisation.
void BM_PlainSinCos(benchmark::State& state) {
  const std::vector<Emitter> scene = BandScene(static_cast<int>(state.range(0)));
  std::vector<double> phase(scene.size(), 0.0);
  std::mt19937_64 rng(1);
  std::normal_distribution<double> noise(0.0, NoiseLsb(0));
  std::vector<uint8_t> buf(kBlock);
  auto quantise = [](double v) {
    v = std::floor(v + 0.5);
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
  };
  for (auto _ : state) {
    for (size_t n = 0; n < kBlock / 2; ++n) {
      double re = 0, im = 0;
      for (size_t k = 0; k < scene.size(); ++k) {
        const double a = 127.5 * std::pow(10.0, scene[k].levelDb / 20);
        re += a * std::cos(phase[k]);
        im += a * std::sin(phase[k]);
        phase[k] = std::fmod(phase[k] + 2 * M_PI * (scene[k].frequencyHz - kCentre) / kRate,
                             2 * M_PI);
      }
      buf[2 * n] = quantise(127.5 + re + noise(rng));
      buf[2 * n + 1] = quantise(127.5 + im + noise(rng));
    }
    benchmark::DoNotOptimize(buf.data());
  }
  SetRealTimeCounter(state);
}
BENCHMARK(BM_PlainSinCos)->Arg(3)->Arg(12);

// The whole library call the viewer makes, unpaced, on the default scene.
void BM_ReadSync(benchmark::State& state) {
  ::setenv("RTLSDR_SIM_PACE", "0", 1);
  ::setenv("RTLSDR_SIM_FILTER", state.range(0) ? "1" : "0", 1);
  rtlsdr_dev_t* dev = nullptr;
  if (rtlsdr_open(&dev, 0) != 0) {
    state.SkipWithError("open failed");
    return;
  }
  rtlsdr_set_sample_rate(dev, static_cast<uint32_t>(kRate));
  rtlsdr_set_tuner_gain_mode(dev, 364);
  rtlsdr_set_center_freq(dev, static_cast<uint32_t>(kCentre));
  std::vector<uint8_t> buf(kBlock);
  for (auto _ : state) {
    int n = 0;
    rtlsdr_read_sync(dev, buf.data(), static_cast<int>(buf.size()), &n);
    benchmark::DoNotOptimize(buf.data());
  }
  rtlsdr_close(dev);
  SetRealTimeCounter(state);
}
BENCHMARK(BM_ReadSync)->ArgName("filter")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
