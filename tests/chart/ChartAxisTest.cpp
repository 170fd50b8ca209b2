// Axis scaling: flags and bounds with their exceptions, the range taken from
// the series, the pixel extent, value/pixel mapping, the label step search
// with real text widths, and the label values.
#include <QApplication>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "chart/ChartAxis.h"
#include "chart/ChartSeries.h"
#include "chart/ImageCanvas.h"
#include "runtime/NumText.h"

using namespace wg;

namespace {

class FakeChart : public TChartLink {
 public:
  FakeChart() : canvas(std::make_unique<TChartCanvas3D>()) {}
  void Invalidate() override { ++invalidations; }
  bool IsLoading() const override { return loading; }
  int SeriesCount() const override { return static_cast<int>(series.size()); }
  TChartSeries* Series(int i) const override { return series[static_cast<std::size_t>(i)]; }
  TRect GetPlotRect() const override { return plot; }
  TCanvas3D* GetCanvas() const override { return canvas.get(); }
  TChartAxis* AxisFor(THorizAxis) const override { return nullptr; }
  TChartAxis* AxisFor(TVertAxis) const override { return nullptr; }
  void GetAxisLabel(const TCustomChartAxis& axis, double v, std::string& text) override {
    if (hook) hook(axis, v, text);
  }

  std::unique_ptr<TChartCanvas3D> canvas;
  int invalidations = 0;
  bool loading = false;
  std::vector<TChartSeries*> series;
  TRect plot{17, 40, 563, 300};
  std::function<void(const TCustomChartAxis&, double, std::string&)> hook;
};

// A series that asks for room beyond its extreme values.
class MarginSeries : public TChartSeries {
 public:
  void CalcHorizMargins(int& left, int& right) const override {
    left = 10;
    right = 20;
  }
};

std::string Thrown(const std::function<void()>& f) {
  try {
    f();
  } catch (const AxisException& e) {
    return std::string("Axis: ") + e.what();
  } catch (const ChartException& e) {
    return std::string("Chart: ") + e.what();
  }
  return "none";
}

long long RoundEven(double x) { return static_cast<long long>(std::nearbyint(x)); }

// The first of 1, 2, 5, 10, 20, 50 … whose label count fits n.
double FirstFittingStep(double range, long long n) {
  for (double decade = 1;; decade *= 10)
    for (double m : {1.0, 2.0, 5.0})
      if (RoundEven(range / (m * decade)) <= n) return m * decade;
}

class AxisTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::SetDecimalSeparator('.');
    rt::SetThousandSeparator(",");
  }
  // Range, extent and label step as one drawing computes them.
  void Layout(TChartAxis& axis) {
    axis.UpdateEffectiveRange();
    axis.UpdatePixelExtent();
    axis.ApplySeriesMargins();
  }
  int LabelGap(int s) { return s + static_cast<int>(RoundEven(0.1 * s)); }

  FakeChart chart;
  TChartAxis bottom{&chart, true, false};
  TChartAxis left{&chart, false, false};
};

}  // namespace

TEST_F(AxisTest, AutomaticFlagsMirrorEachOther) {
  bottom.SetAutomatic(false);
  EXPECT_FALSE(bottom.AutomaticMinimum());
  bottom.SetAutomaticMinimum(true);  // maximum still fixed
  EXPECT_FALSE(bottom.Automatic());
  bottom.SetAutomaticMaximum(true);
  EXPECT_TRUE(bottom.Automatic());
  bottom.SetAutomaticMaximum(false);
  EXPECT_FALSE(bottom.Automatic());

  chart.loading = true;  // a stored form sets each flag itself
  bottom.SetAutomatic(true);
  EXPECT_TRUE(bottom.Automatic());
  EXPECT_FALSE(bottom.AutomaticMaximum());

  chart.loading = false;
  left.SetRange(1, 2);
  EXPECT_FALSE(left.AutomaticMinimum() || left.AutomaticMaximum());
}

