#include "chart/FastLineSeries.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <climits>
#include <type_traits>
#include <vector>

namespace wg {

// ---------------------------------------------------------------------------
// TFastLineSeries

TFastLineSeries::TFastLineSeries() : linePen_([this] { RequestRedraw(); }) { ReachesRightEdge = true; }

TFastLineSeries::~TFastLineSeries() { linePen_.OnChange = nullptr; }

void TFastLineSeries::SetLinePen(const TPen& pen) {
  linePen_.Assign(pen);
  SetSeriesColor(pen.Color());
}

void TFastLineSeries::SetSeriesColor(TColor c) {
  TChartSeries::SetSeriesColor(c);
  linePen_.SetColor(c);
}

void TFastLineSeries::Assign(const TFastLineSeries& source) {
  if (&source == this) return;
  autoRepaint_ = source.autoRepaint_;
  linePen_.Assign(source.linePen_);
  XValues().AssignSettings(source.XValues());
  YValues().AssignSettings(source.YValues());
  SetHorizAxis(source.HorizAxis());
  SetVertAxis(source.VertAxis());
  SetColorEachPoint(source.ColorEachPoint());
  LimitToVisible = source.LimitToVisible;
  TChartSeries::SetSeriesColor(source.SeriesColor());
}

// ---------------------------------------------------------------------------
// Drawing

void TFastLineSeries::PreparePen(TCanvas3D& canvas) const {
  canvas.ApplyChartPen(linePen_);
  canvas.Brush().SetStyle(bsClear);
}

bool TFastLineSeries::PenAllowsSpans(const TPen& pen) {
  return (pen.Style() == psSolid || pen.Style() == psInsideFrame) && pen.Width() <= 1 && pen.Mode() == pmCopy &&
         !pen.Alternate();
}

void TFastLineSeries::DrawPoints() {
  TChartLink* chart = ParentChart();
  TCanvas3D* canvas = chart ? chart->GetCanvas() : nullptr;
  if (!canvas) return;
  PreparePen(*canvas);
  lastDrawFast_ = false;
  // A range left over from an earlier drawing may outlast points that are
  // gone since: never walk past the last point there is.
  const int first = FirstVisible;
  const int last = std::min(LastVisible, PointCount() - 1);
  if (first < 0 || last < first) return;

  const TChartAxis* horiz = GetHorizAxis();
  const TChartAxis* vert = GetVertAxis();
  if (FastDrawing && canvas->HasCheapSpans() && horiz && vert && PenAllowsSpans(canvas->Pen())) {
    lastDrawFast_ = true;
    DrawPointsFast(*canvas, *horiz, *vert, first, last);
    return;
  }
  for (int i = first; i <= last; ++i) DrawPoint(i);
}

void TFastLineSeries::DrawPoint(int index) {
  TChartLink* chart = ParentChart();
  TCanvas3D* canvas = chart ? chart->GetCanvas() : nullptr;
  if (!canvas) return;
  // A NaN level was not measured: no pixel of its own and no segment into or
  // out of it. The line picks up again at the next measured point. Nor is
  // there a segment into the first point of a step apart from the one before.
  if (std::isnan(PointY(index))) {
    penUp_ = true;
    return;
  }
  const int x = PointPixelX(index);
  const int y = PointPixelY(index);
  const bool apart = StartsApart(index);
  if (index == FirstVisible) {
    if (index == 0 || apart || std::isnan(PointY(index - 1)))
      canvas->MoveTo(x, y);
    else
      canvas->Line(PointPixelX(index - 1), PointPixelY(index - 1), x, y);
  } else if (penUp_ || apart) {
    canvas->MoveTo(x, y);
  } else if (x == PrevPixelX && y == PrevPixelY) {
    return;
  } else {
    canvas->LineTo(x, y);
  }
  penUp_ = false;
  PrevPixelX = x;
  PrevPixelY = y;
}

namespace {

// Readers of the stored values: as they are, or times a multiplier (the
// product rounded once from extended precision, as the list reads it).
struct PlainValues {
  const double* v;
  double operator()(int i) const { return v[i]; }
};
struct ScaledValues {
  const double* v;
  double m;
  double operator()(int i) const { return static_cast<double>(static_cast<long double>(v[i]) * m); }
};
// Any list as it reads, whatever holds its values.
struct ListValues {
  const TChartValueList* list;
  double operator()(int i) const { return list->ReadUnchecked(static_cast<std::size_t>(i)); }
};
// Points shown from a stepped source, without a multiplier.
struct SteppedX {
  const TSteppedPoints* p;
  double operator()(int i) const { return p->X(static_cast<std::size_t>(i)); }
};
struct SteppedY {
  const TSteppedPoints* p;
  double operator()(int i) const { return p->Y(static_cast<std::size_t>(i)); }
};

// Extends a column run over points i, i + 1, … up to last while their X
// stays inside [inLo, inHi] and their Y is a number: the lowest and highest
// Y. Returns the first point not taken.
template <class ReadX, class ReadY>
int ScanColumnTail(ReadX X, ReadY Y, int i, int last, double inLo, double inHi, double& low, double& high) {
  double lw = low, hg = high;
  for (; i <= last; ++i) {
    const double xv = X(i);
    if (!(xv >= inLo && xv <= inHi)) break;
    const double yv = Y(i);
    if (yv != yv) break;
    lw = yv < lw ? yv : lw;
    hg = yv > hg ? yv : hg;
  }
  low = lw;
  high = hg;
  return i;
}

#if defined(__SSE2__)
// The stepped source four points a step as well, X worked out in the
// registers with the same two roundings as SteppedX, Y widened from floats.
// A block never spans two steps; the points a step ends with, fewer than
// four, go one by one.
// Two float levels widened to doubles.
inline __m128d TwoLevels(const float* v) {
  return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v))));
}

