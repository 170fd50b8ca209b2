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
  int SeriesCount() const override { return 1; }
  TChartSeries* Series(int) const override { return series; }
  TRect GetPlotRect() const override { return {0, 0, 101, 101}; }
  TCanvas3D* GetCanvas() const override { return nullptr; }
  TChartAxis* AxisFor(THorizAxis) const override { return nullptr; }
  TChartAxis* AxisFor(TVertAxis) const override { return nullptr; }

  int invalidations = 0;
  bool destroying = false;
  TChartSeries* series = nullptr;
};

class SeriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    series.SetParentChart(&chart);
    chart.series = &series;
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

TEST_F(SeriesTest, OrderedAddsGoAfterEqualValuesAndCarryTheirLabels) {
  for (double x : {1, 2, 2, 3}) series.AddPoint(x, 10 * x);
  chart.invalidations = 0;
  EXPECT_EQ(series.AddPoint(2, 100, "two"), 3);
  EXPECT_EQ(series.AddPoint(0, 200, "zero"), 0);
  EXPECT_EQ(series.AddPoint(5, 300), 6);
  EXPECT_EQ(chart.invalidations, 3);
  EXPECT_EQ(Xs(), (std::vector<double>{0, 1, 2, 2, 2, 3, 5}));
  EXPECT_EQ(Ys(), (std::vector<double>{200, 10, 20, 20, 100, 30, 300}));
  EXPECT_EQ(series.PointLabel(0), "zero");  // labels move with their points
  EXPECT_EQ(series.PointLabel(4), "two");
  EXPECT_EQ(series.PointLabel(3), "");
  EXPECT_EQ(series.PointLabel(7), "");

  TChartSeries down;
  down.XValues().SetOrder(loDescending);
  for (double x : {5, 3, 3}) down.AddPoint(x, 0);
  EXPECT_EQ(down.AddPoint(3, 0), 3);
  EXPECT_EQ(down.AddPoint(4, 0), 1);
  EXPECT_EQ(down.AddPoint(-1, 0), 5);
  // A new order governs later adds only: nothing is re-sorted.
  down.XValues().SetOrder(loNone);
  EXPECT_EQ(down.AddPoint(100, 0), 6);
  down.XValues().SetOrder(loAscending);
  EXPECT_EQ(down.AddPoint(50, 0), 6);  // searched back from the end: 100 > 50, -1 <= 50
  EXPECT_EQ(down.XValues().Values(), (std::vector<double>{5, 4, 3, 3, 3, -1, 50, 100}));
}

TEST_F(SeriesTest, OverwriteKeepsIndexAndStatisticsFollowOnNextRead) {
  for (int i = 0; i < 10; ++i) series.AddPoint(1000, -50);
  EXPECT_EQ(series.MinX(), 1000);
  chart.invalidations = 0;
  series.SetPointX(5, 1.0);
  EXPECT_EQ(series.PointX(5), 1.0);  // stays at index 5 although out of order
  EXPECT_EQ(series.MinX(), 1.0);
  EXPECT_EQ(series.MaxX(), 1000);
  series.SetPointY(2, 7.5);
  series.SetPointY(3, -60);
  EXPECT_EQ(series.MaxY(), 7.5);
  EXPECT_EQ(series.MinY(), -60);
  EXPECT_EQ(series.YValues().ValueSum(), 7.5 - 60 - 50 * 8);
  EXPECT_EQ(series.YValues().AbsoluteValueSum(), 7.5 + 60 + 50 * 8);
  EXPECT_EQ(chart.invalidations, 3);

  // A multiplier scales values as read, statistics included, not storage.
  series.YValues().SetMultiplier(2);
  series.YValues().SetMultiplier(2);
  EXPECT_EQ(chart.invalidations, 4);
  EXPECT_EQ(series.PointY(2), 15);
  EXPECT_EQ(Ys()[2], 7.5);
  EXPECT_EQ(series.MinY(), -120);

  // NaN after the first value does not displace the extremes.
  TChartSeries s;
  for (double y : {4.0, std::nan(""), 2.0}) s.AddPoint(0, y);
  EXPECT_EQ(s.MinY(), 2);
  EXPECT_EQ(s.MaxY(), 4);
}

