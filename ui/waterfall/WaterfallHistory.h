// The waterfall's memory: the last sweeps, each reduced to at most
// kMaxColumns column maxima, and the rule that puts those columns on screen
// pixels. Free of Qt so that it can be tested and measured on its own.
//
// All rows of one history share one column layout (the frequencies each
// column covers); a sweep with a different layout (new scan range, rate or
// point count) starts the history afresh.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <vector>

#include "sweep/Sweep.h"

namespace wg {

class TWaterfallHistory {
 public:
  using Clock = std::chrono::system_clock;

  // Rows hold at most this many columns: the memory of a row stays bounded
  // however wide the scan range. Ranges of up to six steps (19.2 MHz at
  // 3.2 MS/s, the initial range among them) keep every point.
  static constexpr int kMaxColumns = 24576;
  // Kept at least: this many newest rows, and every row of the newest minute.
  static constexpr std::size_t kMinRows = 1000;
  static constexpr std::chrono::seconds kMinSpan{60};
  // Rows beyond the first kMinRows are kept only while they fit in this many
  // bytes. The bound leaves room for a full-screen rendered image beside the
  // rows (see TWaterfall::MemoryBytes); a minute of the fastest sweeps (one
  // 3.2 MHz step of 4096 points every 20.5 ms) takes 24 MiB.
  static constexpr std::size_t kRowBudget = std::size_t{30} << 20;
  // What a row costs beside its levels: its deque entry and heap block.
  static constexpr std::size_t kRowOverhead = 64;

  // Levels are kept in hundredths of a dB. Two codes below every level mark a
  // pixel that no column reaches and a column whose points were all untuned.
  using Level = int16_t;
  static constexpr Level kNoData = std::numeric_limits<Level>::min();
  static constexpr Level kUntuned = kNoData + 1;
  static constexpr Level kLowestLevel = kNoData + 2;
  static Level Encode(double db);
  static double Decode(Level v) { return v / 100.0; }

  // The columns of a sweep: which points each takes and the frequencies of
  // its first and last point. Shared by every row made for it.
  struct Layout {
    std::size_t count = 0;  // points of the sweep
    double first = 0, last = 0;
    std::vector<double> low, high;
    std::vector<std::size_t> end;  // one past each column's last point
    bool Fits(std::size_t n, double x0, double x1) const { return n == count && x0 == first && x1 == last; }
  };
  // One sweep reduced to its columns: each holds the maximum of its points,
  // so a signal narrower than a column stays visible. Made on any thread (it
  // reads nothing but the sweep), added where the history lives.
  struct Reduced {
    std::shared_ptr<const Layout> layout;
    std::vector<Level> levels;
    Clock::time_point finished;
  };
  // The first `count` points of a sweep (at most all of them), dated when it
  // finished; a layout that fits is taken over instead of made anew.
  static Reduced Reduce(const Sweep& sweep, std::size_t count, std::shared_ptr<const Layout> reuse = nullptr);
  // Adds a reduced sweep as the newest row. Returns true when its layout
  // differed from the rows held, which were dropped. An empty one changes
  // nothing.
  bool Add(Reduced row);
  // Reduces and adds count points whose X (Hz, ascending) and Y (dB, NaN =
  // untuned) are read with a stride in doubles.
  bool AddSweep(const double* x, const double* y, std::ptrdiff_t stride, std::size_t count,
                Clock::time_point finished);
  void Clear();

  std::size_t RowCount() const { return rows_.size(); }
  int ColumnCount() const { return layout_ ? static_cast<int>(layout_->low.size()) : 0; }
  const std::shared_ptr<const Layout>& CurrentLayout() const { return layout_; }
  // age 0 is the newest row; age < RowCount().
  const Level* Row(std::size_t age) const { return rows_[age].levels.data(); }
  Clock::time_point RowTime(std::size_t age) const { return rows_[age].finished; }
  // Frequencies of the first and the last point of a column, Hz.
  double ColumnLow(int k) const { return layout_->low[static_cast<std::size_t>(k)]; }
  double ColumnHigh(int k) const { return layout_->high[static_cast<std::size_t>(k)]; }
  // Rows the history may hold with the current layout.
  std::size_t RowLimit() const { return RowLimit(ColumnCount()); }
  static std::size_t RowLimit(int columns);
  // Bytes held by the rows and the column layout.
  std::size_t MemoryBytes() const;