int ScanSteppedColumn(const TSteppedPoints& p, int i, int last, double inLo, double inHi, double& low,
                      double& high) {
  const int per = p.perStep;
  const int have = static_cast<int>(std::min<std::size_t>(p.Count(), static_cast<std::size_t>(INT_MAX)));
  const __m128d lo = _mm_set1_pd(inLo), hi = _mm_set1_pd(inHi), spacing = _mm_set1_pd(p.spacing);
  const __m128d two = _mm_set1_pd(2.0), four = _mm_set1_pd(4.0);
  __m128d mn0 = _mm_set1_pd(low), mn1 = mn0, mx0 = _mm_set1_pd(high), mx1 = mx0;
  double lw = low, hg = high;
  bool left = false;
  while (!left && i <= last && i < have) {
    const int s = i / per;
    const int end = std::min({(s + 1) * per - 1, have - 1, last});
    const double base = static_cast<double>(p.stepStarts[s]);
    const __m128d b = _mm_set1_pd(base);
    int g = i - s * per;
    // Whole blocks of the step that lie in the column, from their extremes:
    // X rises through a step, so its first and last X tell.
    if (p.blocks && g % p.blockPoints == 0) {
      const int bp = p.blockPoints;
      const float* blocks = p.blocks + 2 * static_cast<std::size_t>(s) * ((per + bp - 1) / bp);
      for (; i + bp - 1 <= end; i += bp, g += bp) {
        const double x0 = static_cast<double>(g) * p.spacing + base;
        const double x1 = static_cast<double>(g + bp - 1) * p.spacing + base;
        const float bl = blocks[2 * (g / bp)], bh = blocks[2 * (g / bp) + 1];
        if (!(x0 >= inLo && x1 <= inHi) || bl != bl) break;
        lw = bl < lw ? bl : lw;
        hg = bh > hg ? bh : hg;
      }
    }
    // Point by point up to the next block (or the step's end).
    const int pointsEnd = p.blocks ? std::min(end, i + (p.blockPoints - g % p.blockPoints) - 1) : end;
    __m128d gv = _mm_set_pd(g + 1, g);
    for (; i + 3 <= pointsEnd; i += 4, g += 4) {
      const __m128d xa = _mm_add_pd(_mm_mul_pd(gv, spacing), b);
      const __m128d xb = _mm_add_pd(_mm_mul_pd(_mm_add_pd(gv, two), spacing), b);
      const __m128d ya = TwoLevels(p.levels + i), yb = TwoLevels(p.levels + i + 2);
      const __m128d in = _mm_and_pd(_mm_and_pd(_mm_and_pd(_mm_cmpge_pd(xa, lo), _mm_cmple_pd(xa, hi)),
                                               _mm_and_pd(_mm_cmpge_pd(xb, lo), _mm_cmple_pd(xb, hi))),
                                    _mm_cmpord_pd(ya, yb));
      if (_mm_movemask_pd(in) != 3) {
        left = true;
        break;
      }
      mn0 = _mm_min_pd(ya, mn0);
      mn1 = _mm_min_pd(yb, mn1);
      mx0 = _mm_max_pd(ya, mx0);
      mx1 = _mm_max_pd(yb, mx1);
      gv = _mm_add_pd(gv, four);
    }
    for (; !left && i <= pointsEnd; ++i, ++g) {
      const double xv = static_cast<double>(g) * p.spacing + base;
      const double yv = p.levels[i];
      if (!(xv >= inLo && xv <= inHi) || yv != yv) {
        left = true;
        break;
      }
      lw = yv < lw ? yv : lw;
      hg = yv > hg ? yv : hg;
    }
  }
  const __m128d mn = _mm_min_pd(mn0, mn1), mx = _mm_max_pd(mx0, mx1);
  low = std::min({lw, _mm_cvtsd_f64(mn), _mm_cvtsd_f64(_mm_unpackhi_pd(mn, mn))});
  high = std::max({hg, _mm_cvtsd_f64(mx), _mm_cvtsd_f64(_mm_unpackhi_pd(mx, mx))});
  return i;
}
#endif

