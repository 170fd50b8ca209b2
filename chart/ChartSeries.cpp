#include "chart/ChartSeries.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "chart/ChartAxis.h"
#include "runtime/ReleaseAside.h"

namespace wg {

namespace {

// Gives a block back; a large one on a thread of its own.
void ReleaseBlock(std::vector<double>&& v) {
  if (v.capacity() * sizeof(double) < rt::kLargeBlockBytes)
    std::vector<double>().swap(v);
  else
    rt::ReleaseAside(std::move(v));
}

// Splits {X, Y} pairs into the two lists, two pairs a step. A sweep larger
// than the caches is written past them: the lists are read next by the
// drawing, long after these lines would have left the cache anyway, and
// streaming saves reading every destination line in first.
void SplitInterleaved(const double* xy, std::size_t n, double* xs, double* ys) {
  std::size_t i = 0;
#if defined(__SSE2__)
  constexpr std::size_t kStreamFrom = 1u << 20;  // points; 16 MB of pairs
  const bool aligned = (reinterpret_cast<std::uintptr_t>(xs) | reinterpret_cast<std::uintptr_t>(ys)) % 16 == 0;
  if (aligned && n >= kStreamFrom) {
    for (; i + 2 <= n; i += 2) {
      const __m128d a = _mm_loadu_pd(xy + 2 * i), b = _mm_loadu_pd(xy + 2 * i + 2);
      _mm_stream_pd(xs + i, _mm_unpacklo_pd(a, b));
      _mm_stream_pd(ys + i, _mm_unpackhi_pd(a, b));
    }
    _mm_sfence();
  } else {
    for (; i + 2 <= n; i += 2) {
      const __m128d a = _mm_loadu_pd(xy + 2 * i), b = _mm_loadu_pd(xy + 2 * i + 2);
      _mm_storeu_pd(xs + i, _mm_unpacklo_pd(a, b));
      _mm_storeu_pd(ys + i, _mm_unpackhi_pd(a, b));
    }
  }
#endif
  for (; i < n; ++i) {
    xs[i] = xy[2 * i];
    ys[i] = xy[2 * i + 1];
  }
}

// A palette for points that leave their colour to the series when each point
// is to be coloured on its own.
constexpr TColor kPointPalette[16] = {
    0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0x000000, 0x808080, 0xFF00FF, 0x008000,
    0x800000, 0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x00FF80, 0xFF8000};

}  // namespace

// ---------------------------------------------------------------------------
// TChartSeries: data side

TChartSeries::TChartSeries() : xValues_(this, "X"), yValues_(this, "Y") {
  xValues_.SetOrder(loAscending);
  yValues_.SetOrder(loNone);
}

TChartSeries::~TChartSeries() = default;

void TChartSeries::CheckPointIndex(int index) const {
  if (index < 0 || index >= PointCount()) ThrowListIndexError(index);
}

std::vector<std::pair<int, std::string>>::iterator TChartSeries::LabelLowerBound(int index) {
  return std::lower_bound(labels_.begin(), labels_.end(), index,
                          [](const auto& e, int i) { return e.first < i; });
}

std::vector<std::pair<int, std::string>>::const_iterator TChartSeries::LabelLowerBound(
    int index) const {
  return std::lower_bound(labels_.begin(), labels_.end(), index,
                          [](const auto& e, int i) { return e.first < i; });
}

int TChartSeries::AddPoint(double x, double y, const std::string& label, TColor color) {
  if (OnBeforeAdd && !OnBeforeAdd(*this)) return -1;
  OwnPoints();

  // Everything that can fail (allocation, the label copy) happens before the
  // first list changes, so a failed add leaves the point lists in step.
  const int i = xValues_.OrderedPlace(x);
  if (xValues_.Count() == std::numeric_limits<int>::max()) throw std::length_error("TChartSeries");
  xValues_.ReserveOne();
  yValues_.ReserveOne();
  const bool colorJoinsUniform =
      colorsUniform_ && (xValues_.Count() == 0 || color == uniformColor_);
  if (!colorJoinsUniform) {
    if (colorsUniform_) {
      std::vector<TColor> expanded;
      expanded.reserve(std::max<std::size_t>(16, xValues_.values_.capacity()));
      expanded.assign(static_cast<std::size_t>(xValues_.Count()), uniformColor_);
      colors_.swap(expanded);
      colorsUniform_ = false;
    } else {
      detail::GrowForOne(colors_);
    }
  }
  std::string labelCopy;
  const bool hasLabel = !label.empty();
  if (hasLabel) {
    labelCopy = label;
    detail::GrowForOne(labels_);
  }

  // From here on nothing throws.
  xValues_.Changed();
  yValues_.Changed();
  if (i == xValues_.Count()) {
    // The common case (ascending or constant X): everything goes at the end.
    xValues_.values_.push_back(x);
    yValues_.values_.push_back(y);
    if (colorsUniform_)
      uniformColor_ = color;
    else
      colors_.push_back(color);
    if (hasLabel) labels_.emplace_back(i, std::move(labelCopy));
  } else {
    xValues_.values_.insert(xValues_.values_.begin() + i, x);
    yValues_.values_.insert(yValues_.values_.begin() + i, y);
    if (colorsUniform_)
      uniformColor_ = color;
    else
      colors_.insert(colors_.begin() + i, color);
    auto it = LabelLowerBound(i);
    for (auto j = it; j != labels_.end(); ++j) ++j->first;
    if (hasLabel) labels_.emplace(it, i, std::move(labelCopy));
  }

  AfterAdd(i);
  return i;
}

namespace {

// Whether a block may take n values without a new allocation and without
// holding far more than they need.
bool Keeps(const std::vector<double>& v, std::size_t n) {
  return n > 0 && v.capacity() >= n && v.capacity() / 2 <= n + 1024;
}

}  // namespace

void TChartSeries::ResetPoints(int count, double x, double y, TColor colour) {
  if (count < 0) throw ChartException("ResetPoints: negative point count");
  if (OnBeforeAdd || OnAfterAdd) {
    // The hooks see every point, as they would one add at a time.
    ClearPoints();
    for (int i = 0; i < count; ++i) AddPoint(x, y, "", colour);
    return;
  }
  SetAsideOwnBlocks(static_cast<std::size_t>(count));
  xValues_.BorrowConstant(count, x);
  yValues_.BorrowConstant(count, y);
  shown_ = {};
  std::vector<TColor>().swap(colors_);
  colorsUniform_ = true;
  uniformColor_ = count > 0 ? colour : clDefault;
  std::vector<std::pair<int, std::string>>().swap(labels_);
  if (OnClearValues) OnClearValues(*this);
  if (active_ && parentChart_ && !parentChart_->IsDestroying()) RequestRedraw();
}

void TChartSeries::SetAsideOwnBlocks(std::size_t n) {
  std::vector<double>& xs = xValues_.values_;
  std::vector<double>& ys = yValues_.values_;
  // A block that fits is filled when the points are first changed; a wider
  // range's blocks become the spare (the one they replace, if any, goes
  // back); others go back at once.
  const bool narrowed = !Keeps(xs, n) && !Keeps(ys, n) && xs.capacity() > n && ys.capacity() > n &&
                        xs.capacity() * sizeof(double) >= rt::kLargeBlockBytes;
  if (narrowed) {
    ReleaseSpare();
    spareX_.swap(xs);
    spareY_.swap(ys);
    return;
  }
  if (!Keeps(xs, n)) ReleaseBlock(std::move(xs));
  if (!Keeps(ys, n)) ReleaseBlock(std::move(ys));
  xs = {};
  ys = {};
}

void TChartSeries::OwnPoints() {
  if (!xValues_.Borrowed() && !yValues_.Borrowed()) return;
  const auto n = static_cast<std::size_t>(xValues_.Count());
  std::vector<double>& xs = xValues_.values_;
  std::vector<double>& ys = yValues_.values_;
  const bool keepX = Keeps(xs, n), keepY = Keeps(ys, n);
  // New blocks are made (or the spare taken) before anything changes, so a
  // failed allocation leaves the series as it was.
  std::vector<double> newX, newY;
  if (!keepX && !keepY && Keeps(spareX_, n) && Keeps(spareY_, n)) {
    newX.swap(spareX_);
    newY.swap(spareY_);
  }
  if (!keepX) xValues_.StoredInto(newX);
  if (!keepY) yValues_.StoredInto(newY);
  // From here on nothing throws.
  if (keepX) xValues_.StoredInto(xs);
  else xs.swap(newX);
  if (keepY) yValues_.StoredInto(ys);
  else ys.swap(newY);
  ReleaseBlock(std::move(newX));
  ReleaseBlock(std::move(newY));
  xValues_.Own();
  yValues_.Own();
  shown_ = {};
}

void TChartSeries::ShowPoints(TSteppedPoints points) {
  if (points.Count() == 0 || !points.stepStarts || !points.levels) throw ChartException("ShowPoints: no points");
  const int n = PointCount();
  shown_ = std::move(points);
  xValues_.BorrowStepped(n, &shown_, true);
  yValues_.BorrowStepped(n, &shown_, false);
  // The range is swept: neither the own blocks nor a wider range's are
  // needed any more.
  ReleaseBlock(std::move(xValues_.values_));
  ReleaseBlock(std::move(yValues_.values_));
  xValues_.values_ = {};
  yValues_.values_ = {};
  ReleaseSpare();
  RequestRedraw();
}

void TChartSeries::ReplaceXY(int count, const double* x, const double* y, std::ptrdiff_t stride) {
  if (count < 0) ThrowListIndexError(count);
  if (count > PointCount()) ThrowListIndexError(PointCount());
  if (count == 0) return;
  if (!x || !y) throw ChartException("ReplaceXY: no values");
  OwnPoints();
  double* xs = xValues_.values_.data();
  double* ys = yValues_.values_.data();
  const auto n = static_cast<std::size_t>(count);
  if (stride == 1) {
    std::copy(x, x + n, xs);
    std::copy(y, y + n, ys);
  } else if (stride == 2 && y == x + 1) {
    SplitInterleaved(x, n, xs, ys);
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      const std::ptrdiff_t k = static_cast<std::ptrdiff_t>(i) * stride;
      xs[i] = x[k];
      ys[i] = y[k];
    }
  }
  xValues_.Changed();
  yValues_.Changed();
  // The range is swept: it is no longer one passed while typing.
  ReleaseSpare();
  RequestRedraw();
}

