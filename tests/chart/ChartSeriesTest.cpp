// Series value storage: ordered adds, overwrites by index, lazy statistics,
// the list-index error, clearing, labels and colours, and the redraw requests
// that reach the chart.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "chart/ChartSeries.h"

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

// ---------------------------------------------------------------------------
// Bulk operations of the sweep: prepare all points at once, publish a sweep
// from its own buffer

TEST_F(SeriesTest, ResetPointsLeavesWhatClearAndAddsWouldInOneRedraw) {
  TChartSeries byAdds;
  byAdds.AddPoint(5, 6, "old", clBlue);
  byAdds.ClearPoints();
  for (int i = 0; i < 1000; ++i) byAdds.AddPoint(0, 0, "", 255);

  series.AddPoint(5, 6, "old", clBlue);
  series.AddPoint(7, 8, "", clGreen);
  int cleared = 0;
  series.OnClearValues = [&](TChartSeries&) { ++cleared; };
  chart.invalidations = 0;
  series.ResetPoints(1000, 0, 0, 255);
  EXPECT_EQ(chart.invalidations, 1);
  EXPECT_EQ(cleared, 1);
  EXPECT_EQ(series.XValues().Values(), byAdds.XValues().Values());
  EXPECT_EQ(series.YValues().Values(), byAdds.YValues().Values());
  for (int i : {0, 1, 999}) {
    EXPECT_EQ(series.PointColor(i), byAdds.PointColor(i));
    EXPECT_EQ(series.PointLabel(i), "");
  }
  EXPECT_FALSE(series.HasLabelTexts());
  EXPECT_EQ(series.MaxY(), 0);
  // Later adds go on as they would after the adds.
  EXPECT_EQ(series.AddPoint(-1, 1, "", clBlue), byAdds.AddPoint(-1, 1, "", clBlue));
  EXPECT_EQ(series.PointColor(0), clBlue);
  EXPECT_EQ(series.PointColor(1), 255);

  // A negative count is refused and changes nothing.
  chart.invalidations = 0;
  EXPECT_THROW(series.ResetPoints(-1, 0, 0, 255), ChartException);
  EXPECT_EQ(series.PointCount(), 1001);
  EXPECT_EQ(chart.invalidations, 0);
  series.ResetPoints(0, 0, 0, 255);
  EXPECT_EQ(series.PointCount(), 0);
  EXPECT_EQ(series.StorageBytes(), 0u);
}

TEST_F(SeriesTest, ResetPointsGivesBackTheStorageOfAWideSurvey) {
  // 24 .. 1766 MHz in bins of 781.25 Hz, then back to 138 .. 153 MHz.
  series.ResetPoints(2230272, 0, 0, 255);
  // Prepared points take storage once read whole (or first changed).
  const double* wideBlock = series.XValues().Values().data();
  const std::size_t wide = series.StorageBytes();
  EXPECT_GE(wide, 2230272u * 16);
  // Typing passes wide and narrow ranges in turn: until the narrow one is
  // swept, the wide block is kept and a wide range takes it again.
  series.ResetPoints(19200, 0, 0, 255);
  series.ResetPoints(2230272, 0, 0, 255);
  EXPECT_EQ(series.XValues().Values().data(), wideBlock);
  EXPECT_EQ(series.PointX(2230271), 0);
  series.ResetPoints(19200, 0, 0, 255);
  const std::vector<double> sweep(2 * 19200, 1.0);
  series.ReplaceXY(19200, &sweep[0], &sweep[1], 2);
  EXPECT_LE(series.StorageBytes(), 2 * 19200u * 16);
  // A count that barely changes keeps its block.
  const double* block = series.XValues().Values().data();
  series.ResetPoints(19000, 1, 2, 255);
  EXPECT_EQ(series.XValues().Values().data(), block);
  EXPECT_EQ(series.PointX(18999), 1);
  EXPECT_EQ(series.PointY(18999), 2);
}

TEST_F(SeriesTest, ResetPointsRunsTheAddHooksWhenInstalled) {
  int after = 0;
  series.OnAfterAdd = [&](TChartSeries&, int) { ++after; };
  series.OnBeforeAdd = [&](TChartSeries& s) { return s.PointCount() < 3; };
  series.ResetPoints(5, 1, 2, 255);
  EXPECT_EQ(series.PointCount(), 3);
  EXPECT_EQ(after, 3);
}

TEST_F(SeriesTest, ReplaceXYReadsAnInterleavedBufferInPlace) {
  struct Point {
    double X, Y;
  };
  series.ResetPoints(4, 0, 0, 255);
  const std::vector<Point> sweep{{1, -90}, {2, std::nan("")}, {3, -20}};
  series.MinY();  // statistics fresh before the write
  chart.invalidations = 0;
  series.ReplaceXY(3, &sweep[0].X, &sweep[0].Y, 2);
  EXPECT_EQ(chart.invalidations, 1);
  EXPECT_EQ(Xs(), (std::vector<double>{1, 2, 3, 0}));
  EXPECT_EQ(series.PointY(0), -90);
  EXPECT_TRUE(std::isnan(series.PointY(1)));
  // A gap (NaN) counts in no statistic.
  EXPECT_EQ(series.MinY(), -90);
  EXPECT_EQ(series.MaxY(), 0);
  EXPECT_EQ(series.YValues().ValueSum(), -110);
  EXPECT_EQ(series.YValues().CountedValues(), 3);

  // Plain arrays read with stride 1.
  const double xs[] = {7, 8, 9, 10}, ys[] = {1, 2, 3, 4};
  series.ReplaceXY(4, xs, ys, 1);
  EXPECT_EQ(Ys(), (std::vector<double>{1, 2, 3, 4}));

  // More than there are points: the list error, nothing written, no redraw.
  chart.invalidations = 0;
  const std::vector<double> five(10, 42);
  EXPECT_EQ(ErrorText([&] { series.ReplaceXY(5, &five[0], &five[1], 2); }), "List index out of bounds (4)");
  EXPECT_EQ(Ys(), (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(chart.invalidations, 0);
  series.ReplaceXY(0, nullptr, nullptr, 2);
  EXPECT_EQ(chart.invalidations, 0);

  // A survey larger than the caches takes another path through the pairs.
  const int big = (1 << 20) + 3;
  std::vector<Point> survey(big);
  for (int i = 0; i < big; ++i) survey[i] = {1e6 + i, -i * 1e-3};
  series.ResetPoints(big, 0, 0, 255);
  series.ReplaceXY(big, &survey[0].X, &survey[0].Y, 2);
  for (int i : {0, 1, big / 2, big - 2, big - 1}) {
    EXPECT_EQ(series.PointX(i), survey[i].X) << i;
    EXPECT_EQ(series.PointY(i), survey[i].Y) << i;
  }
}

TEST_F(SeriesTest, StatisticsOfOnlyGapsAreThoseOfAnEmptyList) {
  const double nan = std::nan("");
  for (double y : {nan, nan}) series.AddPoint(0, y);
  EXPECT_EQ(series.MinY(), 0);
  EXPECT_EQ(series.MaxY(), 0);
  EXPECT_EQ(series.YValues().CountedValues(), 0);
  series.SetPointY(1, -50);  // a gap first does not hold the extremes at NaN
  EXPECT_EQ(series.MinY(), -50);
  EXPECT_EQ(series.MaxY(), -50);
}
