#include "chart/ChartAxis.h"

#include "chart/ChartSeries.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "runtime/NumText.h"

namespace wg {

namespace {

// Rounding to the nearest integer with halves to even, for values already
// known to fit; NaN counts as 0 so that a broken range cannot reach the
// conversion.
long long RoundLL(long double x) {
  if (std::isnan(x)) return 0;
  return rt::RoundHalfEven(x);
}

int ClampToInt(long long v) {
  if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (v < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

constexpr double kMaxPixelOffset = 2147483647.0;
// Label counts from this many on produce no labels at all.
constexpr long double kMaxLabelCount = 10000.0L;
constexpr double kMinLabelStep = 1e-12;

void CheckAngle(int v, const char* what) {
  if (v < 0 || v > 359)
    throw ChartException(std::string(what) + " Angle must be between 0 and 359 degrees");
}

}  // namespace

// ---------------------------------------------------------------------------
// TCustomChartAxis: settings

namespace {
int DefaultTitleAngle(bool horizontal, bool farSide, bool depth) {
  if (horizontal || depth) return 0;
  return farSide ? 270 : 90;
}
}  // namespace

TCustomChartAxis::TCustomChartAxis(TChartLink* chart, bool horizontal, bool farSide, bool depth)
    : chart_(chart),
      horizontal_(horizontal),
      farSide_(farSide),
      depth_(depth),
      axisPen_([this] { InvalidateChart(); }),
      ticks_([this] { InvalidateChart(); }),
      ticksInner_([this] { InvalidateChart(); }),
      minorTicks_([this] { InvalidateChart(); }),
      grid_([this] { InvalidateChart(); }),
      minorGrid_([this] { InvalidateChart(); }),
      labelsFont_(DefaultChartFont()),
      title_([this] { InvalidateChart(); }, DefaultTitleAngle(horizontal, farSide, depth)) {
  labelsFont_.OnChange = [this] { InvalidateChart(); };
}

TCustomChartAxis::~TCustomChartAxis() = default;

TChartDepthAxis::TChartDepthAxis(TChartLink* chart) : TChartAxis(chart, false, true, true) {
  SetVisible(false);
}

void TCustomChartAxis::InvalidateChart() {
  if (chart_) chart_->Invalidate();
}

bool TCustomChartAxis::Loading() const { return chart_ && chart_->IsLoading(); }

TCanvas3D* TCustomChartAxis::Canvas() const { return chart_ ? chart_->GetCanvas() : nullptr; }

void TCustomChartAxis::SetAutomatic(bool b) {
  Set(automatic_, b);
  if (!Loading()) {
    automaticMinimum_ = b;
    automaticMaximum_ = b;
  }
}

void TCustomChartAxis::SetAutomaticMinimum(bool b) {
  Set(automaticMinimum_, b);
  if (!b)
    automatic_ = false;
  else if (automaticMaximum_)
    automatic_ = true;
}

void TCustomChartAxis::SetAutomaticMaximum(bool b) {
  Set(automaticMaximum_, b);
  if (!b)
    automatic_ = false;
  else if (automaticMinimum_)
    automatic_ = true;
}

void TCustomChartAxis::SetMinimum(double v) {
  if (!Loading() && v > maximum_) throw AxisException("Axis Minimum Value must be <= Maximum");
  Set(minimum_, v);
}

void TCustomChartAxis::SetMaximum(double v) {
  if (!Loading() && v < minimum_) throw AxisException("Axis Maximum Value must be >= Minimum");
  Set(maximum_, v);
}

void TCustomChartAxis::SetRange(double a, double b) {
  automatic_ = false;
  automaticMinimum_ = false;
  automaticMaximum_ = false;
  if (a > b) std::swap(a, b);
  Set(minimum_, a);
  Set(maximum_, b);
  if (static_cast<long double>(maximum_) - minimum_ < 1e-10L)
    Set(maximum_, static_cast<double>(static_cast<long double>(minimum_) + 1e-10L));
}

void TCustomChartAxis::SetIncrement(double v) {
  if (v < 0) throw AxisException("Axis increment must be >= 0");
  Set(increment_, v);
}

void TCustomChartAxis::SetLabelsSeparation(int v) {
  if (v < 0) throw AxisException("Labels Separation % must be greater than 0");
  Set(labelsSeparation_, v);
}

void TCustomChartAxis::SetInverted(bool b) { Set(inverted_, b); }
void TCustomChartAxis::SetStartPosition(double v) { Set(startPosition_, v); }
void TCustomChartAxis::SetEndPosition(double v) { Set(endPosition_, v); }
void TCustomChartAxis::SetPositionPercent(double v) { Set(positionPercent_, v); }
void TCustomChartAxis::SetAxisValuesFormat(const std::string& v) { Set(axisValuesFormat_, v); }
void TCustomChartAxis::SetRoundFirstLabel(bool b) { Set(roundFirstLabel_, b); }
void TCustomChartAxis::SetLabelsMultiLine(bool b) { Set(labelsMultiLine_, b); }

void TCustomChartAxis::SetLabelStyle(TAxisLabelStyle s) {
  if (s == labelStyle_) return;
  labelStyle_ = s;
  if (chart_) chart_->Repaint();
}

void TCustomChartAxis::SetVisible(bool b) { Set(visible_, b); }
void TCustomChartAxis::SetTickLength(int v) { Set(tickLength_, v); }
void TCustomChartAxis::SetTickInnerLength(int v) { Set(tickInnerLength_, v); }
void TCustomChartAxis::SetMinorTickLength(int v) { Set(minorTickLength_, v); }
void TCustomChartAxis::SetMinorTickCount(int v) { Set(minorTickCount_, v); }
void TCustomChartAxis::SetGridCentered(bool b) { Set(gridCentered_, b); }
void TCustomChartAxis::SetLabels(bool b) { Set(labels_, b); }
void TCustomChartAxis::SetLabelsOnAxis(bool b) { Set(labelsOnAxis_, b); }
void TCustomChartAxis::SetLabelsSize(int v) { Set(labelsSize_, v); }
void TCustomChartAxis::SetTickOnLabelsOnly(bool b) { Set(tickOnLabelsOnly_, b); }
void TCustomChartAxis::SetTitleSize(int v) { Set(titleSize_, v); }

void TCustomChartAxis::SetLabelsAngle(int v) {
  CheckAngle(v, "Axis Labels");
  // A refused angle throws before anything is stored; an accepted one always
  // invalidates, changed or not.
  labelsAngle_ = v;
  InvalidateChart();
}

// ---------------------------------------------------------------------------
// Range in effect and pixel extent

namespace {

enum class Extreme { Min, Max };

double SeriesExtreme(const TCustomChartAxis& axis, Extreme which) {
  const TChartLink* chart = axis.ParentChart();
  if (!chart) return 0;
  const TCustomChartAxis& self = axis;
  const int count = chart->SeriesCount();

  // Inactive series count only when no active one is on this axis, so that a
  // chart whose series are all hidden keeps a sensible range.
  bool anyActive = false;
  for (int i = 0; i < count && !anyActive; ++i) {
    const TChartSeries* s = chart->Series(i);
    anyActive = s && s->Active() && s->AssociatedToAxis(self);
  }

  bool found = false;
  double result = 0;
  for (int i = 0; i < count; ++i) {
    const TChartSeries* s = chart->Series(i);
    if (!s || (anyActive && !s->Active())) continue;
    if (s->PointCount() == 0 || !s->AssociatedToAxis(self)) continue;
    // A series whose every value on this axis is a gap has no extreme.
    const TChartValueList& list = axis.IsHorizontal() ? s->XValues() : s->YValues();
    if (list.CountedValues() == 0) continue;
    double v;
    if (axis.IsHorizontal())
      v = which == Extreme::Min ? s->MinX() : s->MaxX();
    else
      v = which == Extreme::Min ? s->MinY() : s->MaxY();
    if (!found || (which == Extreme::Min ? v < result : v > result)) result = v;
    found = true;
  }
  return result;
}

}  // namespace

double TCustomChartAxis::SeriesMinimum() const { return SeriesExtreme(*this, Extreme::Min); }
double TCustomChartAxis::SeriesMaximum() const { return SeriesExtreme(*this, Extreme::Max); }

void TCustomChartAxis::UpdateEffectiveRange() {
  if (automatic_ || automaticMaximum_) maximum_ = SeriesMaximum();
  if (automatic_ || automaticMinimum_) minimum_ = SeriesMinimum();
  EffectiveMaximum = maximum_;
  EffectiveMinimum = minimum_;
  EffectiveRange = EffectiveMaximum - EffectiveMinimum;
}

void TCustomChartAxis::UpdatePixelExtent() {
  const TRect plot = chart_ ? chart_->GetPlotRect() : TRect{};
  const int origin = horizontal_ ? plot.Left : plot.Top;
  const int size = horizontal_ ? plot.Width() : plot.Height();
  // The percentages are scaled in extended precision with an extended 0.01,
  // which decides the exact halves.
  StartPixel = ClampToInt(origin + RoundLL(static_cast<long double>(size) * 0.01L * startPosition_));
  EndPixel = ClampToInt(origin + RoundLL(static_cast<long double>(size) * 0.01L * endPosition_));
  AxisLength = EndPixel - StartPixel;
  CenterPixel = (StartPixel + EndPixel) / 2;
}

void TCustomChartAxis::ShrinkByMargins(int a, int b) {
  const int oldStart = StartPixel;
  const int oldEnd = EndPixel;
  StartPixel += a;
  EndPixel -= b;
  AxisLength = EndPixel - StartPixel;
  double lo = PixelToValue(oldStart);
  double hi = PixelToValue(oldEnd);
  UpdatePixelExtent();
  if (lo > hi) std::swap(lo, hi);
  EffectiveMinimum = lo;
  EffectiveMaximum = hi;
  EffectiveRange = EffectiveMaximum - EffectiveMinimum;
}

void TCustomChartAxis::ApplySeriesMargins() {
  int before = 0, after = 0;
  if (chart_) {
    const TCustomChartAxis& self = *this;
    for (int i = 0; i < chart_->SeriesCount(); ++i) {
      const TChartSeries* s = chart_->Series(i);
      if (!s || !s->Active() || !s->AssociatedToAxis(self)) continue;
      int lo = 0, hi = 0;
      if (horizontal_)
        s->CalcHorizMargins(lo, hi);
      else
        s->CalcVerticalMargins(lo, hi);
      before = std::max(before, lo);
      after = std::max(after, hi);
    }
  }
  // A horizontal axis starts at its minimum, a vertical one at its maximum
  // (the top); margins count only at ends that follow the data.
  const bool startAuto = horizontal_ ? automaticMinimum_ : automaticMaximum_;
  const bool endAuto = horizontal_ ? automaticMaximum_ : automaticMinimum_;
  ShrinkByMargins(startAuto ? before : 0, endAuto ? after : 0);
}

// ---------------------------------------------------------------------------
// Mapping

int TCustomChartAxis::ValueToPixel(double v) const {
  if (EffectiveRange == 0) return CenterPixel;
  const double t = static_cast<double>((static_cast<long double>(v) - EffectiveMinimum) * AxisLength /
                                       EffectiveRange);
  // NaN (a broken range or value) takes the same way out as an overflow.
  if (!(std::fabs(t) < kMaxPixelOffset)) return CenterPixel;
  const long long r = RoundLL(t);
  long long p;
  if (horizontal_)
    p = inverted_ ? static_cast<long long>(EndPixel) - r : static_cast<long long>(StartPixel) + r;
  else
    p = inverted_ ? static_cast<long long>(StartPixel) + r : static_cast<long long>(EndPixel) - r;
  // Far-off values stay on their side of the plot instead of wrapping round.
  return ClampToInt(p);
}

double TCustomChartAxis::PixelToValue(int p) const {
  if (AxisLength < 1) return 0;
  const long long d = inverted_ ? static_cast<long long>(EndPixel) - p : static_cast<long long>(p) - StartPixel;
  const double t = static_cast<double>(static_cast<long double>(d) * EffectiveRange / AxisLength);
  if (horizontal_) return static_cast<double>(static_cast<long double>(EffectiveMinimum) + t);
  return static_cast<double>(static_cast<long double>(EffectiveMaximum) - t);
}

// ---------------------------------------------------------------------------
// Labels

std::vector<std::string_view> TCustomChartAxis::TextLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t cr = text.find('\r', start);
    if (cr == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, cr - start));
    start = cr + 1;
  }
  return lines;
}