template <class ReadX, class ReadY>
int ScanColumn(ReadX X, ReadY Y, int i, int last, double inLo, double inHi, double& low, double& high) {
#if defined(__SSE2__)
  if constexpr (std::is_same_v<ReadX, SteppedX> && std::is_same_v<ReadY, SteppedY>)
    i = ScanSteppedColumn(*X.p, i, last, inLo, inHi, low, high);
  if constexpr (std::is_same_v<ReadX, PlainValues> && std::is_same_v<ReadY, PlainValues>) {
    // Four points a step, two to a register, with separate extremes so
    // that no chain of dependent comparisons sets the pace. A block that
    // leaves the column or holds a NaN is left to the tail.
    const double* xs = X.v;
    const double* ys = Y.v;
    const __m128d lo = _mm_set1_pd(inLo), hi = _mm_set1_pd(inHi);
    __m128d mn0 = _mm_set1_pd(low), mn1 = mn0, mx0 = _mm_set1_pd(high), mx1 = mx0;
    for (; i + 3 <= last; i += 4) {
      const __m128d xa = _mm_loadu_pd(xs + i), xb = _mm_loadu_pd(xs + i + 2);
      const __m128d ya = _mm_loadu_pd(ys + i), yb = _mm_loadu_pd(ys + i + 2);
      const __m128d in = _mm_and_pd(_mm_and_pd(_mm_and_pd(_mm_cmpge_pd(xa, lo), _mm_cmple_pd(xa, hi)),
                                               _mm_and_pd(_mm_cmpge_pd(xb, lo), _mm_cmple_pd(xb, hi))),
                                    _mm_cmpord_pd(ya, yb));
      if (_mm_movemask_pd(in) != 3) break;
      mn0 = _mm_min_pd(ya, mn0);
      mn1 = _mm_min_pd(yb, mn1);
      mx0 = _mm_max_pd(ya, mx0);
      mx1 = _mm_max_pd(yb, mx1);
    }
    const __m128d mn = _mm_min_pd(mn0, mn1), mx = _mm_max_pd(mx0, mx1);
    low = std::min(_mm_cvtsd_f64(mn), _mm_cvtsd_f64(_mm_unpackhi_pd(mn, mn)));
    high = std::max(_mm_cvtsd_f64(mx), _mm_cvtsd_f64(_mm_unpackhi_pd(mx, mx)));
  }
#endif
  return ScanColumnTail(X, Y, i, last, inLo, inHi, low, high);
}

}  // namespace