void TChartSeries::AfterAdd(int index) {
  if (OnAfterAdd) OnAfterAdd(*this, index);
  if (active_) RequestRedraw();
}

void TChartSeries::ReleaseSpare() {
  ReleaseBlock(std::move(spareX_));
  ReleaseBlock(std::move(spareY_));
  spareX_ = {};
  spareY_ = {};
}

void TChartSeries::ClearValues() {
  ReleaseSpare();
  xValues_.Own();
  yValues_.Own();
  shown_ = {};
  xValues_.RemoveAll();
  yValues_.RemoveAll();
  std::vector<TColor>().swap(colors_);
  colorsUniform_ = true;
  uniformColor_ = clDefault;
  std::vector<std::pair<int, std::string>>().swap(labels_);
}

void TChartSeries::DeletePoint(int index) {
  CheckPointIndex(index);
  OwnPoints();
  // The Y list is as long as the X list (every add and delete goes through
  // both), so checking once covers every list.
  xValues_.RemoveAt(index);
  yValues_.RemoveAt(index);
  if (!colorsUniform_ && index < static_cast<int>(colors_.size()))
    colors_.erase(colors_.begin() + index);
  auto it = LabelLowerBound(index);
  if (it != labels_.end() && it->first == index) it = labels_.erase(it);
  for (; it != labels_.end(); ++it) --it->first;
  if (active_) RequestRedraw();
}