TEST_F(SeriesTest, IndexOutOfBoundsRaisesExactTextAndChangesNothing) {
  for (double x : {1, 2, 3}) series.AddPoint(x, 10 * x);
  chart.invalidations = 0;
  EXPECT_EQ(ErrorText([&] { series.SetPointX(3, 9); }), "List index out of bounds (3)");
  EXPECT_EQ(ErrorText([&] { series.SetPointY(-1, 9); }), "List index out of bounds (-1)");
  EXPECT_EQ(ErrorText([&] { series.PointY(7); }), "List index out of bounds (7)");
  EXPECT_EQ(ErrorText([&] { series.DeletePoint(3); }), "List index out of bounds (3)");
  EXPECT_EQ(ErrorText([&] { series.XValues().RemoveAt(-2); }), "List index out of bounds (-2)");
  EXPECT_EQ(ErrorText([&] { series.YValues().InsertAt(4, 0); }), "List index out of bounds (4)");
  EXPECT_EQ(ErrorText([&] { TChartSeries().XValues().LastValue(); }), "List index out of bounds (-1)");
  EXPECT_EQ(chart.invalidations, 0);
  EXPECT_EQ(Xs(), (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(Ys(), (std::vector<double>{10, 20, 30}));
  series.YValues().InsertAt(3, 99);  // the count itself is a valid place
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
  EXPECT_EQ(series.MaxY(), 0);
  EXPECT_EQ(series.StorageBytes(), 0u);
  EXPECT_EQ(series.PointLabel(0), "");
  EXPECT_EQ(series.AddPoint(0, 0, "", 255), 0);
  EXPECT_EQ(series.PointColor(0), 255);

  // No redraw from a chart being torn down, or for an inactive series.
  chart.invalidations = 0;
  chart.destroying = true;
  series.ClearPoints();
  chart.destroying = false;
  series.SetActive(false);
  chart.invalidations = 0;
  series.ClearPoints();
  EXPECT_EQ(chart.invalidations, 0);

  TChartSeries alone;  // no chart: requests go nowhere
  alone.AddPoint(1, 2);
  alone.SetPointX(0, 3);
  alone.ClearPoints();
  EXPECT_EQ(alone.PointCount(), 0);
}

TEST_F(SeriesTest, HooksCanRefuseAndSeeTheStoredPoint) {
  series.AddPoint(1, 0);
  series.AddPoint(3, 0);
  std::vector<double> seenX;
  bool refuse = true;
  series.OnBeforeAdd = [&](TChartSeries&) { return !refuse; };
  series.OnAfterAdd = [&](TChartSeries& s, int i) { seenX.push_back(s.PointX(i)); };
  chart.invalidations = 0;
  EXPECT_EQ(series.AddPoint(2, 0, "refused"), -1);
  EXPECT_EQ(series.PointCount(), 2);
  EXPECT_EQ(chart.invalidations, 0);
  refuse = false;
  EXPECT_EQ(series.AddPoint(2, 0), 1);
  EXPECT_EQ(seenX, std::vector<double>{2});
  // An inactive series still stores and tells its hook, but asks for no redraw.
  series.SetActive(false);
  chart.invalidations = 0;
  EXPECT_EQ(series.AddPoint(9, 0), 3);
  EXPECT_EQ(chart.invalidations, 0);
  EXPECT_EQ(seenX.size(), 2u);
}

TEST_F(SeriesTest, DeletePointShiftsLabelsAndColours) {
  series.AddPoint(1, 10, "a", clRed);
  series.AddPoint(2, 20, "", clBlue);
  series.AddPoint(3, 30, "c", clGreen);
  series.AddPoint(4, 40, "d", clRed);
  series.DeletePoint(1);
  EXPECT_EQ(Xs(), (std::vector<double>{1, 3, 4}));
  EXPECT_EQ(Ys(), (std::vector<double>{10, 30, 40}));
  series.DeletePoint(0);  // a labelled point
  EXPECT_EQ(series.PointLabel(0), "c");
  EXPECT_EQ(series.PointLabel(1), "d");
  EXPECT_EQ(series.PointLabel(2), "");
  EXPECT_EQ(series.PointColor(0), clGreen);
  EXPECT_EQ(series.PointColor(1), clRed);
}

TEST_F(SeriesTest, PointColourFallsBackToSeriesColourOrPalette) {
  series.SetSeriesColor(clRed);
  series.AddPoint(0, 0);  // clDefault
  series.AddPoint(1, 0, "", clBlue);
  series.AddPoint(2, 0);
  EXPECT_EQ(series.PointColor(0), clRed);
  EXPECT_EQ(series.PointColor(3), clRed);  // beyond the colour count
  // A colour inserted in front of uniform colours keeps the others in place.
  series.AddPoint(-1, 0, "", clGreen);
  EXPECT_EQ(series.PointColor(0), clGreen);
  EXPECT_EQ(series.PointColor(2), clBlue);
  EXPECT_EQ(series.PointColor(3), clRed);
  series.SetColorEachPoint(true);
  for (int i = 0; i < 20; ++i) series.AddPoint(10 + i, 0);
  EXPECT_EQ(series.PointColor(1), series.PointColor(17));  // palette by index mod 16
  EXPECT_NE(series.PointColor(1), series.PointColor(3));
  EXPECT_EQ(series.PointColor(2), clBlue);  // own colours stay
}