bool TFastLineSeries::StartsApart(int index) const {
  const TSteppedPoints* p = ShownPoints();
  return p && index >= 0 && p->StartsApart(static_cast<std::size_t>(index));
}

void TFastLineSeries::DrawPointsFast(TCanvas3D& canvas, const TCustomChartAxis& horiz,
                                     const TCustomChartAxis& vert, int first, int last) {
  const TAxisPixelMap mapX(horiz);
  const TAxisPixelMap mapY(vert);
  const double xm = XValues().Multiplier();
  const double ym = YValues().Multiplier();
  // Every point a gap, without a walk over them: the pen is up after them.
  if (YValues().Constant() && std::isnan(YValues().ReadUnchecked(0))) {
    penUp_ = true;
    return;
  }
  // Every point on the first one's pixel (a series prepared for a sweep not
  // yet done): the walk would skip all after it.
  if (XValues().Uniform() && YValues().Uniform()) last = first;
  const TSteppedPoints* p = ShownPoints();
  if (p && xm == 1.0 && ym == 1.0) {
    WalkColumns(canvas, mapX, mapY, SteppedX{p}, SteppedY{p}, first, last, p);
    return;
  }
  if (XValues().Borrowed() || YValues().Borrowed()) {
    WalkColumns(canvas, mapX, mapY, ListValues{&XValues()}, ListValues{&YValues()}, first, last, p);
    return;
  }
  const double* xs = XValues().Values().data();
  const double* ys = YValues().Values().data();
  if (xm == 1.0 && ym == 1.0)
    WalkColumns(canvas, mapX, mapY, PlainValues{xs}, PlainValues{ys}, first, last);
  else  // a multiplier of 1 reads the stored value unchanged either way
    WalkColumns(canvas, mapX, mapY, ScaledValues{xs, xm}, ScaledValues{ys, ym}, first, last);
}