TEST_F(AxisTest, RefusedValuesRaiseExactTextsAndKeepTheOldValue) {
  left.SetRange(-120, 25);
  chart.invalidations = 0;
  EXPECT_EQ(Thrown([&] { left.SetMinimum(30); }), "Axis: Axis Minimum Value must be <= Maximum");
  EXPECT_EQ(Thrown([&] { left.SetMaximum(-121); }), "Axis: Axis Maximum Value must be >= Minimum");
  EXPECT_EQ(Thrown([&] { left.SetIncrement(-1); }), "Axis: Axis increment must be >= 0");
  EXPECT_EQ(Thrown([&] { left.SetLabelsSeparation(-1); }),
            "Axis: Labels Separation % must be greater than 0");
  EXPECT_EQ(Thrown([&] { left.SetLabelsAngle(360); }),
            "Chart: Axis Labels Angle must be between 0 and 359 degrees");
  EXPECT_EQ(Thrown([&] { left.Title().SetAngle(360); }),
            "Chart: Axis Title Angle must be between 0 and 359 degrees");
  EXPECT_EQ(chart.invalidations, 0);
  EXPECT_EQ(left.Minimum(), -120);
  EXPECT_EQ(left.Maximum(), 25);
  EXPECT_EQ(left.LabelsAngle(), 0);
  EXPECT_EQ(Thrown([&] { left.Title().SetAngle(359); }), "none");

  // Moving a fixed range property by property can fail; while the form is
  // read it cannot.
  chart.loading = true;
  left.SetMinimum(100);
  EXPECT_EQ(left.Minimum(), 100);
}

TEST_F(AxisTest, SettersInvalidateOnlyOnChangeAndSetRangeOrders) {
  bottom.SetEndPosition(100);
  bottom.Axis().SetWidth(2);
  bottom.LabelsFont().SetSize(8);
  EXPECT_EQ(chart.invalidations, 0);
  bottom.SetEndPosition(97);
  bottom.LabelsFont().SetSize(9);
  EXPECT_EQ(chart.invalidations, 2);

  bottom.SetRange(5, 5);
  EXPECT_EQ(bottom.Minimum(), 5);
  EXPECT_DOUBLE_EQ(bottom.Maximum(), 5.0000000001);
  EXPECT_GT(bottom.Maximum(), 5);
  bottom.SetRange(10, 2);
  EXPECT_EQ(bottom.Minimum(), 2);
  EXPECT_EQ(bottom.Maximum(), 10);
  // No bound checks: a range anywhere can follow any other.
  bottom.SetRange(138000000, 153000000);
  bottom.SetRange(-5, -4);
  EXPECT_EQ(bottom.Minimum(), -5);
}

TEST_F(AxisTest, AutomaticRangeComesFromTheSeriesOnTheAxis) {
  TChartSeries a, b, top, empty;
  a.AddPoint(10, -3);
  a.AddPoint(20, 7);
  b.AddPoint(5, 1);
  b.SetActive(false);
  top.SetHorizAxis(aTopAxis);
  top.AddPoint(-100, 100);
  chart.series = {&empty, &a, &b, &top};

  Layout(bottom);
  EXPECT_EQ(bottom.Minimum(), 10);  // inactive b and top-axis series ignored
  EXPECT_EQ(bottom.Maximum(), 20);
  Layout(left);
  EXPECT_EQ(left.Minimum(), -3);  // the top-axis series maps Y through the left axis too
  EXPECT_EQ(left.Maximum(), 100);

  top.SetHorizAxis(aBothHorizAxis);
  Layout(bottom);
  EXPECT_EQ(bottom.Minimum(), -100);

  // With no active series on the axis, inactive ones count.
  a.SetActive(false);
  top.SetActive(false);
  empty.SetActive(false);  // an active empty series alone would give 0 … 0
  Layout(bottom);
  EXPECT_EQ(bottom.Minimum(), -100);
  EXPECT_EQ(bottom.Maximum(), 20);

  // Only the automatic end follows.
  bottom.SetAutomatic(false);
  bottom.SetRange(0, 1000);
  bottom.SetAutomaticMinimum(true);
  Layout(bottom);
  EXPECT_EQ(bottom.Minimum(), -100);
  EXPECT_EQ(bottom.Maximum(), 1000);
}

