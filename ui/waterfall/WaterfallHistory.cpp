#include "ui/waterfall/WaterfallHistory.h"

#include <algorithm>
#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace wg {

TWaterfallHistory::Level TWaterfallHistory::Encode(double db) {
  if (db != db) return kUntuned;
  const double c = db * 100.0;
  if (!(c > kLowestLevel)) return kLowestLevel;  // also -inf
  if (c > std::numeric_limits<Level>::max()) return std::numeric_limits<Level>::max();
  // Halves away from zero, without a library call: this runs for every column.
  return static_cast<Level>(static_cast<int>(c >= 0 ? c + 0.5 : c - 0.5));
}

namespace {

// The columns of count points whose X x(i) reads, or `reuse` when it fits.
template <class X>
std::shared_ptr<const TWaterfallHistory::Layout> LayoutOf(X x, std::size_t count,
                                                          std::shared_ptr<const TWaterfallHistory::Layout> reuse) {
  const double first = x(0), last = x(count - 1);
  if (reuse && reuse->Fits(count, first, last)) return reuse;
  auto l = std::make_shared<TWaterfallHistory::Layout>();
  l->count = count;
  l->first = first;
  l->last = last;
  const std::size_t n = std::min<std::size_t>(count, TWaterfallHistory::kMaxColumns);
  l->low.resize(n);
  l->high.resize(n);
  l->end.resize(n);
  std::size_t begin = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t end = (k + 1) * count / n;  // never empty: count >= n
    l->low[k] = x(begin);
    l->high[k] = x(end - 1);
    l->end[k] = end;
    begin = end;
  }
  return l;
}

// Each column's maximum level into `levels` (the row's storage).
template <class Y>
void ReduceLevels(Y y, const TWaterfallHistory::Layout& l, std::vector<TWaterfallHistory::Level>& levels) {
  constexpr double kNone = -std::numeric_limits<double>::infinity();
  const std::size_t n = l.end.size();
  levels.resize(n);
  std::size_t i = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t end = l.end[k];
    double m = kNone;
    bool any = false;
    for (; i < end; ++i) {
      const double v = y(i);
      // NaN compares false both ways: an untuned point never wins.
      if (v > m) m = v;
      any |= v == v;
    }
    levels[k] = any ? TWaterfallHistory::Encode(m) : TWaterfallHistory::kUntuned;
  }
}

}  // namespace

TWaterfallHistory::Reduced TWaterfallHistory::Reduce(const Sweep& sweep, std::size_t count,
                                                     std::shared_ptr<const Layout> reuse) {
  Reduced r;
  r.finished = sweep.finished;
  count = std::min(count, sweep.PointCount());
  if (count == 0) return r;
  r.layout = LayoutOf([&](std::size_t i) { return sweep.X(i); }, count, std::move(reuse));
  const float* levels = sweep.levels.data();
  ReduceLevels([levels](std::size_t i) { return static_cast<double>(levels[i]); }, *r.layout, r.levels);
  return r;
}

bool TWaterfallHistory::AddSweep(const double* x, const double* y, std::ptrdiff_t stride, std::size_t count,
                                 Clock::time_point finished) {
  if (count == 0 || !x || !y) return false;
  Reduced r;
  r.finished = finished;
  r.layout = LayoutOf([=](std::size_t i) { return x[static_cast<std::ptrdiff_t>(i) * stride]; }, count, layout_);
  r.levels = std::move(spare_);
  spare_ = {};
  ReduceLevels([=](std::size_t i) { return y[static_cast<std::ptrdiff_t>(i) * stride]; }, *r.layout, r.levels);
  return Add(std::move(r));
}

bool TWaterfallHistory::Add(Reduced row) {
  if (!row.layout || row.levels.empty()) return false;
  bool cleared = false;
  const Layout& l = *row.layout;
  if (!layout_ || !layout_->Fits(l.count, l.first, l.last)) {
    cleared = !rows_.empty();
    Clear();
    layout_ = std::move(row.layout);
  }
  rows_.push_front(RowData{std::move(row.levels), row.finished});
  Trim();
  return cleared;
}

std::size_t TWaterfallHistory::RowLimit(int columns) {
  const std::size_t rowBytes = static_cast<std::size_t>(std::max(columns, 1)) * sizeof(Level) + kRowOverhead;
  return std::max(kMinRows, kRowBudget / rowBytes);
}

