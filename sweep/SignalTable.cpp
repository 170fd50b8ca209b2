#include "sweep/SignalTable.h"

#include <algorithm>
#include <cmath>

namespace wg {

void TSignalTable::Clear() {
  signals_.clear();
  sums_.clear();
  spans_.clear();
  sweeps_ = 0;
  dropped_ = 0;
}

uint64_t TSignalTable::SweepsOver(double f) const {
  uint64_t n = 0;
  for (const Span& s : spans_)
    if (f >= static_cast<double>(s.start) && f < static_cast<double>(s.stop)) n += s.sweeps;
  return n;
}

void TSignalTable::Update(size_t k, const TDetection& d, std::chrono::system_clock::time_point when) {
  TSignal& s = signals_[k];
  Sums& sum = sums_[k];
  if (s.present == 0 || d.peakDb > s.peakDb) {
    if (s.present > 0) sum.power *= std::pow(10.0, (s.peakDb - d.peakDb) / 10);
    s.peakDb = d.peakDb;
    s.snrDb = d.peakDb - d.floorDb;
  }
  if (s.present == 0) s.firstSeen = when;
  s.lastSeen = when;
  ++s.present;
  s.covered = std::max(s.covered, s.present);
  const double n = static_cast<double>(s.present);
  sum.frequency += d.frequency;
  sum.bandwidth += d.bandwidth;
  // In power relative to the strongest level, so that no level overflows.
  sum.power += std::pow(10.0, (d.peakDb - s.peakDb) / 10);
  s.frequency = sum.frequency / n;
  s.bandwidth = sum.bandwidth / n;
  s.meanDb = s.peakDb + 10 * std::log10(sum.power / n);
}

void TSignalTable::Add(const TSignalInput& in, const std::vector<TDetection>& found) {
  ++sweeps_;
  if (!spans_.empty() && spans_.back().start == in.start && spans_.back().stop == in.stop)
    ++spans_.back().sweeps;
  else
    spans_.push_back({in.start, in.stop, 1});

  for (TSignal& s : signals_) {
    if (s.frequency < static_cast<double>(in.start) || s.frequency >= static_cast<double>(in.stop)) continue;
    const size_t i = in.IndexOf(s.frequency);
    if (i < in.count && !std::isnan(in.levels[i])) ++s.covered;
  }

  // Each detection goes to the nearest listed signal within its reach; a
  // signal takes only its strongest detection of the sweep, so a wide one
  // that broke into pieces does not turn its pieces into signals.
  const double near = kMatchBins * in.binWidth;
  std::vector<std::ptrdiff_t> match(found.size(), -1);
  std::vector<std::ptrdiff_t> best(signals_.size(), -1);
  for (size_t j = 0; j < found.size(); ++j) {
    const double f = found[j].frequency;
    const std::ptrdiff_t above =
        std::lower_bound(signals_.begin(), signals_.end(), f,
                         [](const TSignal& s, double v) { return s.frequency < v; }) - signals_.begin();
    double closest = 0;
    for (std::ptrdiff_t c : {above - 1, above}) {
      if (c < 0 || c >= static_cast<std::ptrdiff_t>(signals_.size())) continue;
      const TSignal& s = signals_[static_cast<size_t>(c)];
      const double d = std::abs(s.frequency - f);
      if (d > std::max(near, s.bandwidth / 2)) continue;
      if (match[j] < 0 || d < closest) match[j] = c, closest = d;
    }
    if (match[j] < 0) continue;
    std::ptrdiff_t& b = best[static_cast<size_t>(match[j])];
    if (b < 0 || found[static_cast<size_t>(b)].peakDb < found[j].peakDb) b = static_cast<std::ptrdiff_t>(j);
  }
  for (size_t k = 0; k < best.size(); ++k)
    if (best[k] >= 0) Update(k, found[static_cast<size_t>(best[k])], in.finished);

  bool added = false;  // the averaged frequencies may also have changed places
  for (size_t j = 0; j < found.size(); ++j) {
    if (match[j] >= 0) continue;
    if (signals_.size() >= kMostSignals) {
      ++dropped_;
      continue;
    }
    TSignal s;
    s.covered = SweepsOver(found[j].frequency);
    signals_.push_back(s);
    sums_.push_back({});
    Update(signals_.size() - 1, found[j], in.finished);
    added = true;
  }
  const auto byFrequency = [](const TSignal& x, const TSignal& y) { return x.frequency < y.frequency; };
  if (!added && std::is_sorted(signals_.begin(), signals_.end(), byFrequency)) return;
  std::vector<size_t> order(signals_.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t x, size_t y) { return signals_[x].frequency < signals_[y].frequency; });
  std::vector<TSignal> s;
  std::vector<Sums> u;
  s.reserve(order.size());
  u.reserve(order.size());
  for (size_t k : order) s.push_back(signals_[k]), u.push_back(sums_[k]);
  signals_.swap(s);
  sums_.swap(u);
}

}  // namespace wg