TEST_F(AxisTest, PixelExtent) {
  chart.plot = {17, 40, 563, 300};  // 546 × 260
  bottom.SetEndPosition(97);
  bottom.UpdatePixelExtent();
  EXPECT_EQ(bottom.EndPixel, 17 + 530);  // Round(529.62)
  EXPECT_EQ(bottom.CenterPixel, (17 + 547) / 2);
  chart.plot = {-9, 0, 6, 10};  // centre truncates toward zero, also left of the origin
  bottom.SetEndPosition(100);
  bottom.UpdatePixelExtent();
  EXPECT_EQ(bottom.CenterPixel, -1);

  // A zero length maps every pixel to 0.
  chart.plot = {50, 0, 50, 100};
  bottom.UpdatePixelExtent();
  EXPECT_EQ(bottom.AxisLength, 0);
  EXPECT_EQ(bottom.PixelToValue(70), 0);
}

TEST_F(AxisTest, ValueToPixelAndBack) {
  // Frequency rows on a bottom axis over columns 0 … 10 (centre 5) for the
  // range 0 … 10; level rows on a left axis over rows 5 … 100 for -120 … 25.
  const double nan = std::nan("");
  const struct {
    const char* name;
    bool level;
    bool inverted;
    double value;
    int pixel;
    bool back;  // PixelToValue(pixel) gives the value again
  } rows[] = {
      {"a half goes down to the even pixel", false, false, 2.5, 2, false},
      {"a half goes up to the even pixel", false, false, 3.5, 4, false},
      {"a negative half goes to the even pixel", false, false, -2.5, -2, false},
      {"a whole value and back", false, false, 4, 4, true},
      {"inverted: from the far end", false, true, 3, 7, true},
      {"beyond the int range: the centre", false, false, 3e9, 5, false},
      {"NaN: the centre", false, false, nan, 5, false},
      {"far off but representable: off the plot", false, false, 2.1e9, 2100000000, false},
      {"far off to the other side", false, false, -2.1e9, -2100000000, false},
      {"level maximum at the start position", true, false, 25, 5, true},
      {"level minimum at the bottom", true, false, -120, 100, true},
  };
  chart.plot = {0, 0, 10, 100};
  bottom.SetRange(0, 10);
  left.SetRange(-120, 25);
  left.SetStartPosition(5);
  for (const auto& r : rows) {
    TChartAxis& axis = r.level ? left : bottom;
    axis.SetInverted(r.inverted);
    axis.UpdateEffectiveRange();
    axis.UpdatePixelExtent();
    EXPECT_EQ(axis.ValueToPixel(r.value), r.pixel) << r.name;
    if (r.back) {
      EXPECT_EQ(axis.PixelToValue(r.pixel), r.value) << r.name;
    }
    axis.SetInverted(false);
  }

  // A zero range maps every value to the centre.
  TChartAxis flat(&chart, true, false);
  flat.UpdateEffectiveRange();
  flat.UpdatePixelExtent();
  EXPECT_EQ(flat.ValueToPixel(123), flat.CenterPixel);
}

TEST_F(AxisTest, SeriesMarginsWidenOnlyAutomaticEnds) {
  chart.plot = {0, 0, 100, 100};
  MarginSeries s;
  s.AddPoint(0, 0);
  s.AddPoint(100, 0);
  chart.series = {&s};
  bottom.SetAutomatic(false);
  bottom.SetRange(0, 100);
  bottom.SetAutomaticMinimum(true);  // left margin (10) only
  Layout(bottom);
  EXPECT_DOUBLE_EQ(bottom.EffectiveMinimum, -100.0 / 9);
  EXPECT_DOUBLE_EQ(bottom.EffectiveMaximum, 100);
  EXPECT_EQ(bottom.StartPixel, 0);  // the extent itself is kept
  EXPECT_EQ(bottom.AxisLength, 100);
}