void TWaterfallHistory::Trim() {
  const std::size_t limit = RowLimit();
  const Clock::time_point newest = rows_.front().finished;
  while (rows_.size() > limit || (rows_.size() > kMinRows && rows_.back().finished < newest - kMinSpan)) {
    spare_ = std::move(rows_.back().levels);
    rows_.pop_back();
  }
}

void TWaterfallHistory::Clear() {
  rows_.clear();
  rows_.shrink_to_fit();
  spare_ = {};
  layout_.reset();
}

std::size_t TWaterfallHistory::MemoryBytes() const {
  std::size_t bytes = spare_.capacity() * sizeof(Level);
  for (const RowData& r : rows_) bytes += r.levels.capacity() * sizeof(Level) + kRowOverhead;
  if (layout_)
    bytes += (layout_->low.capacity() + layout_->high.capacity()) * sizeof(double) +
             layout_->end.capacity() * sizeof(std::size_t);
  return bytes;
}

// ---------------------------------------------------------------------------

void TWaterfallSpans::Fill(const std::vector<int>& own, std::vector<int>& mid, int n, int x0, int x1) {
  x0_ = x0;
  x1_ = std::max(x0, x1);
  first_ = 0;
  last_ = -1;
  // Gaps are shared out only along a rising mapping (the chart's frequency
  // axis is never inverted); otherwise each column keeps its own pixels.
  const bool rising = n > 0 && own[0] <= own[2 * static_cast<std::size_t>(n) - 1];
  rising_ = rising;
  for (int k = 0; k < n; ++k) {
    int lo = std::min(own[2 * k], own[2 * k + 1]);
    int hi = std::max(own[2 * k], own[2 * k + 1]);
    if (rising) {
      if (k > 0) lo = std::min(lo, mid[k]);
      if (k + 1 < n) hi = std::max(hi, mid[k + 1] - 1);
    }
    lo = std::max(lo, x0_);
    hi = std::min(hi, x1_ - 1);
    lowPx_[k] = lo;
    highPx_[k] = hi;
    if (lo <= hi) {
      if (last_ < first_) first_ = k;
      last_ = k;
    }
  }
  loads_.clear();
  if (!rising_) return;
  const int w = x1_ - x0_;
  from_.assign(static_cast<std::size_t>(w), 0);
  to_.assign(static_cast<std::size_t>(w), -1);
  for (int k = first_; k <= last_; ++k) {
    for (int x = lowPx_[k]; x <= highPx_[k]; ++x) {
      const std::size_t i = static_cast<std::size_t>(x - x0_);
      if (to_[i] < from_[i]) from_[i] = k;
      to_[i] = k;
    }
  }
#ifdef __SSE2__
  if (n < 8) return;
  loads_.resize(static_cast<std::size_t>(w));
  for (std::size_t i = 0; i < loads_.size(); ++i) {
    const int a = from_[i], length = to_[i] - from_[i] + 1;
    Load& l = loads_[i];
    if (length <= 0) {
      l = {0, 0, 0};
    } else if (length <= 8) {
      // Near the row's end the load starts early enough to stay inside it.
      const int start = std::min(a, n - 8);
      l = {start, static_cast<int16_t>(length), static_cast<uint16_t>((a - start) * 8 + length - 1)};
    } else {
      // A run is at most as long as the row: n <= kMaxColumns fits 16 bits.
      l = {a, static_cast<int16_t>(length), 0};
    }
  }
#endif
}

namespace {

// The largest of v[0 … n), n > 0.
inline TWaterfallHistory::Level MaxOf(const TWaterfallHistory::Level* v, int n) {
  int i = 0;
  TWaterfallHistory::Level m = v[0];
#ifdef __SSE2__
  if (n >= 32) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + 8));
    for (i = 16; i + 16 <= n; i += 16) {
      a = _mm_max_epi16(a, _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i)));
      b = _mm_max_epi16(b, _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i + 8)));
    }
    a = _mm_max_epi16(a, b);
    a = _mm_max_epi16(a, _mm_srli_si128(a, 8));
    a = _mm_max_epi16(a, _mm_srli_si128(a, 4));
    a = _mm_max_epi16(a, _mm_srli_si128(a, 2));
    m = static_cast<TWaterfallHistory::Level>(_mm_extract_epi16(a, 0));
  }
#endif
  for (; i < n; ++i) m = std::max(m, v[i]);
  return m;
}

