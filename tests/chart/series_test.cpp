// Series value storage: ordered adds, overwrites by index, lazy statistics,
// the list-index error, clearing, labels and colours, and the redraw requests
// that reach the chart.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "ChartEngine.h"

using namespace wg;

namespace {

// A chart that only counts what it is asked to do.
class CountingChart : public TChartLink {
 public:
  void Invalidate() override { ++invalidations; }
  bool IsDestroying() const override { return destroying; }
  int SeriesCount() const override { return static_cast<int>(series.size()); }
  TChartSeries* Series(int i) const override { return series[static_cast<std::size_t>(i)]; }
  TRect GetPlotRect() const override { return plot; }
  TCanvas3D* GetCanvas() const override { return nullptr; }
  TChartAxis* AxisFor(THorizAxis) const override { return horiz; }
  TChartAxis* AxisFor(TVertAxis) const override { return vert; }

  int invalidations = 0;
  bool destroying = false;
  std::vector<TChartSeries*> series;
  TRect plot{0, 0, 101, 101};
  TChartAxis* horiz = nullptr;
  TChartAxis* vert = nullptr;
};

class SeriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    series.SetParentChart(&chart);
    chart.series.push_back(&series);
  }
  // Adds points with the given X values (Y = 10 × index of the call).
  void AddXs(const std::vector<double>& xs) {
    for (std::size_t i = 0; i < xs.size(); ++i) series.AddPoint(xs[i], 10.0 * static_cast<double>(i));
  }
  std::vector<double> Xs() const { return series.XValues().Values(); }
  std::vector<double> Ys() const { return series.YValues().Values(); }

  CountingChart chart;
  TChartSeries series;
};