int TCustomChartAxis::MaxLineWidth(std::string_view text) const {
  TCanvas3D* canvas = Canvas();
  if (!canvas) return 0;
  int widest = 0;
  for (std::string_view line : TextLines(text)) widest = std::max(widest, canvas->TextWidth(line));
  return widest;
}

int TCustomChartAxis::CanvasFontHeight() const {
  TCanvas3D* canvas = Canvas();
  return canvas ? canvas->FontHeight() : 0;
}

int TCustomChartAxis::LabelSizeForStep() {
  const std::string hi = LabelText(EffectiveMaximum);
  const std::string lo = LabelText(EffectiveMinimum);
  // Lines stacked along the axis count as the height of the block; lines
  // side by side along it count as the widest one.
  const bool stacked = horizontal_ ? (labelsAngle_ == 90 || labelsAngle_ == 270)
                                   : (labelsAngle_ == 0 || labelsAngle_ == 180);
  auto size = [&](const std::string& text) {
    return stacked ? CanvasFontHeight() * static_cast<int>(TextLines(text).size()) : MaxLineWidth(text);
  };
  return std::max(size(hi), size(lo));
}

double TCustomChartAxis::LabelStep() {
  if (TCanvas3D* canvas = Canvas()) canvas->AssignFont(labelsFont_);
  const int s = LabelSizeForStep();

  int n;
  if (s <= 0) {
    n = 1;
  } else {
    long long g = s;
    if (labelsSeparation_ > 0) g += RoundLL(static_cast<long double>(labelsSeparation_) * 0.01L * s);
    n = ClampToInt(RoundLL(static_cast<long double>(AxisLength) / g));
  }
  if (n < 1) return kMinLabelStep;

  double step;
  if (increment_ > 0)
    step = increment_;
  else
    step = std::fabs(EffectiveRange) >= 1 ? 1.0 : kMinLabelStep;

  if (labelsSeparation_ > 0) {
    long long count = static_cast<long long>(n) + 1;
    do {
      const double q = static_cast<double>(static_cast<long double>(EffectiveRange) / step);
      if (std::fabs(q) < kMaxPixelOffset) {
        count = RoundLL(q);
        if (count > n) step = NextLabelStep(step);
      } else {
        step = NextLabelStep(step);
      }
      // A range that is not finite never fits; stop once the step is as large
      // as a double gets instead of climbing for ever.
      if (!std::isfinite(step)) break;
    } while (count > n);
  }
  return std::max(step, kMinLabelStep);
}