TColor TChartSeries::PointColor(int index) const {
  if (index < 0 || index >= PointCount()) return seriesColor_;
  const TColor c = colorsUniform_ ? uniformColor_ : colors_[static_cast<std::size_t>(index)];
  if (c != clDefault) return c;
  if (colorEachPoint_) return kPointPalette[index % 16];
  return seriesColor_;
}

std::string TChartSeries::PointLabel(int index) const {
  auto it = LabelLowerBound(index);
  if (it != labels_.end() && it->first == index) return it->second;
  return std::string();
}

bool TChartSeries::HasLabelTexts() const {
  return !labels_.empty() && labels_.front().first == 0;
}

void TChartSeries::SetSeriesColor(TColor c) {
  if (c == seriesColor_) return;
  seriesColor_ = c;
  RequestRedraw();
}

void TChartSeries::SetColorEachPoint(bool b) {
  if (b == colorEachPoint_) return;
  colorEachPoint_ = b;
  RequestRedraw();
}

void TChartSeries::SetActive(bool b) {
  if (b == active_) return;
  active_ = b;
  RequestRedraw();
}

void TChartSeries::SetHorizAxis(THorizAxis a) {
  if (a == horizAxis_) return;
  horizAxis_ = a;
  RequestRedraw();
}

void TChartSeries::SetVertAxis(TVertAxis a) {
  if (a == vertAxis_) return;
  vertAxis_ = a;
  RequestRedraw();
}

