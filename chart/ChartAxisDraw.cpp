// Axis drawing: the axis's bands in the chart layout, and its title, labels,
// line, ticks and grids.
//
// Across the axis every position is measured from the plot edge on the
// axis's own side (bottom edge for the bottom axis, top edge for the top
// axis, and so on); outer things point away from the plot, inner ones into it.
#include <algorithm>
#include <cmath>
#include <limits>

#include "chart/ChartAxis.h"
#include "chart/ImageCanvas.h"
#include "runtime/NumText.h"

namespace wg {

namespace {

int RoundToInt(long double x) {
  if (std::isnan(x)) return 0;
  constexpr long double kLo = std::numeric_limits<int>::min();
  constexpr long double kHi = std::numeric_limits<int>::max();
  if (x <= kLo) return std::numeric_limits<int>::min();
  if (x >= kHi) return std::numeric_limits<int>::max();
  return static_cast<int>(rt::RoundHalfEven(x));
}

enum class Side { Bottom, Top, Left, Right };

}  // namespace

// ---------------------------------------------------------------------------
// Layout

int TCustomChartAxis::SideEdge(const TRect& r) const {
  if (horizontal_) return farSide_ ? r.Top : r.Bottom;
  return farSide_ ? r.Right : r.Left;
}

void TCustomChartAxis::ShrinkSide(TRect& r, int k) const {
  if (horizontal_) {
    if (farSide_)
      r.Top += k;
    else
      r.Bottom -= k;
  } else {
    if (farSide_)
      r.Right -= k;
    else
      r.Left += k;
  }
}

int TCustomChartAxis::Shift(int p, const TRect& r) const {
  if (positionPercent_ == 0) return p;
  const int size = horizontal_ ? r.Height() : r.Width();
  int d = RoundToInt(0.01L * positionPercent_ * size);
  // Positive percentages move the axis into the plot: downwards for a top
  // axis, upwards for a bottom one.
  if (farSide_) d = -d;
  if (horizontal_) d = -d;
  const long long moved = static_cast<long long>(p) + d;
  return static_cast<int>(
      std::clamp<long long>(moved, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

int TCustomChartAxis::TitleBandSize() {
  if (titleSize_ != 0) return titleSize_;
  TCanvas3D* c = Canvas();
  if (!c) return 0;
  c->AssignFont(title_.Font());
  const int a = title_.Angle();
  const bool alongAxis = horizontal_ ? (a == 0 || a == 180) : (a == 90 || a == 270);
  return alongAxis ? c->FontHeight() : MaxLineWidth(title_.Caption());
}

int TCustomChartAxis::LabelsBandSize() {
  if (labelsSize_ != 0) return labelsSize_;
  TCanvas3D* c = Canvas();
  if (!c) return 0;
  c->AssignFont(labelsFont_);
  const bool alongAxis =
      horizontal_ ? (labelsAngle_ == 0 || labelsAngle_ == 180) : (labelsAngle_ == 90 || labelsAngle_ == 270);
  return alongAxis ? c->FontHeight() : WidestLabel();
}

int TCustomChartAxis::TickBandSize() const {
  int size = (axisPen_.Visible() ? axisPen_.Width() : 0) + (ticks_.Visible() ? tickLength_ : 0);
  if (minorTicks_.Visible()) size = std::max(size, minorTickLength_);
  return size;
}

int TCustomChartAxis::WidestLabel() {
  if (LabelStyleInEffect() == talNone) return 0;
  const double inc = LabelStep();
  double lo = EffectiveMinimum;
  double hi = EffectiveMaximum;
  if (roundFirstLabel_) {
    const long double li = static_cast<long double>(inc);
    const long double rlo = std::truncl(EffectiveMinimum / li) * li;
    const long double rhi = std::truncl(EffectiveMaximum / li) * li;
    // A range that is not finite keeps its own ends.
    if (std::isfinite(rlo)) lo = static_cast<double>(rlo);
    if (std::isfinite(rhi)) hi = static_cast<double>(rhi);
  }
  // Sized by the plain formatted values; the chart's label hook is not asked.
  const int widest = std::max(MaxLineWidth(LabelText(hi, false)), MaxLineWidth(LabelText(lo, false)));
  TCanvas3D* c = Canvas();
  return widest + (c ? c->TextWidth(" ") : 0);
}

void TCustomChartAxis::LayoutShare(TRect& r) {
  // A band that is not laid out keeps its old position unshifted, so that a
  // position nobody draws at does not creep a little further at every layout.
  const bool hasTitle = !title_.Caption().empty();
  if (hasTitle) {
    ShrinkSide(r, TitleBandSize());
    TitleBandPos = SideEdge(r);
  }
  if (labels_) {
    ShrinkSide(r, LabelsBandSize());
    LabelBandPos = SideEdge(r);
  }
  // Walls have no thickness in a flat chart, so the tick band is all.
  const int ticks = TickBandSize();
  if (ticks > 0) ShrinkSide(r, ticks);
  if (hasTitle) TitleBandPos = Shift(TitleBandPos, r);
  if (labels_) LabelBandPos = Shift(LabelBandPos, r);
}

// ---------------------------------------------------------------------------
// Text

void TCustomChartAxis::PlaceText(int x, int y, int a, std::string_view text) {
  TCanvas3D* c = Canvas();
  if (!c) return;
  const int h = c->FontHeight();
  const std::vector<std::string_view> lines = TextLines(text);
  const int n = static_cast<int>(lines.size());
  const Side side =
      horizontal_ ? (farSide_ ? Side::Top : Side::Bottom) : (farSide_ ? Side::Right : Side::Left);
  const bool vertical = !horizontal_;
  // Half the block of lines, for centring it on a tick.
  const int half = RoundToInt(static_cast<long double>(h) * 0.5L * (n + 1));

  unsigned flags = TA_LEFT | TA_TOP;
  int dx = 0, dy = 0;  // advance before each line
  switch (a) {
    // Any angle other than the four below turns the lines about the points a
    // horizontal text uses.
    default:
    case 0:
      switch (side) {
        case Side::Bottom: flags = TA_CENTER | TA_TOP; y -= h; break;
        case Side::Top: flags = TA_CENTER | TA_BOTTOM; y -= n * h; break;
        case Side::Left: flags = TA_RIGHT | TA_TOP; y -= h / 2 + half; break;
        case Side::Right: flags = TA_LEFT | TA_TOP; y -= h / 2 + half; break;
      }
      dy = h;
      break;
    case 90:
      if (vertical) {
        if (side == Side::Left) {
          flags = TA_CENTER | TA_BOTTOM;
          x -= n * h;
        } else {
          flags = TA_CENTER | TA_TOP;
          x -= h;
        }
      } else {
        flags = (side == Side::Top ? TA_LEFT : TA_RIGHT) | TA_TOP;
        x -= h / 2 + half;
      }
      dx = h;
      break;
    // 180 and 270 put the block of lines where 0 and 90 put it, upside down:
    // the first line is then the one furthest along the advance.
    case 180:
      switch (side) {
        case Side::Bottom: flags = TA_CENTER | TA_BOTTOM; y += n * h; break;
        case Side::Top: flags = TA_CENTER | TA_TOP; y += h; break;
        case Side::Left: flags = TA_LEFT | TA_TOP; y += -(h / 2) - half + (n + 2) * h; break;
        case Side::Right: flags = TA_RIGHT | TA_TOP; y += -(h / 2) - half + (n + 2) * h; break;
      }
      dy = -h;
      break;
    case 270:
      switch (side) {
        case Side::Bottom: flags = TA_LEFT | TA_TOP; x += -(h / 2) - half + (n + 2) * h; break;
        case Side::Top: flags = TA_RIGHT | TA_TOP; x += -(h / 2) - half + (n + 2) * h; break;
        case Side::Left: flags = TA_CENTER | TA_TOP; x += h; break;
        case Side::Right: flags = TA_CENTER | TA_BOTTOM; x += n * h; break;
      }
      dx = -h;
      break;
  }

  c->SetTextAlign(flags);
  // Flat chart: text has no depth, also on a far-side axis.
  constexpr int z = 0;
  for (std::string_view line : lines) {
    x += dx;
    y += dy;
    if (a == 0)
      c->TextOutZ(x, y, z, line);
    else
      c->RotatedTextZ(x, y, z, line, a);
  }
  c->SetTextAlign(TA_LEFT | TA_TOP);
}

void TCustomChartAxis::DrawTitle() {
  TCanvas3D* c = Canvas();
  c->AssignFont(title_.Font());
  c->Brush().SetColor(chart_->ChartColor());
  c->Brush().SetStyle(bsClear);
  if (horizontal_)
    PlaceText(CenterPixel, TitleBandPos, title_.Angle(), title_.Caption());
  else
    PlaceText(TitleBandPos, CenterPixel, title_.Angle(), title_.Caption());
}

void TCustomChartAxis::DrawLabel(int p, const std::string& text) {
  if (tickOnLabelsOnly_) AddTick(p);
  TCanvas3D* c = Canvas();
  c->AssignFont(labelsFont_);
  c->Brush().SetColor(chart_->ChartColor());
  c->Brush().SetStyle(bsClear);
  if (horizontal_)
    PlaceText(p, LabelBandPos, labelsAngle_, text);
  else
    PlaceText(LabelBandPos, p, labelsAngle_, text);
}

// ---------------------------------------------------------------------------
// Lines

void TCustomChartAxis::AddTick(int p) {
  // Only a label step far below what the labels' size allows gets this far;
  // the extra positions are dropped.
  if (tickList_.size() < kMaxTicks) tickList_.push_back(p);
}

// s is +1 for ticks outside the plot, -1 for ticks inside; k the length.
void TCustomChartAxis::DrawTick(int p, int s, int k) {
  TCanvas3D* c = Canvas();
  if (horizontal_) {
    if (farSide_)
      c->VerticalLineZ(p, LinePos - s, LinePos - s - k, 0);
    else
      c->VerticalLineZ(p, LinePos + s, LinePos + s + k, 0);
  } else {
    if (farSide_)
      c->HorizontalLineZ(LinePos + s, LinePos + s + k, p, 0);
    else
      c->HorizontalLineZ(LinePos - s, LinePos - s - k, p, 0);
  }
}

void TCustomChartAxis::DrawGridLine(int p) {
  TCanvas3D* c = Canvas();
  const TRect plot = chart_->GetPlotRect();
  if (horizontal_)
    c->VerticalLine(p, plot.Top, plot.Bottom);
  else
    c->HorizontalLine(plot.Left, plot.Right, p);
}

void TCustomChartAxis::DrawGrid() {
  TCanvas3D* c = Canvas();
  c->Brush().SetStyle(bsClear);
  c->SetBackMode(cbmTransparent);
  if (grid_.Color() == clDefault) {
    // The pen itself keeps clDefault; only what it draws with is grey.
    TChartPen gray;
    gray.Assign(grid_);
    gray.SetColor(clGray);
    c->ApplyChartPen(gray);
  } else {
    c->ApplyChartPen(grid_);
  }
  if (gridCentered_) {
    for (std::size_t i = 1; i < tickList_.size(); ++i)
      DrawGridLine(RoundToInt((static_cast<long double>(tickList_[i]) + tickList_[i - 1]) * 0.5L));
  } else {
    for (int p : tickList_) DrawGridLine(p);
  }
  c->SetBackMode(cbmOpaque);
}

template <typename F>
void TCustomChartAxis::ForEachMinor(F&& f) const {
  const std::size_t n = tickList_.size();
  const int count = minorTickCount_;
  if (n == 0 || count < 1) return;
  auto visit = [&](long long p) {
    if (StartPixel < p && p < EndPixel) f(static_cast<int>(p));
  };
  // Beyond the outermost labels, at the spacing of the first gap.
  if (n > 1) {
    const long long gap = tickList_[1] - static_cast<long long>(tickList_[0]);
    const double q = static_cast<double>(gap) / (count + 1.0);
    for (int i = 1; i <= count; ++i) {
      const long long d = RoundToInt(static_cast<long double>(q) * i);
      visit(tickList_[0] - d);
      visit(tickList_[n - 1] + d);
    }
  }
  for (std::size_t i = 1; i < n; ++i) {
    const long long gap = tickList_[i] - static_cast<long long>(tickList_[i - 1]);
    const double q = static_cast<double>(gap) / (count + 1.0);
    for (int j = 1; j <= count; ++j)
      visit(tickList_[i] - static_cast<long long>(RoundToInt(static_cast<long double>(q) * j)));
  }
}

void TCustomChartAxis::Draw() {
  tickList_.clear();
  const TRect plot = chart_ ? chart_->GetPlotRect() : TRect{};
  TCanvas3D* c = Canvas();
  if (!c) {
    LinePos = Shift(SideEdge(plot), plot);
    return;
  }

  c->AssignFont(labelsFont_);
  const double inc = LabelStep();
  LinePos = Shift(SideEdge(plot), plot);

  if (!title_.Caption().empty()) DrawTitle();

  if (LabelStyleInEffect() == talValue) {
    for (double v : LabelValues(inc)) {
      const int p = ValueToPixel(v);
      if (!labelsOnAxis_ && !(StartPixel < p && p < EndPixel)) continue;
      if (!tickOnLabelsOnly_) AddTick(p);
      if (labels_) DrawLabel(p, LabelText(v));
    }
  }

  if (axisPen_.Visible()) {
    c->ApplyChartPen(axisPen_);
    // The end pixel is left out, as for every line.
    if (horizontal_)
      c->HorizontalLineZ(StartPixel, EndPixel, LinePos, 0);
    else
      c->VerticalLineZ(LinePos, StartPixel, EndPixel, 0);
  }
  if (ticks_.Visible()) {
    c->ApplyChartPen(ticks_);
    for (int p : tickList_) DrawTick(p, +1, tickLength_);
  }
  if (grid_.Visible()) DrawGrid();
  if (ticksInner_.Visible()) {
    c->ApplyChartPen(ticksInner_);
    for (int p : tickList_) DrawTick(p, -1, -tickInnerLength_);
  }
  if (!tickList_.empty() && minorTicks_.Visible()) {
    c->ApplyChartPen(minorTicks_);
    ForEachMinor([&](int p) { DrawTick(p, +1, minorTickLength_); });
  }
  if (!tickList_.empty() && minorGrid_.Visible()) {
    c->ApplyChartPen(minorGrid_);
    ForEachMinor([&](int p) { DrawGridLine(p); });
  }
}

}  // namespace wg