TEST_F(AxisTest, NextLabelStepClimbsOneTwoFive) {
  const struct {
    const char* name;
    double from, to;
  } rows[] = {
      {"one to two", 1, 2},           {"two to five", 2, 5},
      {"five to the next decade", 5, 10}, {"ten to twenty", 10, 20},
      {"twenty to fifty", 20, 50},    {"fifty to a hundred", 50, 100},
      {"between steps: up to the next", 3, 5}, {"megahertz", 2000000, 5000000},
  };
  for (const auto& r : rows) EXPECT_EQ(TCustomChartAxis::NextLabelStep(r.from), r.to) << r.name;
  EXPECT_DOUBLE_EQ(TCustomChartAxis::NextLabelStep(0.3), 0.5);
  // Decades below 1 are reached by repeated products, which may land a hair
  // below a 1-2-5 value; the step still grows.
  EXPECT_GT(TCustomChartAxis::NextLabelStep(1e-12), 1e-12);
}

TEST_F(AxisTest, EmptyRangeHasOneZeroLabelAndTooShortAxisNone) {
  Layout(bottom);  // automatic with no series: 0 to 0
  EXPECT_EQ(bottom.LabelStep(), 1e-12);
  EXPECT_EQ(bottom.LabelValues(bottom.LabelStep()), std::vector<double>{0});
  EXPECT_EQ(bottom.ValueToPixel(5), bottom.CenterPixel);

  chart.plot = {0, 0, 3, 100};
  bottom.SetRange(0, 1000);
  bottom.SetIncrement(3);
  Layout(bottom);
  EXPECT_EQ(bottom.LabelStep(), 1e-12);  // whatever Increment holds
  EXPECT_TRUE(bottom.LabelValues(bottom.LabelStep()).empty());
}

TEST_F(AxisTest, LevelAxisSkipsItsNegativeMinimum) {
  chart.plot = {0, 0, 500, 600};
  left.SetRange(-120, 25);
  left.SetStartPosition(5);
  Layout(left);
  left.LabelsFont().Assign(DefaultChartFont());
  chart.canvas->AssignFont(left.LabelsFont());
  const int h = chart.canvas->FontHeight();
  ASSERT_GT(h, 0);
  const long long n = RoundEven(static_cast<double>(left.AxisLength) / LabelGap(h));
  const double step = left.LabelStep();
  EXPECT_EQ(step, FirstFittingStep(145, n)) << "n = " << n;

  left.SetIncrement(20);  // fits as it is
  EXPECT_EQ(left.LabelStep(), 20);
}

TEST_F(AxisTest, LabelValuesFromTheTopDown) {
  const struct {
    const char* name;
    double lo, hi, step;
    bool roundFirst;
    std::vector<double> labels;
  } rows[] = {
      {"the level axis skips its negative minimum", -120, 25, 20, true, {20, 0, -20, -40, -60, -80, -100}},
      {"a minimum on a multiple keeps its label", 0, 100, 20, true, {100, 80, 60, 40, 20, 0}},
      {"unrounded: counted from the maximum", 0, 10, 3, false, {10, 7, 4, 1}},
      {"rounded: multiples of the step only", 0, 10, 3, true, {9, 6, 3, 0}},
  };
  chart.plot = {0, 0, 500, 600};
  for (const auto& r : rows) {
    left.SetRange(r.lo, r.hi);
    left.SetRoundFirstLabel(r.roundFirst);
    Layout(left);
    EXPECT_EQ(left.LabelValues(r.step), r.labels) << r.name;
  }
}

TEST_F(AxisTest, FrequencyAxisStepFitsTheWiderEndLabel) {
  chart.plot = {17, 40, 563, 300};
  bottom.SetEndPosition(97);
  bottom.SetRange(138000000, 153000000);
  Layout(bottom);
  chart.canvas->AssignFont(bottom.LabelsFont());
  const int w = std::max(chart.canvas->TextWidth("153,000,000"), chart.canvas->TextWidth("138,000,000"));
  ASSERT_GT(w, 0);
  const long long n = RoundEven(static_cast<double>(bottom.AxisLength) / LabelGap(w));
  const double step = bottom.LabelStep();
  EXPECT_EQ(step, FirstFittingStep(15000000, n)) << "n = " << n << ", w = " << w;

  const std::vector<double> labels = bottom.LabelValues(step);
  ASSERT_FALSE(labels.empty());
  for (std::size_t i = 0; i < labels.size(); ++i) {
    EXPECT_EQ(std::fmod(labels[i], step), 0) << labels[i];
    EXPECT_TRUE(labels[i] >= 138000000 && labels[i] <= 153000000) << labels[i];
    if (i > 0) {
      EXPECT_EQ(labels[i - 1] - labels[i], step);
    }
  }
  EXPECT_LE(static_cast<long long>(labels.size()), n + 1);
}