double TCustomChartAxis::NextLabelStep(double x) {
  if (!(x > 0) || std::isinf(x)) return x;  // nothing to climb from
  if (x >= 10) return static_cast<double>(NextLabelStep(static_cast<double>(x * 0.1L)) * 10.0L);
  if (x < 1) return static_cast<double>(NextLabelStep(static_cast<double>(x * 10.0L)) * 0.1L);
  if (x < 2) return 2;
  if (x < 5) return 5;
  return 10;
}

std::vector<double> TCustomChartAxis::LabelValues(double inc) const {
  std::vector<double> out;
  if (!(inc > 0) || !(EffectiveMaximum >= EffectiveMinimum)) return out;
  if (!std::isfinite(inc) || !std::isfinite(EffectiveMinimum) || !std::isfinite(EffectiveMaximum))
    return out;
  if (!(std::fabs(static_cast<long double>(EffectiveRange) / inc) < kMaxLabelCount)) return out;

  double v;
  if (EffectiveMinimum == EffectiveMaximum) {
    v = EffectiveMaximum;
  } else if (roundFirstLabel_) {
    const long double q = static_cast<long double>(EffectiveMaximum) / inc;
    // Quotients beyond a 64-bit integer keep their integral value as a float.
    const long double whole =
        std::fabs(q) < 9.2e18L ? static_cast<long double>(static_cast<long long>(q)) : std::truncl(q);
    v = static_cast<double>(whole * inc);
  } else {
    v = EffectiveMaximum;
  }

  // Where inc is below the spacing of doubles near v, subtracting it changes
  // nothing; stop there rather than loop for ever.
  while (v > EffectiveMaximum) {
    const double next = static_cast<double>(static_cast<long double>(v) - inc);
    if (next == v) break;
    v = next;
  }
  const double lowest = static_cast<double>((static_cast<long double>(EffectiveMinimum) - 1e-12L) /
                                            1.000000000001L);
  while (v >= lowest) {
    out.push_back(v);
    const double next = static_cast<double>(static_cast<long double>(v) - inc);
    if (next == v) break;
    v = next;
  }
  return out;
}

std::string TCustomChartAxis::LabelText(double v, bool withHook) const {
  std::string text = rt::FormatFloat(axisValuesFormat_, v);
  if (withHook && chart_) chart_->GetAxisLabel(*this, v, text);
  if (labelsMultiLine_) std::replace(text.begin(), text.end(), ' ', '\r');
  return text;
}

TAxisLabelStyle TCustomChartAxis::LabelStyleInEffect() const {
  if (labelStyle_ != talAuto) return labelStyle_;
  bool anyActive = false;
  if (chart_) {
    const TCustomChartAxis& self = *this;
    for (int i = 0; i < chart_->SeriesCount(); ++i) {
      const TChartSeries* s = chart_->Series(i);
      if (!s || !s->Active() || !s->AssociatedToAxis(self)) continue;
      anyActive = true;
      if (s->HasLabelTexts() && s->YMandatory() == horizontal_) return talText;
    }
  }
  return anyActive ? talValue : talNone;
}

}  // namespace wg
