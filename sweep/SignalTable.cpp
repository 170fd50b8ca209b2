#include "sweep/SignalTable.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace wg {

void TSignalTable::Clear() {
  rows_.clear();
  listed_.clear();
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

void TSignalTable::Mark(Row& r, double lo, double hi, uint32_t times) {
  // More cells than any sweep has bins: the band is then the plain union.
  constexpr double kMostCells = 1 << 23;
  if (!(r.cellHz > 0)) return;
  const double a = std::floor(lo / r.cellHz), b = std::max(a, std::floor(hi / r.cellHz));
  const double had = static_cast<double>(r.firstCell), hadLast = had + static_cast<double>(r.hits.size()) - 1;
  const double from = r.hits.empty() ? a : std::min(a, had), to = r.hits.empty() ? b : std::max(b, hadLast);
  if (!(to - from < kMostCells && std::fabs(from) + std::fabs(to) < 1e15)) return;
  const auto first = static_cast<int64_t>(from);
  if (r.hits.empty()) r.firstCell = first;
  r.hits.insert(r.hits.begin(), static_cast<size_t>(r.firstCell - first), 0);
  r.firstCell = first;
  r.hits.resize(static_cast<size_t>(to - from) + 1, 0);
  for (auto k = static_cast<int64_t>(a); k <= static_cast<int64_t>(b); ++k) r.hits[static_cast<size_t>(k - first)] += times;
}

void TSignalTable::Describe(Row& r) {
  const double n = static_cast<double>(r.sightings);
  const double width = r.bandwidthSum / n;
  double lo = r.lo, hi = r.hi;
  const auto often = [&](uint32_t h) { return static_cast<double>(h) * kBandShare >= n; };
  const auto first = std::find_if(r.hits.begin(), r.hits.end(), often);
  if (first != r.hits.end()) {
    const auto last = std::find_if(r.hits.rbegin(), r.hits.rend(), often);
    lo = static_cast<double>(r.firstCell + (first - r.hits.begin())) * r.cellHz;
    hi = static_cast<double>(r.firstCell + (r.hits.rend() - last)) * r.cellHz;
  }
  if (hi - lo > width + kWanderBins * r.cellHz) {
    r.s.frequency = (lo + hi) / 2;
    r.s.bandwidth = hi - lo;
  } else {
    r.s.frequency = r.frequencySum / n;
    r.s.bandwidth = width;
  }
  r.s.meanDb = r.s.peakDb + 10 * std::log10(r.powerSum / n);
}

void TSignalTable::See(Row& r, const Sighting& g, std::chrono::system_clock::time_point when, bool sure) const {
  TSignal& s = r.s;
  if (r.sightings == 0) {
    s.firstSeen = when;
    r.lo = g.lo, r.hi = g.hi;
    r.cellHz = cellHz_;
  }
  if (r.sightings == 0 || g.peakDb > s.peakDb) {
    // In power relative to the strongest level, so that no level overflows.
    if (r.sightings > 0) r.powerSum *= std::pow(10.0, (s.peakDb - g.peakDb) / 10);
    s.peakDb = g.peakDb;
    s.snrDb = g.peakDb - g.floorDb;
  }
  s.lastSeen = when;
  const uint64_t gap = sweeps_ - r.lastSweep;
  r.recent = (gap < 64 ? r.recent << gap : 0) | 1;
  r.lastSweep = sweeps_;
  ++s.present;
  s.covered = std::max(s.covered, s.present);
  ++r.sightings;
  r.frequencySum += (g.lo + g.hi) / 2;
  r.bandwidthSum += g.hi - g.lo;
  r.powerSum += std::pow(10.0, (g.peakDb - s.peakDb) / 10);
  r.lo = std::min(r.lo, g.lo);
  r.hi = std::max(r.hi, g.hi);
  Mark(r, g.lo, g.hi, 1);
  r.listed = r.listed || sure || s.present >= 2;
  Describe(r);
}

// Two rows found to be one signal. The sweeps both were seen in count once:
// those `recent` remembers, and as many again before them as the share of
// the rarer row's sightings there that the other one shared.
void TSignalTable::Join(Row& into, const Row& other) {
  const Row* older = into.lastSweep < other.lastSweep ? &into : &other;
  const Row* newer = older == &into ? &other : &into;
  const uint64_t gap = newer->lastSweep - older->lastSweep;
  const uint64_t olderRecent = gap < 64 ? older->recent << gap : 0;
  const uint64_t together = static_cast<uint64_t>(std::popcount(olderRecent & newer->recent));
  const bool olderRarer = older->s.present <= newer->s.present;
  const uint64_t rarer = std::min(into.s.present, other.s.present);
  const uint64_t rarerRecent = static_cast<uint64_t>(std::popcount(olderRarer ? olderRecent : newer->recent));
  uint64_t both = 0;
  if (rarerRecent > 0) {
    const double share = static_cast<double>(together) / static_cast<double>(rarerRecent);
    both = std::min(rarer, static_cast<uint64_t>(std::llround(share * static_cast<double>(rarer))));
  }
  const uint64_t recent = olderRecent | newer->recent, last = newer->lastSweep;
  for (size_t k = 0; k < other.hits.size(); ++k) {
    const double at = (static_cast<double>(other.firstCell + static_cast<int64_t>(k)) + 0.5) * other.cellHz;
    if (other.hits[k]) Mark(into, at, at, other.hits[k]);
  }

  TSignal& s = into.s;
  const TSignal& o = other.s;
  const double peak = std::max(s.peakDb, o.peakDb);
  into.powerSum = into.powerSum * std::pow(10.0, (s.peakDb - peak) / 10) +
                  other.powerSum * std::pow(10.0, (o.peakDb - peak) / 10);
  if (o.peakDb > s.peakDb) s.peakDb = o.peakDb, s.snrDb = o.snrDb;
  // The sweep being taken in is in `covered` already, and in `present` once
  // the joined row is seen in it.
  s.covered = std::max(s.covered, o.covered);
  s.present = std::min(s.present + o.present - both, s.covered - 1);
  s.firstSeen = std::min(s.firstSeen, o.firstSeen);
  s.lastSeen = std::max(s.lastSeen, o.lastSeen);
  into.frequencySum += other.frequencySum;
  into.bandwidthSum += other.bandwidthSum;
  into.sightings += other.sightings;
  into.lo = std::min(into.lo, other.lo);
  into.hi = std::max(into.hi, other.hi);
  into.recent = recent;
  into.lastSweep = last;
  into.listed = into.listed || other.listed || s.present >= 2;
  Describe(into);
}

void TSignalTable::Add(const TSignalInput& in, const std::vector<TDetection>& found) {
  ++sweeps_;
  if (!spans_.empty() && spans_.back().start == in.start && spans_.back().stop == in.stop)
    ++spans_.back().sweeps;
  else
    spans_.push_back({in.start, in.stop, 1});
  if (sureFor_ != in.transformsAveraged || sureDb_ == 0) {
    sureFor_ = in.transformsAveraged;
    sureDb_ = NoiseGuardDb(sureFor_) + kSureDb;
  }

  for (Row& r : rows_) {
    const double f = r.s.frequency;
    if (f < static_cast<double>(in.start) || f >= static_cast<double>(in.stop)) continue;
    const size_t i = in.IndexOf(f);
    if (i < in.count && !std::isnan(in.levels[i])) ++r.s.covered;
  }

  // The detections' spans in frequency order; spans that overlap are one
  // signal's.
  std::vector<Sighting> spans;
  spans.reserve(found.size());
  for (const TDetection& d : found) {
    const double half = std::max(d.bandwidth, 0.0) / 2;
    if (!std::isfinite(d.frequency) || !std::isfinite(half) || !std::isfinite(d.peakDb)) continue;
    spans.push_back({d.frequency - half, d.frequency + half, d.peakDb, d.floorDb});
  }
  std::sort(spans.begin(), spans.end(), [](const Sighting& a, const Sighting& b) { return a.lo < b.lo; });
  std::vector<Sighting> dets;
  for (const Sighting& g : spans) {
    if (dets.empty() || g.lo > dets.back().hi) {
      dets.push_back(g);
      continue;
    }
    Sighting& last = dets.back();
    last.hi = std::max(last.hi, g.hi);
    if (g.peakDb > last.peakDb) last.peakDb = g.peakDb, last.floorDb = g.floorDb;
  }

  // Each detection reaches a run of rows, the rows' bands being apart and in
  // order; detections reaching a common row and the rows they reach are one
  // signal. The runs of successive detections only move up.
  const double reach = kMatchBins * in.binWidth;
  cellHz_ = in.binWidth;
  std::vector<Row> out;
  out.reserve(rows_.size() + dets.size());
  std::vector<Row> fresh;
  size_t next = 0;  // rows_ before it are in `out`
  const auto when = in.finished;
  const auto keep = [&](Row&& r) {
    // Seen once and not again in time: noise, most likely.
    if (r.listed || sweeps_ - r.lastSweep < kConfirmSweeps) out.push_back(std::move(r));
  };
  for (size_t j = 0; j < dets.size();) {
    const double lo = dets[j].lo;
    size_t first = static_cast<size_t>(
        std::lower_bound(rows_.begin() + static_cast<std::ptrdiff_t>(next), rows_.end(), lo - reach,
                         [](const Row& r, double v) { return r.hi < v; }) - rows_.begin());
    Sighting g = dets[j];
    size_t end = first;
    // Gather the detections and rows that hang together.
    for (;;) {
      while (end < rows_.size() && rows_[end].lo - reach <= g.hi) ++end;
      if (end == first || j + 1 >= dets.size() || dets[j + 1].lo > rows_[end - 1].hi + reach) break;
      const Sighting& d = dets[++j];
      g.hi = std::max(g.hi, d.hi);
      if (d.peakDb > g.peakDb) g.peakDb = d.peakDb, g.floorDb = d.floorDb;
    }
    ++j;
    for (; next < first; ++next) keep(std::move(rows_[next]));
    const bool sure = g.peakDb - g.floorDb >= sureDb_;
    if (first == end) {
      if (rows_.size() + fresh.size() >= kMostSignals) {
        ++dropped_;
        continue;
      }
      Row r;
      r.s.covered = SweepsOver((g.lo + g.hi) / 2);
      See(r, g, when, sure);
      fresh.push_back(std::move(r));
      continue;
    }
    Row joined = std::move(rows_[first]);
    for (size_t k = first + 1; k < end; ++k) Join(joined, rows_[k]);
    See(joined, g, when, sure);
    out.push_back(std::move(joined));
    next = end;
  }
  for (; next < rows_.size(); ++next) keep(std::move(rows_[next]));

  // The new rows in among the others, by band.
  rows_.clear();
  rows_.reserve(out.size() + fresh.size());
  std::merge(std::make_move_iterator(out.begin()), std::make_move_iterator(out.end()),
             std::make_move_iterator(fresh.begin()), std::make_move_iterator(fresh.end()),
             std::back_inserter(rows_), [](const Row& a, const Row& b) { return a.lo < b.lo; });
  listed_.clear();
  for (const Row& r : rows_)
    if (r.listed) listed_.push_back(r.s);
}

}  // namespace wg