// The walk, one pixel column at a time. A run of points in one column is
// reached by an ordinary line from the column before. Inside the column the
// per-point walk draws a chain of vertical strokes y[a] -> y[a+1] -> … ->
// y[b], each without its end pixel, repeats of the pixel before skipped.
// Being a continuous path, the chain covers every row between its lowest and
// highest vertex; the only row it can miss is y[b] itself, and only when that
// is an extreme which no point before the trailing repeats of it reaches (it
// is then only ever the excluded end of a stroke). With one colour in copy
// mode the order of pixels does not matter, so one span of exactly that set
// gives the per-point image. And as the mapping is monotone, the lowest and
// highest row are those of the lowest and highest level: per point the run
// costs two comparisons of X against the column's value interval and the
// running extremes of Y.
template <class ReadX, class ReadY>
void TFastLineSeries::WalkColumns(TCanvas3D& canvas, const TAxisPixelMap& mapX, const TAxisPixelMap& mapY,
                                  ReadX X, ReadY Y, int first, int last, const TSteppedPoints* steps) {
  // A NaN level is a gap: nothing is drawn for it, and the line resumes at
  // the next measured point with a move. So does a step apart from the one
  // before: the runs stop short of the next such step's first point.
  auto skipGap = [&](int i) {
    while (i <= last && Y(i) != Y(i)) ++i;
    return i;
  };
  auto nextApart = [steps](int i) {
    return steps ? static_cast<int>(std::min<std::size_t>(steps->NextApart(static_cast<std::size_t>(i)), INT_MAX))
                 : INT_MAX;
  };
  int i = skipGap(first);
  if (i > last) {
    penUp_ = true;
    return;
  }
  int apart = nextApart(i + 1);
  double cellLo, cellHi;
  int colX = mapX.MapWithValueCell(X(i), cellLo, cellHi);
  int entryY = mapY(Y(i));
  if (i == 0 || i > first || Y(i - 1) != Y(i - 1) || (steps && steps->StartsApart(static_cast<std::size_t>(i))))
    canvas.MoveTo(colX, entryY);
  else
    canvas.Line(mapX(X(i - 1)), mapY(Y(i - 1)), colX, entryY);

  // The run: points runStart … i - 1 in column colX, the first of them at
  // row entryY; the lowest and highest level among them.
  int runStart = i;
  double low = Y(i), high = low;

  // Draws the strokes of the run that ends at point end, leaves the current
  // point at that point's pixel and returns its row.
  auto finishRun = [&](int end) -> int {
    if (end == runStart) return entryY;
    int lo, hi;
    if (mapY.Monotone(low) && mapY.Monotone(high)) {
      // Every level of the run lies between these two, inside the monotone
      // range.
      const int a = mapY(low), b = mapY(high);
      lo = std::min(a, b);
      hi = std::max(a, b);
    } else {
      // Far-off levels, which the axis sends to its centre: row by row.
      lo = hi = entryY;
      for (int k = runStart + 1; k <= end; ++k) {
        const int y = mapY(Y(k));
        lo = std::min(lo, y);
        hi = std::max(hi, y);
      }
    }
    if (lo == hi) return entryY;  // one pixel: every point after the first is skipped
    const int yb = mapY(Y(end));
    bool endDrawn = true;
    if (yb == lo || yb == hi) {
      int k = end - 1;
      while (k >= runStart && mapY(Y(k)) == yb) --k;
      endDrawn = false;
      for (--k; k >= runStart && !endDrawn; --k) endDrawn = mapY(Y(k)) == yb;
    }
    if (endDrawn)
      canvas.VerticalSpan(colX, lo, hi == INT_MAX ? hi : hi + 1);
    else if (yb == hi)
      canvas.VerticalSpan(colX, lo, yb);
    else
      canvas.VerticalSpan(colX, hi, yb);
    canvas.MoveTo(colX, yb);
    return yb;
  };

  ++i;
  while (true) {
    i = ScanColumn(X, Y, i, std::min(last, apart - 1), cellLo, cellHi, low, high);
    if (i > last) break;
    const double yv = Y(i);
    if (yv != yv || i == apart) {
      PrevPixelY = finishRun(i - 1);
      PrevPixelX = colX;
      i = skipGap(i);
      if (i > last) {
        penUp_ = true;
        return;
      }
      if (apart <= i) apart = nextApart(i + 1);  // else still the next: the steps are looked at once
      colX = mapX.MapWithValueCell(X(i), cellLo, cellHi);
      entryY = mapY(Y(i));
      canvas.MoveTo(colX, entryY);
      runStart = i;
      low = high = Y(i);
      ++i;
      continue;
    }
    double nextLo, nextHi;
    const int x = mapX.MapWithValueCell(X(i), nextLo, nextHi);
    if (x == colX) {
      // In the column after all, outside its (conservative) interval.
      low = yv < low ? yv : low;
      high = yv > high ? yv : high;
      ++i;
      continue;
    }
    finishRun(i - 1);
    const int y = mapY(yv);
    canvas.LineTo(x, y);
    colX = x;
    cellLo = nextLo;
    cellHi = nextHi;
    entryY = y;
    runStart = i;
    low = high = yv;
    ++i;
  }
  PrevPixelX = colX;
  PrevPixelY = finishRun(last);
  penUp_ = false;
}

void TFastLineSeries::AfterAdd(int index) {
  if (autoRepaint_) {
    TChartSeries::AfterAdd(index);
    return;
  }
  TChartLink* chart = ParentChart();
  TCanvas3D* canvas = chart ? chart->GetCanvas() : nullptr;
  // A hidden series stays hidden.
  if (!canvas || !Active()) return;
  canvas->Pen().Assign(linePen_);
  const int j = index > 0 ? index - 1 : 0;
  const int x = PointPixelX(j);
  const int y = PointPixelY(j);
  canvas->MoveTo(x, y);
  // The skip test must compare with the point just moved to, not with
  // whatever the last drawing pass ended on: a stale match would drop the
  // new segment.
  PrevPixelX = x;
  PrevPixelY = y;
  penUp_ = std::isnan(PointY(j));
  DrawPoint(index);
}

// ---------------------------------------------------------------------------
// Hit testing