TEST_F(AxisTest, IncrementIsTheSmallestStepWhileALabelFits) {
  chart.plot = {0, 0, 1000, 100};
  bottom.SetRange(0, 100);
  bottom.SetIncrement(3);
  Layout(bottom);
  chart.canvas->AssignFont(bottom.LabelsFont());
  const int gap = LabelGap(chart.canvas->TextWidth("100"));
  // Room for six labels: 3 → 5 → 10 → 20.
  chart.plot = {0, 0, 6 * gap, 100};
  Layout(bottom);
  EXPECT_EQ(bottom.LabelStep(), 20);
  // Room for many: the increment itself, not the free start of 1.
  chart.plot = {0, 0, 60 * gap, 100};
  Layout(bottom);
  EXPECT_EQ(bottom.LabelStep(), 3);
  // No separation: no search at all.
  chart.plot = {0, 0, 6 * gap, 100};
  bottom.SetLabelsSeparation(0);
  Layout(bottom);
  EXPECT_EQ(bottom.LabelStep(), 3);
}

TEST_F(AxisTest, LabelValuesStopWhereTheyCannotMove) {
  // A zoom so deep that the step is below the spacing of doubles.
  left.SetRange(150000000, 150000000);
  Layout(left);
  const double step = left.LabelStep();
  EXPECT_EQ(left.LabelValues(step).size(), 1u);
  // Ranges too large for a double still end their step search.
  left.SetRange(-1.5e308, 1.5e308);
  Layout(left);
  EXPECT_TRUE(left.LabelValues(left.LabelStep()).empty());
  // A first label whose quotient is beyond a 64-bit integer.
  left.SetRange(1e30, std::nextafter(1e30, 2e30));
  Layout(left);
  const std::vector<double> values = left.LabelValues(1e11);
  ASSERT_FALSE(values.empty());
  EXPECT_LE(values.front(), left.EffectiveMaximum);
  EXPECT_GE(values.back(), 0.999e30);
  // The 10000 limit, and a reversed range.
  left.SetRange(0, 10000);
  Layout(left);
  EXPECT_TRUE(left.LabelValues(1).empty());
  EXPECT_EQ(left.LabelValues(1.25).size(), 8001u);
  left.EffectiveMinimum = 5;
  left.EffectiveMaximum = 4;
  EXPECT_TRUE(left.LabelValues(1).empty());
}

TEST_F(AxisTest, LabelTextAndStyle) {
  EXPECT_EQ(bottom.LabelText(153000000), "153,000,000");
  EXPECT_EQ(bottom.LabelText(-120), "-120");
  EXPECT_EQ(bottom.LabelText(0.1234), "0.123");
  chart.hook = [](const TCustomChartAxis&, double v, std::string& text) {
    if (v == 1) text = "one and only";
  };
  bottom.SetLabelsMultiLine(true);
  EXPECT_EQ(bottom.LabelText(1), "one\rand\ronly");
  EXPECT_EQ(bottom.LabelText(1, false), "1");
  EXPECT_EQ(TCustomChartAxis::TextLines("a\r").size(), 1u);

  // The automatic label style depends on the series.
  EXPECT_EQ(bottom.LabelStyleInEffect(), talNone);
  TChartSeries s;
  s.AddPoint(1, 1);
  chart.series = {&s};
  EXPECT_EQ(bottom.LabelStyleInEffect(), talValue);
  s.AddPoint(0, 2, "first");  // a text on point 0
  EXPECT_EQ(bottom.LabelStyleInEffect(), talText);
  EXPECT_EQ(left.LabelStyleInEffect(), talValue);  // Y values are not texts' axis
}