std::string ErrorText(const std::function<void()>& f) {
  try {
    f();
  } catch (const EListError& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace

TEST_F(SeriesTest, PrefillAppendsInCallOrderAndAsksForARedrawEachTime) {
  series.ClearPoints();
  chart.invalidations = 0;
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(series.AddPoint(0, 0, "", 255), i);
  EXPECT_EQ(series.PointCount(), 1000);
  EXPECT_EQ(series.YValues().Count(), 1000);
  EXPECT_EQ(chart.invalidations, 1000);
  EXPECT_EQ(series.PointColor(999), 255);
  EXPECT_EQ(series.PointLabel(999), "");
  EXPECT_FALSE(series.HasLabelTexts());
}

TEST_F(SeriesTest, AscendingAddGoesAfterEqualValuesAndKeepsPointsTogether) {
  AddXs({1, 2, 2, 3});  // Y 0, 10, 20, 30
  EXPECT_EQ(series.AddPoint(2, 100, "two"), 3);
  EXPECT_EQ(series.AddPoint(0, 200, "zero"), 0);
  EXPECT_EQ(series.AddPoint(5, 300), 6);
  EXPECT_EQ(Xs(), (std::vector<double>{0, 1, 2, 2, 2, 3, 5}));
  EXPECT_EQ(Ys(), (std::vector<double>{200, 0, 10, 20, 100, 30, 300}));
  // Labels move with their points when later adds insert before them.
  EXPECT_EQ(series.PointLabel(0), "zero");
  EXPECT_EQ(series.PointLabel(4), "two");
  EXPECT_EQ(series.PointLabel(3), "");
  EXPECT_TRUE(series.HasLabelTexts());
}

TEST_F(SeriesTest, DescendingAndUnorderedLists) {
  series.XValues().SetOrder(loDescending);
  AddXs({5, 3, 3});
  EXPECT_EQ(series.AddPoint(3, 0), 3);  // after the equal ones
  EXPECT_EQ(series.AddPoint(4, 0), 1);
  EXPECT_EQ(series.AddPoint(9, 0), 0);
  EXPECT_EQ(series.AddPoint(-1, 0), 6);
  EXPECT_EQ(Xs(), (std::vector<double>{9, 5, 4, 3, 3, 3, -1}));

  // A new order governs later adds only: nothing is re-sorted.
  series.XValues().SetOrder(loNone);
  EXPECT_EQ(series.AddPoint(100, 0), 7);
  EXPECT_EQ(series.XValues().ValueAt(0), 9);
  series.XValues().SetOrder(loAscending);
  EXPECT_EQ(series.AddPoint(50, 0), 7);  // searched back from the end: 100 > 50, -1 <= 50
}

TEST_F(SeriesTest, OverwriteKeepsIndexAndStatisticsFollowOnNextRead) {
  for (int i = 0; i < 10; ++i) series.AddPoint(1000, -50);
  EXPECT_EQ(series.MinX(), 1000);
  EXPECT_FALSE(series.XValues().StatsStale());

  chart.invalidations = 0;
  series.SetPointX(5, 1.0);
  EXPECT_TRUE(series.XValues().StatsStale());
  EXPECT_EQ(series.PointX(5), 1.0);  // stays at index 5 although out of order
  EXPECT_EQ(series.MinX(), 1.0);
  EXPECT_EQ(series.MaxX(), 1000);

  series.SetPointY(2, 7.5);
  series.SetPointY(3, -60);
  EXPECT_EQ(series.MaxY(), 7.5);
  EXPECT_EQ(series.MinY(), -60);
  EXPECT_EQ(series.YValues().ValueSum(), 7.5 - 60 - 50 * 8);
  EXPECT_EQ(series.YValues().AbsoluteValueSum(), 7.5 + 60 + 50 * 8);
  EXPECT_EQ(chart.invalidations, 3);  // one per overwrite
}

TEST_F(SeriesTest, StatisticsKeepTheFirstValueWhenLaterOnesAreNaN) {
  series.AddPoint(0, 4);
  series.AddPoint(0, std::nan(""));
  series.AddPoint(0, 2);
  EXPECT_EQ(series.MinY(), 2);
  EXPECT_EQ(series.MaxY(), 4);
}

TEST_F(SeriesTest, IndexOutOfBoundsRaisesExactTextAndChangesNothing) {
  AddXs({1, 2, 3});
  chart.invalidations = 0;
  EXPECT_EQ(ErrorText([&] { series.SetPointX(3, 9); }), "List index out of bounds (3)");
  EXPECT_EQ(ErrorText([&] { series.SetPointY(-1, 9); }), "List index out of bounds (-1)");
  EXPECT_EQ(ErrorText([&] { series.PointX(7); }), "List index out of bounds (7)");
  EXPECT_EQ(ErrorText([&] { series.PointY(3); }), "List index out of bounds (3)");
  EXPECT_EQ(ErrorText([&] { series.DeletePoint(3); }), "List index out of bounds (3)");
  EXPECT_EQ(ErrorText([&] { series.XValues().RemoveAt(-2); }), "List index out of bounds (-2)");
  EXPECT_EQ(ErrorText([&] { series.YValues().InsertAt(4, 0); }), "List index out of bounds (4)");
  EXPECT_EQ(ErrorText([&] { series.YValues().SetValueAt(3, 0); }), "List index out of bounds (3)");
  EXPECT_EQ(ErrorText([&] { TChartSeries().XValues().LastValue(); }), "List index out of bounds (-1)");
  EXPECT_EQ(chart.invalidations, 0);
  EXPECT_EQ(Xs(), (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(Ys(), (std::vector<double>{0, 10, 20}));
  // InsertAt accepts the count itself.
  series.YValues().InsertAt(3, 99);
  EXPECT_EQ(series.YValues().LastValue(), 99);
}

TEST_F(SeriesTest, ClearPointsEmptiesReleasesAndNotifies) {
  int cleared = 0;
  series.OnClearValues = [&](TChartSeries& s) {
    ++cleared;
    EXPECT_EQ(s.PointCount(), 0);  // already empty when told
  };
  series.AddPoint(3, 4, "x", clBlue);
  series.AddPoint(5, 6, "", clGreen);
  chart.invalidations = 0;
  series.ClearPoints();
  EXPECT_EQ(cleared, 1);
  EXPECT_EQ(chart.invalidations, 1);
  EXPECT_EQ(series.PointCount(), 0);
  EXPECT_EQ(series.MinX(), 0);
  EXPECT_EQ(series.MaxY(), 0);
  EXPECT_EQ(series.XValues().Capacity(), 0u);
  EXPECT_EQ(series.StorageBytes(), 0u);
  EXPECT_EQ(series.PointLabel(0), "");
  EXPECT_FALSE(series.HasLabelTexts());
  // A fresh fill after clearing starts from index 0 with its own colour.
  EXPECT_EQ(series.AddPoint(0, 0, "", 255), 0);
  EXPECT_EQ(series.PointColor(0), 255);

  // No redraw from a chart being torn down, or for an inactive series.
  chart.invalidations = 0;
  chart.destroying = true;
  series.ClearPoints();
  EXPECT_EQ(chart.invalidations, 0);
  chart.destroying = false;
  series.SetActive(false);
  chart.invalidations = 0;
  series.ClearPoints();
  EXPECT_EQ(chart.invalidations, 0);
}

TEST_F(SeriesTest, MultiplierScalesReadsButNotStorage) {
  series.AddPoint(1, 1);
  series.AddPoint(2, 1);
  EXPECT_EQ(series.MaxY(), 1);
  chart.invalidations = 0;
  series.YValues().SetMultiplier(2);
  EXPECT_EQ(chart.invalidations, 1);
  series.YValues().SetMultiplier(2);
  EXPECT_EQ(chart.invalidations, 1);  // unchanged: no request
  series.SetPointY(1, 3);
  EXPECT_EQ(series.PointY(1), 6);
  EXPECT_EQ(series.YValues().Values()[1], 3);  // stored as passed in
  EXPECT_EQ(series.MaxY(), 6);                 // statistics are of values as read
  EXPECT_EQ(series.YValues().ValueSum(), 8);
  EXPECT_EQ(series.YValues().LastValue(), 6);

  // Settings copy across lists, values do not.
  TChartValueList other(nullptr, "Z");
  other.AssignSettings(series.YValues());
  EXPECT_EQ(other.Multiplier(), 2);
  EXPECT_EQ(other.Order(), loNone);
  EXPECT_EQ(other.Count(), 0);
}

TEST_F(SeriesTest, HooksCanRefuseAndSeeTheNewIndex) {
  AddXs({1, 3});
  std::vector<int> seen;
  std::vector<double> seenX;
  bool refuse = true;
  series.OnBeforeAdd = [&](TChartSeries&) { return !refuse; };
  series.OnAfterAdd = [&](TChartSeries& s, int i) {
    seen.push_back(i);
    seenX.push_back(s.PointX(i));  // stored before the hook runs
  };
  chart.invalidations = 0;
  EXPECT_EQ(series.AddPoint(2, 0, "refused"), -1);
  EXPECT_EQ(series.PointCount(), 2);
  EXPECT_EQ(chart.invalidations, 0);
  EXPECT_TRUE(seen.empty());
  refuse = false;
  EXPECT_EQ(series.AddPoint(2, 0), 1);
  EXPECT_EQ(seen, std::vector<int>{1});
  EXPECT_EQ(seenX, std::vector<double>{2});
  EXPECT_EQ(chart.invalidations, 1);

  // An inactive series still stores and tells its hook, but asks for no redraw.
  series.SetActive(false);
  chart.invalidations = 0;
  EXPECT_EQ(series.AddPoint(9, 0), 3);
  EXPECT_EQ(chart.invalidations, 0);
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(SeriesTest, DeletePointRemovesFromEveryListAndShiftsLabels) {
  series.AddPoint(1, 10, "a", clRed);
  series.AddPoint(2, 20, "", clBlue);
  series.AddPoint(3, 30, "c", clGreen);
  series.AddPoint(4, 40, "d", clRed);
  chart.invalidations = 0;
  series.DeletePoint(1);
  EXPECT_EQ(chart.invalidations, 1);
  EXPECT_EQ(Xs(), (std::vector<double>{1, 3, 4}));
  EXPECT_EQ(Ys(), (std::vector<double>{10, 30, 40}));
  EXPECT_EQ(series.PointLabel(0), "a");
  EXPECT_EQ(series.PointLabel(1), "c");
  EXPECT_EQ(series.PointLabel(2), "d");
  EXPECT_EQ(series.PointColor(1), clGreen);
  series.DeletePoint(0);  // a labelled point
  EXPECT_EQ(series.PointLabel(0), "c");
  EXPECT_EQ(series.PointLabel(1), "d");
  EXPECT_EQ(series.PointLabel(2), "");
  EXPECT_EQ(series.PointColor(0), clGreen);
  EXPECT_EQ(series.PointColor(1), clRed);
  EXPECT_EQ(series.PointCount(), 2);
}

TEST_F(SeriesTest, PointColourFallsBackToSeriesColourOrPalette) {
  series.SetSeriesColor(clRed);
  series.AddPoint(0, 0);  // clDefault
  series.AddPoint(1, 0, "", clBlue);
  series.AddPoint(2, 0);
  EXPECT_EQ(series.PointColor(0), clRed);
  EXPECT_EQ(series.PointColor(1), clBlue);
  EXPECT_EQ(series.PointColor(3), clRed);   // beyond the colour count
  EXPECT_EQ(series.PointColor(-1), clRed);
  // A colour inserted in front of uniform colours keeps the others in place.
  series.AddPoint(-1, 0, "", clGreen);
  EXPECT_EQ(series.PointColor(0), clGreen);
  EXPECT_EQ(series.PointColor(2), clBlue);
  EXPECT_EQ(series.PointColor(3), clRed);

  series.SetColorEachPoint(true);
  for (int i = 0; i < 20; ++i) series.AddPoint(10 + i, 0);
  EXPECT_EQ(series.PointColor(1), series.PointColor(17));  // palette by index mod 16
  EXPECT_NE(series.PointColor(1), series.PointColor(2));
  EXPECT_EQ(series.PointColor(2), clBlue);  // own colours stay
}

TEST_F(SeriesTest, PropertySettersAskForRedrawOnlyOnChange) {
  chart.invalidations = 0;
  series.SetSeriesColor(clDefault);
  series.SetActive(true);
  series.SetHorizAxis(aBottomAxis);
  EXPECT_EQ(chart.invalidations, 0);
  series.SetSeriesColor(clRed);
  series.SetSeriesColor(clRed);
  EXPECT_EQ(chart.invalidations, 1);
  EXPECT_EQ(series.SeriesColor(), clRed);

  TChartSeries alone;  // no chart: requests go nowhere
  alone.AddPoint(1, 2);
  alone.SetPointX(0, 3);
  alone.ClearPoints();
  EXPECT_EQ(alone.PointCount(), 0);
}

TEST_F(SeriesTest, LabelsStaySparseAcrossMiddleInsertions) {
  // Labelled and unlabelled points interleaved, some inserted in the middle.
  series.AddPoint(10, 0, "ten");
  series.AddPoint(30, 0);
  series.AddPoint(20, 0, "twenty");
  series.AddPoint(15, 0);
  series.AddPoint(40, 0, "forty");
  EXPECT_EQ(Xs(), (std::vector<double>{10, 15, 20, 30, 40}));
  const std::vector<std::string> expected{"ten", "", "twenty", "", "forty"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(series.PointLabel(i), expected[static_cast<std::size_t>(i)]) << i;
  EXPECT_EQ(series.PointLabel(5), "");
}

TEST_F(SeriesTest, VisibleRangeFollowsTheHorizontalAxis) {
  TChartAxis bottom(&chart, true, false);
  chart.horiz = &bottom;
  chart.plot = {0, 0, 101, 101};
  bottom.SetRange(10, 20);
  bottom.UpdateEffectiveRange();
  bottom.UpdatePixelExtent();  // 0 … 101: left edge 10, right edge 20

  series.CalcVisibleRange();
  EXPECT_EQ(series.FirstVisible, -1);  // no points

  for (int x = 0; x <= 30; x += 2) series.AddPoint(x, 0);  // 0, 2, … 30
  series.CalcVisibleRange();
  EXPECT_EQ(series.FirstVisible, 5);  // x = 10
  EXPECT_EQ(series.LastVisible, 10);  // x = 20
  bottom.SetRange(11, 21);
  bottom.UpdateEffectiveRange();
  series.CalcVisibleRange();
  EXPECT_EQ(series.FirstVisible, 6);  // x = 12
  EXPECT_EQ(series.LastVisible, 10);  // 22 lies beyond 21
  series.ReachesRightEdge = true;
  series.CalcVisibleRange();
  EXPECT_EQ(series.LastVisible, 11);  // the first point at or beyond the edge

  bottom.SetRange(100, 200);  // every point left of the range
  bottom.UpdateEffectiveRange();
  series.CalcVisibleRange();
  EXPECT_EQ(series.FirstVisible, -1);
  EXPECT_EQ(series.LastVisible, -1);

  bottom.SetRange(-200, -100);  // every point right of it
  bottom.UpdateEffectiveRange();
  series.CalcVisibleRange();
  EXPECT_EQ(series.FirstVisible, 0);
  EXPECT_EQ(series.LastVisible, 0);

  series.XValues().SetOrder(loNone);  // unordered: everything
  series.CalcVisibleRange();
  EXPECT_EQ(series.FirstVisible, 0);
  EXPECT_EQ(series.LastVisible, series.PointCount() - 1);
}