bool TFastLineSeries::PointOnSegment(TPoint p, TPoint a, TPoint b, int tolerance) {
  // Pixels span the whole int range, so the cross product needs more than
  // 64 bits.
  using Wide = __int128;
  const Wide dx = static_cast<Wide>(b.X) - a.X;
  const Wide dy = static_cast<Wide>(b.Y) - a.Y;
  Wide cross = (static_cast<Wide>(p.X) - a.X) * dy - (static_cast<Wide>(p.Y) - a.Y) * dx;
  if (cross < 0) cross = -cross;
  const Wide adx = dx < 0 ? -dx : dx;
  const Wide ady = dy < 0 ? -dy : dy;
  if (cross >= std::max(adx, ady)) return false;
  auto within = [tolerance](long long v, long long e0, long long e1) {
    if (e0 > e1) std::swap(e0, e1);
    return v >= e0 - tolerance && v <= e1 + tolerance;
  };
  if (a.X != b.X && !within(p.X, a.X, b.X)) return false;
  if (a.Y != b.Y && !within(p.Y, a.Y, b.Y)) return false;
  return true;
}

template <class PixelOf>
int TFastLineSeries::HitWalk(TPoint target, int from, int last, PixelOf&& pixel) const {
  // A gap (NaN level) is never hit, nor are the segments it does not draw,
  // nor the one that would lead into a step apart from the one before.
  auto gap = [this](int i) { return std::isnan(YValues().StoredUnchecked(static_cast<std::size_t>(i))); };
  TPoint prev{0, 0};
  bool prevDrawn = false;
  if (from > FirstVisible && !gap(from - 1)) {
    prev = pixel(from - 1);
    prevDrawn = true;
  }
  for (int i = from; i <= last; ++i) {
    if (gap(i)) {
      prevDrawn = false;
      continue;
    }
    const TPoint p = pixel(i);
    if (p == target) return i;
    if (i > FirstVisible && prevDrawn && !StartsApart(i) && PointOnSegment(target, p, prev)) return i - 1;
    prev = p;
    prevDrawn = true;
  }
  return -1;
}

int TFastLineSeries::HitTest(int x, int y) {
  if (FirstVisible == -1 || LastVisible == -1) return -1;
  // The range is the last drawing's; points may have gone since.
  const int last = std::min(LastVisible, PointCount() - 1);
  if (FirstVisible > last) return -1;
  TPoint target{x, y};
  if (TChartLink* chart = ParentChart())
    if (TCanvas3D* canvas = chart->GetCanvas()) target = canvas->Unproject(x, y, 0);
  const TChartAxis* horiz = GetHorizAxis();
  const TChartAxis* vert = GetVertAxis();
  if (!horiz || !vert) return HitWalk(target, last, [this](int i) { return TPoint{PointPixelX(i), PointPixelY(i)}; });
  // A press over a survey of millions of points is answered at drawing
  // speed, with the very pixels PointPixelX and PointPixelY give.
  const TChartValueList& xs = XValues();
  const TChartValueList& ys = YValues();
  const TAxisPixelMap mapX(*horiz);
  const TAxisPixelMap mapY(*vert);
  const auto read = [](const TChartValueList& l, int i) { return l.ReadUnchecked(static_cast<std::size_t>(i)); };
  const auto pixel = [&](int i) { return TPoint{mapX(read(xs, i)), mapY(read(ys, i))}; };
  if (!XValues().Ascending() || horiz->Inverted() || last - FirstVisible < 64) return HitWalk(target, last, pixel);
  // Ascending values left to right: a point, or a segment, can take the
  // target only where its columns reach the target's. Every point before
  // the last lies inside the plot, where the columns grow with the index;
  // the last may lie far beyond it, where the axis sends it to its centre,
  // so its segment is looked at on its own. The first hit of the full walk
  // lies in the window, or is that segment.
  const auto column = [&](int i) { return mapX(read(xs, i)); };
  int lo = FirstVisible, hi = last - 1;  // the first before `last` at or right of the target's column
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (column(mid) < target.X)
      lo = mid + 1;
    else
      hi = mid;
  }
  const int from = std::max(FirstVisible, lo - 1);
  int to = from;
  while (to < last - 1 && column(to) <= target.X) ++to;
  if (const int hit = HitWalk(target, from, to, pixel); hit >= 0) return hit;
  return HitWalk(target, std::max(to, last - 1), last, pixel);
}

}  // namespace wg
