// The receiver controls of the set-up: gain, frequency correction, sample
// rate and the options, each sent to the receivers in use and settled on the
// user-interface thread.
#include <algorithm>
#include <climits>
#include <cstdlib>

#include "sweep/ReceiverSetup.h"
#include "sweep/SweepEngine.h"

namespace wg {

std::vector<std::string> TReceiverSetup::KeysInUse() const {
  std::vector<std::string> keys;
  for (ReceiverId id : receivers_)
    if (const Receiver* r = engine_.FindReceiver(id)) keys.push_back(r->Found().serial);
  return keys;
}

ReceiverAbilities TReceiverSetup::Abilities() const {
  ReceiverAbilities can{true, true, true};
  bool any = false;
  for (ReceiverId id : receivers_)
    if (const Receiver* r = engine_.FindReceiver(id)) {
      const ReceiverAbilities a = r->Found().abilities;
      can = {can.biasTee && a.biasTee, can.directSampling && a.directSampling, can.offsetTuning && a.offsetTuning};
      any = true;
    }
  return any ? can : ReceiverAbilities{};
}

int TReceiverSetup::NearestGain(int tenthsDb) const {
  const std::vector<int>& g = report_.gains;
  if (g.empty()) return tenthsDb;
  return *std::min_element(g.begin(), g.end(), [tenthsDb](int a, int b) {
    return std::abs(static_cast<long>(a) - tenthsDb) < std::abs(static_cast<long>(b) - tenthsDb);
  });
}

bool TReceiverSetup::SetGain(std::optional<int> tenthsDb) {
  lastChangeWaits_ = false;
  lastChangeKept_ = false;
  const GainMode mode = tenthsDb ? GainMode::Manual : GainMode::Auto;
  const int tenths = tenthsDb.value_or(0);
  if (!IsOpen()) {
    gainMode_ = mode;
    gain_ = tenths;
    KeepWhileAway([tenthsDb](Receiver& r) { r.SetGain(tenthsDb); });
    return false;
  }
  return Change([tenthsDb](Receiver& r, Receiver::Done done) { r.SetGain(tenthsDb, std::move(done)); },
                [this, mode, tenths](bool ok) {
                  if (ok) {
                    gainMode_ = mode;
                    gain_ = tenths;
                  }
                  Restart(false);
                });
}

bool TReceiverSetup::SetFreqCorrection(int ppm) {
  lastChangeWaits_ = false;
  lastChangeKept_ = false;
  if (ppm < kMinPpm || ppm > kMaxPpm) return false;
  if (!IsOpen()) {
    ppm_ = ppm;
    KeepWhileAway([ppm](Receiver& r) { r.SetFreqCorrection(ppm); }, true);
    return false;
  }
  return Change([ppm](Receiver& r, Receiver::Done done) { r.SetFreqCorrection(ppm, std::move(done)); },
                [this, ppm](bool ok) {
                  if (ok) ppm_ = ppm;
                  if (const Receiver* r = Open()) report_.freqCorrection = r->Found().freqCorrection;
                  Restart(false);
                },
                true);  // crystals differ: the others keep their own
}

bool TReceiverSetup::SetSampleRate(uint32_t rate) {
  lastChangeWaits_ = false;
  lastChangeKept_ = false;
  if (rate == 0 || rate > static_cast<uint32_t>(INT32_MAX)) return false;
  if (!IsOpen()) {
    rate_ = rate;
    if (!ReceiverAway()) return false;
    // Kept for the receivers away; the rate in force already changes nothing now.
    lastChangeKept_ = true;
    if (engine_.SampleRate() == static_cast<int32_t>(rate)) return false;
    // Each step sets the rate it runs at: the sweep takes it now, the
    // receivers away when they come back.
    KeepWhileAway([rate](Receiver& r) { r.SetSampleRate(rate); });
    report_.sampleRate = rate;
    report_.binWidth = rate / static_cast<double>(kPointsPerStep);
    engine_.SetSampleRate(static_cast<int32_t>(rate));
    engine_.SetBinWidth(report_.binWidth);
    Restart(true);
    return false;
  }
  return Change([rate](Receiver& r, Receiver::Done done) { r.SetSampleRate(rate, std::move(done)); },
                [this, rate](bool ok) {
                  const Receiver* r = Open();
                  if (!ok || !r) {
                    // Each step sets the engine's rate, so the previous one
                    // stays in force.
                    Restart(false);
                    return;
                  }
                  rate_ = rate;
                  // Kept by a receiver away: the rate it comes back with.
                  report_.sampleRate = lastChangeKept_ ? rate : r->Found().sampleRate;
                  report_.binWidth = report_.sampleRate / static_cast<double>(kPointsPerStep);
                  engine_.SetSampleRate(static_cast<int32_t>(rate));
                  engine_.SetBinWidth(report_.binWidth);
                  Restart(true);
                });
}


bool TReceiverSetup::ChangeOption(std::function<void(Receiver&, Receiver::Done)> ask, std::function<void()> keep) {
  lastChangeWaits_ = false;
  lastChangeKept_ = false;
  if (!IsOpen()) {
    keep();
    if (ReceiverAway()) KeepWhileAway([&ask](Receiver& r) { ask(r, {}); });
    return false;
  }
  return Change(std::move(ask), [this, keep](bool ok) {
    if (ok) keep();
    Restart(false);
  });
}

bool TReceiverSetup::SetBiasTee(bool on) {
  return ChangeOption([on](Receiver& r, Receiver::Done done) { r.SetBiasTee(on, std::move(done)); },
                      [this, on] { biasTee_ = on; });
}

bool TReceiverSetup::SetDirectSampling(int mode) {
  lastChangeWaits_ = false;
  lastChangeKept_ = false;
  if (mode < 0 || mode > 2) return false;
  return ChangeOption([mode](Receiver& r, Receiver::Done done) { r.SetDirectSampling(mode, std::move(done)); },
                      [this, mode] { directSampling_ = mode; });
}

bool TReceiverSetup::SetOffsetTuning(bool on) {
  return ChangeOption([on](Receiver& r, Receiver::Done done) { r.SetOffsetTuning(on, std::move(done)); },
                      [this, on] { offsetTuning_ = on; });
}

}  // namespace wg
