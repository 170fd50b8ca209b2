#include "ui/TraceReadout.h"

#include "chart/ChartSeries.h"
#include "chart/SteppedPoints.h"

#include <algorithm>
#include <cmath>

namespace wg {

namespace {

// First index whose X is not below hz (above it, with `above`).
int LowerBound(const TChartSeries& s, double hz, bool above = false) {
  int lo = 0, hi = s.PointCount();
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    const double x = s.PointX(mid);
    if (x < hz || (above && x == hz))
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

// The first strongest of levels(i), from <= i < to, NaN left out; -1 for none.
template <class Level>
int Strongest(Level level, int from, int to) {
  int best = -1;
  double strongest = 0;
  for (int i = from; i < to; ++i) {
    const double y = level(i);
    if (std::isnan(y)) continue;
    if (best < 0 || y > strongest) {
      best = i;
      strongest = y;
    }
  }
  return best;
}

}  // namespace

int NearestMeasured(const TChartSeries& s, double hz) {
  const int n = s.PointCount();
  if (n == 0 || !std::isfinite(hz)) return -1;
  const int i = LowerBound(s, hz);
  int best;
  if (i == 0)
    best = 0;
  else if (i == n)
    best = n - 1;
  else
    best = (s.PointX(i) - hz < hz - s.PointX(i - 1)) ? i : i - 1;
  // The spacing of the points around the nearest one says how far a point
  // may be from hz and still be the level there.
  double spacing = 0;
  if (best + 1 < n) spacing = std::max(spacing, s.PointX(best + 1) - s.PointX(best));
  if (best > 0) spacing = std::max(spacing, s.PointX(best) - s.PointX(best - 1));
  if (std::fabs(s.PointX(best) - hz) > spacing) return -1;
  if (std::isnan(s.PointY(best))) return -1;
  return best;
}

int StrongestBetween(const TChartSeries& s, double lo, double hi) {
  const int from = LowerBound(s, lo), to = LowerBound(s, hi, true);
  // A shown sweep's levels are read where they lie, without a call per point.
  if (const TSteppedPoints* p = s.ShownPoints(); p && s.YValues().Multiplier() == 1.0)
    return Strongest([p](int i) { return p->Y(static_cast<std::size_t>(i)); }, from, to);
  return Strongest([&s](int i) { return s.PointY(i); }, from, to);
}

QString FormatMHz(double hz) { return QString::number(hz / 1e6, 'f', 4) + QStringLiteral(" MHz"); }

QString FormatDb(double db) {
  if (std::isnan(db)) return QString::fromUtf8("\u2014");
  return QString::number(db, 'f', 1) + QStringLiteral(" dB");
}

QString FormatDeltaMHz(double hz) {
  const QString t = QString::number(hz / 1e6, 'f', 4);
  return (t.startsWith('-') ? t : QStringLiteral("+") + t) + QStringLiteral(" MHz");
}

QString FormatDeltaDb(double db) {
  if (std::isnan(db)) return QString::fromUtf8("\u2014");
  const QString t = QString::number(db, 'f', 1);
  return (t.startsWith('-') ? t : QStringLiteral("+") + t) + QStringLiteral(" dB");
}

QRect PlaceLabel(QSize label, QPoint pointer, QPoint readPoint, const QRect& plot, const std::vector<QRect>& keepClear) {
  constexpr int gap = 12;
  const QPoint corners[] = {
      {pointer.x() + gap, pointer.y() - gap - label.height()},
      {pointer.x() + gap, pointer.y() + gap},
      {pointer.x() - gap - label.width(), pointer.y() - gap - label.height()},
      {pointer.x() - gap - label.width(), pointer.y() + gap},
  };
  const QRect inner = plot.adjusted(1, 1, -1, -1);
  const auto clear = [&](const QRect& r) {
    return std::none_of(keepClear.begin(), keepClear.end(), [&](const QRect& k) { return k.intersects(r); });
  };
  // Clear of the editors where it can be; the read point always.
  for (bool editorsToo : {true, false}) {
    for (const QPoint& c : corners) {
      const QRect r(c, label);
      if (inner.contains(r) && !r.contains(readPoint) && !r.contains(pointer) && (!editorsToo || clear(r))) return r;
    }
  }
  // A plot too small for any: keep it inside as far as it goes.
  QRect r(corners[0], label);
  r.moveRight(std::min(r.right(), inner.right()));
  r.moveBottom(std::min(r.bottom(), inner.bottom()));
  r.moveLeft(std::max(r.left(), inner.left()));
  r.moveTop(std::max(r.top(), inner.top()));
  return r;
}

std::vector<QRect> PlaceMarkerLabels(const std::vector<QSize>& sizes, const std::vector<QPoint>& tips,
                                     const QRect& plot, std::vector<QRect> keepClear) {
  constexpr int kAboveTip = 10, kBelowTip = 4, kStep = 1;
  std::vector<QRect> out;
  out.reserve(sizes.size());
  const QRect inner = plot.adjusted(1, 1, -1, -1);
  const auto free = [&](const QRect& r) {
    if (!inner.contains(r)) return false;
    return std::none_of(keepClear.begin(), keepClear.end(), [&](const QRect& k) { return k.intersects(r); });
  };
  for (size_t k = 0; k < sizes.size() && k < tips.size(); ++k) {
    const QSize size = sizes[k];
    const QPoint tip = tips[k];
    // Centred on the tip, moved into the plot sideways.
    const auto at = [&](int top, int left) {
      QRect r(QPoint(left, top), size);
      if (r.right() > inner.right()) r.moveRight(inner.right());
      if (r.left() < inner.left()) r.moveLeft(inner.left());
      return r;
    };
    const int centred = tip.x() - size.width() / 2;
    QRect chosen;
    // Stacked above the tip, then below it: a label stays over its marker.
    for (int top = tip.y() - kAboveTip - size.height(); chosen.isNull() && top >= inner.top();
         top -= size.height() + kStep)
      if (free(at(top, centred))) chosen = at(top, centred);
    for (int top = tip.y() + kBelowTip; chosen.isNull() && top + size.height() - 1 <= inner.bottom();
         top += size.height() + kStep)
      if (free(at(top, centred))) chosen = at(top, centred);
    // Anywhere free, the nearest to the tip.
    if (chosen.isNull()) {
      long best = -1;
      for (int top = inner.top(); top + size.height() - 1 <= inner.bottom(); top += 2)
        for (int left = inner.left(); left + size.width() - 1 <= inner.right(); left += 4) {
          const QRect r(QPoint(left, top), size);
          if (!free(r)) continue;
          const long dx = r.center().x() - tip.x(), dy = r.center().y() - tip.y();
          if (best < 0 || dx * dx + dy * dy < best) {
            best = dx * dx + dy * dy;
            chosen = r;
          }
        }
    }
    if (!chosen.isNull()) keepClear.push_back(chosen);
    out.push_back(chosen);
  }
  return out;
}

}  // namespace wg