 private:
  struct RowData {
    std::vector<Level> levels;
    Clock::time_point finished;
  };
  void Trim();

  std::shared_ptr<const Layout> layout_;
  std::deque<RowData> rows_;
  std::vector<Level> spare_;  // the buffer of the last row dropped, reused
};

// Where the columns of a history land on a row of screen pixels, for one
// mapping of frequency to pixel (the chart's bottom axis). A column covers
// the pixels of its own points and, up to halfway, the gap to its
// neighbours, so a zoomed-in row has no holes and a zoomed-out one keeps
// every column's maximum.
class TWaterfallSpans {
 public:
  // toPixel maps a frequency to the chart pixel of a point there; nearPixel
  // may be a cheaper rising mapping within a pixel of it, used for the
  // boundaries between columns. x0 … x1 - 1 are the pixels drawn.
  template <class ToPixel, class NearPixel>
  void Compute(const TWaterfallHistory& h, ToPixel&& toPixel, NearPixel&& nearPixel, int x0, int x1) {
    const int n = h.ColumnCount();
    lowPx_.resize(static_cast<std::size_t>(n));
    highPx_.resize(static_cast<std::size_t>(n));
    std::vector<int> own(static_cast<std::size_t>(n) * 2), mid(static_cast<std::size_t>(n) + 1);
    for (int k = 0; k < n; ++k) {
      own[2 * k] = toPixel(h.ColumnLow(k));
      own[2 * k + 1] = h.ColumnHigh(k) == h.ColumnLow(k) ? own[2 * k] : toPixel(h.ColumnHigh(k));
      if (k > 0) mid[k] = nearPixel((h.ColumnHigh(k - 1) + h.ColumnLow(k)) / 2);
    }
    Fill(own, mid, n, x0, x1);
  }
  template <class ToPixel>
  void Compute(const TWaterfallHistory& h, ToPixel&& toPixel, int x0, int x1) {
    Compute(h, toPixel, toPixel, x0, x1);
  }
  std::size_t MemoryBytes() const {
    return (lowPx_.capacity() + highPx_.capacity() + from_.capacity() + to_.capacity()) * sizeof(int) +
           loads_.capacity() * sizeof(Load);
  }
  int X0() const { return x0_; }
  int X1() const { return x1_; }
  // Renders one row into out[0 … X1 - X0): the maximum of the columns over
  // each pixel, kNoData where no column reaches.
  void Render(const TWaterfallHistory::Level* row, TWaterfallHistory::Level* out) const;
  // The same for count rows at once, rows[r] into outs[r].
  void Render(const TWaterfallHistory::Level* const* rows, TWaterfallHistory::Level* const* outs, int count) const;
  // The level shown at pixel x of a row (kNoData outside).
  TWaterfallHistory::Level LevelAt(const TWaterfallHistory::Level* row, int x) const;

 private:
  void Fill(const std::vector<int>& own, std::vector<int>& mid, int n, int x0, int x1);
  std::vector<int> lowPx_, highPx_;  // clipped to x0 … x1 - 1; low > high: off screen
  // Along a rising mapping the columns over a pixel are one run: pixel x
  // shows the maximum of columns from_[x - x0] … to_[x - x0] (none if from > to).
  bool rising_ = false;
  std::vector<int> from_, to_;
  // The same runs as loads of eight levels, so that a row renders eight
  // columns per instruction instead of one: a run of up to eight is one load
  // at start with the lanes outside it masked; a longer one is loads at
  // start, start + 8, … and one ending at its last column (overlapping loads
  // do no harm to a maximum). Empty when the rows are too short for loads.
  struct Load {
    int32_t start;
    int16_t length;  // columns in the run, 0 for none
    uint16_t mask;   // for length <= 8: which lanes of the load are the run's
  };
  std::vector<Load> loads_;
  int first_ = 0, last_ = -1;        // columns that reach the screen
  int x0_ = 0, x1_ = 0;
};

}  // namespace wg