std::size_t TChartSeries::StorageBytes() const {
  std::size_t bytes = (xValues_.values_.capacity() + yValues_.values_.capacity() + spareX_.capacity() +
                       spareY_.capacity()) *
                      sizeof(double);
  bytes += colors_.capacity() * sizeof(TColor);
  bytes += labels_.capacity() * sizeof(labels_[0]);
  for (const auto& l : labels_)
    if (l.second.capacity() > 15) bytes += l.second.capacity() + 1;
  return bytes;
}


// ---------------------------------------------------------------------------
// Series: the parts that talk to the chart and its axes

void TChartSeries::ClearPoints() {
  ClearValues();
  if (OnClearValues) OnClearValues(*this);
  if (active_ && parentChart_ && !parentChart_->IsDestroying()) RequestRedraw();
}

bool TChartSeries::AssociatedToAxis(const TCustomChartAxis& axis) const {
  if (!UseAxis() || axis.IsDepthAxis()) return false;
  if (axis.IsHorizontal())
    return horizAxis_ == aBothHorizAxis || (horizAxis_ == aBottomAxis && !axis.FarSide()) ||
           (horizAxis_ == aTopAxis && axis.FarSide());
  return vertAxis_ == aBothVertAxis || (vertAxis_ == aLeftAxis && !axis.FarSide()) ||
         (vertAxis_ == aRightAxis && axis.FarSide());
}

TChartAxis* TChartSeries::GetHorizAxis() const {
  return parentChart_ ? parentChart_->AxisFor(horizAxis_) : nullptr;
}

TChartAxis* TChartSeries::GetVertAxis() const {
  return parentChart_ ? parentChart_->AxisFor(vertAxis_) : nullptr;
}

int TChartSeries::PointPixelX(int index) const {
  const double v = PointX(index);
  const TChartAxis* axis = GetHorizAxis();
  return axis ? axis->ValueToPixel(v) : 0;
}

int TChartSeries::PointPixelY(int index) const {
  const double v = PointY(index);
  const TChartAxis* axis = GetVertAxis();
  return axis ? axis->ValueToPixel(v) : 0;
}

bool TChartSeries::DrawSeriesValues(bool clipPoints) {
  TChartLink* chart = parentChart_;
  if (!active_ || !chart) return false;
  CalcVisibleRange();
  if (FirstVisible == -1) return false;
  if (BeforeDrawValues) BeforeDrawValues(*this);
  TCanvas3D* canvas = clipPoints ? chart->GetCanvas() : nullptr;
  if (canvas) {
    canvas->ClipToPlotArea(chart->GetPlotRect());
    try {
      DrawPoints();
    } catch (...) {
      canvas->RemoveClip();
      throw;
    }
    canvas->RemoveClip();
  } else {
    DrawPoints();
  }
  if (AfterDrawValues) AfterDrawValues(*this);
  return true;
}

void TChartSeries::CalcVisibleRange() {
  FirstVisible = -1;
  LastVisible = -1;
  const int count = PointCount();
  if (count == 0) return;
  const int n = count - 1;
  const TChartAxis* axis = GetHorizAxis();
  if (!LimitToVisible || xValues_.Order() == loNone || !axis) {
    FirstVisible = 0;
    LastVisible = n;
    return;
  }
  // The searches run over up to millions of points on every drawing: read
  // the values without the per-call index check, and bisect where the values
  // are known to ascend (the same indices the straight walks find).
  auto x = [this](int i) { return xValues_.Read(static_cast<std::size_t>(i)); };
  const bool bisect = xValues_.Ascending();
  // The first index from `from` on whose value is not below v, n + 1 if none.
  auto firstNotBelow = [&](int from, double v) {
    if (!bisect) {
      while (from <= n && x(from) < v) ++from;
      return from;
    }
    int lo = from, hi = n + 1;
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      if (x(mid) < v)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo;
  };
  const TRect plot = parentChart_->GetPlotRect();
  const double left = axis->PixelToValue(axis->Inverted() ? plot.Right : plot.Left);
  const int first = firstNotBelow(0, left);
  if (first > n) return;
  FirstVisible = first;

  const double right = axis->PixelToValue(axis->Inverted() ? plot.Left : plot.Right);
  if (x(n) <= right) {
    LastVisible = n;
    return;
  }
  int last = firstNotBelow(first, right);
  if (last > n) last = n;
  if (!ReachesRightEdge && x(last) > right) --last;
  LastVisible = last;
}


}  // namespace wg