#ifdef __SSE2__
// masks[offset * 8 + length - 1] has lanes offset … offset + length - 1 set.
struct LaneMasks {
  __m128i m[64];
  LaneMasks() {
    for (int offset = 0; offset < 8; ++offset)
      for (int length = 1; length <= 8; ++length) {
        alignas(16) uint16_t lanes[8];
        for (int j = 0; j < 8; ++j) lanes[j] = j >= offset && j < offset + length ? 0xFFFF : 0;
        m[offset * 8 + length - 1] = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes));
      }
  }
};
const LaneMasks kLaneMasks;

// Eight lanes whose largest is the maximum of one run.
template <class Load>
inline __m128i RunLanes(const TWaterfallHistory::Level* row, const Load& l) {
  const __m128i lowest = _mm_set1_epi16(TWaterfallHistory::kNoData);
  if (l.length <= 8) {
    if (l.length == 0) return lowest;
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + l.start));
    const __m128i m = kLaneMasks.m[l.mask];
    return _mm_or_si128(_mm_and_si128(m, v), _mm_andnot_si128(m, lowest));
  }
  const TWaterfallHistory::Level* p = row + l.start;
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  for (int j = 8; j + 8 < l.length; j += 8) v = _mm_max_epi16(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j)));
  return _mm_max_epi16(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + l.length - 8)));
}

// The largest lane of each of v[0 … 8), in that order: pairs, then quads,
// then halves are interleaved and folded, so eight runs share the work of
// one horizontal maximum.
inline __m128i LargestLanes(const __m128i* v) {
  auto fold16 = [](__m128i a, __m128i b) { return _mm_max_epi16(_mm_unpacklo_epi16(a, b), _mm_unpackhi_epi16(a, b)); };
  auto fold32 = [](__m128i a, __m128i b) { return _mm_max_epi16(_mm_unpacklo_epi32(a, b), _mm_unpackhi_epi32(a, b)); };
  auto fold64 = [](__m128i a, __m128i b) { return _mm_max_epi16(_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b)); };
  return fold64(fold32(fold16(v[0], v[1]), fold16(v[2], v[3])), fold32(fold16(v[4], v[5]), fold16(v[6], v[7])));
}
#endif

}  // namespace

void TWaterfallSpans::Render(const TWaterfallHistory::Level* row, TWaterfallHistory::Level* out) const {
  Render(&row, &out, 1);
}

void TWaterfallSpans::Render(const TWaterfallHistory::Level* const* rows, TWaterfallHistory::Level* const* outs,
                             int count) const {
  if (rising_) {
    const int w = x1_ - x0_;
    int i = 0;
#ifdef __SSE2__
    if (!loads_.empty()) {
      // Rows side by side, eight pixels at a time: the rows are read as
      // several streams at once, which memory serves faster than one.
      __m128i v[8];
      for (; i + 8 <= w; i += 8) {
        const Load* l = &loads_[static_cast<std::size_t>(i)];
        for (int r = 0; r < count; ++r) {
          for (int j = 0; j < 8; ++j) v[j] = RunLanes(rows[r], l[j]);
          _mm_storeu_si128(reinterpret_cast<__m128i*>(outs[r] + i), LargestLanes(v));
        }
      }
    }
#endif
    for (int r = 0; r < count; ++r)
      for (int x = i; x < w; ++x) {
        const int a = from_[static_cast<std::size_t>(x)], b = to_[static_cast<std::size_t>(x)];
        outs[r][x] = a <= b ? MaxOf(rows[r] + a, b - a + 1) : TWaterfallHistory::kNoData;
      }
    return;
  }
  for (int r = 0; r < count; ++r) {
    TWaterfallHistory::Level* out = outs[r];
    std::fill(out, out + (x1_ - x0_), TWaterfallHistory::kNoData);
    for (int k = first_; k <= last_; ++k) {
      const TWaterfallHistory::Level v = rows[r][k];
      for (int x = lowPx_[k]; x <= highPx_[k]; ++x) {
        TWaterfallHistory::Level& o = out[x - x0_];
        if (v > o) o = v;
      }
    }
  }
}

TWaterfallHistory::Level TWaterfallSpans::LevelAt(const TWaterfallHistory::Level* row, int x) const {
  TWaterfallHistory::Level best = TWaterfallHistory::kNoData;
  for (int k = first_; k <= last_; ++k)
    if (lowPx_[k] <= x && x <= highPx_[k] && row[k] > best) best = row[k];
  return best;
}

}  // namespace wg
