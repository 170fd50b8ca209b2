// The waterfall: rows against known sweeps, pixel for pixel with the chart's
// frequency axis, its colours at the level axis's limits, the history's
// bounds, and the window that shows, resizes and hides it.
#include "app/Options.h"
#include "app/Settings.h"
#include "chart/Chart.h"
#include "chart/ChartSetup.h"
#include "chart/FastLineSeries.h"
#include "controls/SpinDouble.h"
#include "sweep/ReceiverSetup.h"
#include "tests/ui/FormFixture.h"
#include "ui/MainWindow.h"
#include "ui/waterfall/Waterfall.h"
#include "ui/waterfall/WaterfallHistory.h"
#include "ui/waterfall/WaterfallSplitter.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QImage>
#include <QLabel>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

using wg::TWaterfallHistory;
using Level = TWaterfallHistory::Level;

constexpr double kBin = 781.25;
constexpr int kPoints = 19200;  // 138 … 153 MHz

// A sweep over the window's initial range: -120 dB everywhere but where set.
struct Sweep {
  std::vector<double> xy;
  explicit Sweep(int n = kPoints, double start = 138e6) : xy(2 * static_cast<std::size_t>(n)) {
    for (int i = 0; i < n; ++i) {
      xy[2 * i] = start + i * kBin;
      xy[2 * i + 1] = -120;
    }
  }
  double& Y(int i) { return xy[2 * static_cast<std::size_t>(i) + 1]; }
  double X(int i) const { return xy[2 * static_cast<std::size_t>(i)]; }
  std::size_t Count() const { return xy.size() / 2; }
  bool AddTo(TWaterfallHistory& h, TWaterfallHistory::Clock::time_point t = {}) const {
    return h.AddSweep(&xy[0], &xy[1], 2, Count(), t);
  }
  void AddTo(wg::TWaterfall& w) const {
    w.AddSweep(&xy[0], &xy[1], 2, Count(), TWaterfallHistory::Clock::now());
  }
};

TEST(WaterfallHistory, ColumnsKeepTheMaximumAndMarkUntunedPoints) {
  TWaterfallHistory h;
  const int n = 60000;  // wider than a row keeps: about 2.4 points a column
  const int cols = TWaterfallHistory::kMaxColumns;
  Sweep s(n);
  s.Y(30001) = -20;  // one point, far narrower than its column
  for (int i = 100; i < 200; ++i) s.Y(i) = std::nan("");
  s.Y(150) = -70;  // one tuned point among untuned ones still reads
  for (int i = 300; i < 400; ++i) s.Y(i) = std::nan("");
  EXPECT_FALSE(s.AddTo(h));
  ASSERT_EQ(h.ColumnCount(), cols);
  const Level* row = h.Row(0);
  const int carrier = static_cast<int>(30001LL * cols / n);
  EXPECT_LE(h.ColumnLow(carrier), s.X(30001));
  EXPECT_GE(h.ColumnHigh(carrier), s.X(30001));
  EXPECT_EQ(row[carrier], TWaterfallHistory::Encode(-20));
  EXPECT_EQ(row[carrier + 2], TWaterfallHistory::Encode(-120));
  EXPECT_EQ(row[static_cast<int>(150LL * cols / n)], TWaterfallHistory::Encode(-70));
  EXPECT_EQ(row[static_cast<int>(350LL * cols / n)], TWaterfallHistory::kUntuned);
  // The initial range keeps every point in a column of its own.
  Sweep initial;
  EXPECT_TRUE(initial.AddTo(h));
  EXPECT_EQ(h.RowCount(), 1u);
  EXPECT_EQ(h.ColumnCount(), kPoints);
  EXPECT_EQ(h.ColumnLow(7), initial.X(7));
  EXPECT_EQ(h.ColumnHigh(7), initial.X(7));
}

// A shared sweep reduced on the feed's thread makes the row its points would
// make added one by one, and keeps the layout of the rows before it.
TEST(WaterfallHistory, ASweepReducedElsewhereAddsTheRowOfItsPoints) {
  auto shared = std::make_shared<wg::Sweep>();
  shared->binWidth = kBin;
  shared->stepStarts = {24000000, 30400000, 33600000};  // a step left out after the first
  std::mt19937 rng(5);
  std::normal_distribution<float> noise(-90, 8);
  for (int i = 0; i < 3 * 4096; ++i) shared->levels.push_back(i / 4096 == 2 ? NAN : noise(rng));
  const std::size_t count = 3 * 4096 - 700;  // the scan range ends inside the last step
  Sweep points(static_cast<int>(count));
  for (std::size_t i = 0; i < count; ++i) {
    points.xy[2 * i] = shared->X(i);
    points.Y(static_cast<int>(i)) = shared->Y(i);
  }
  TWaterfallHistory one, other;
  points.AddTo(one);
  TWaterfallHistory::Reduced r = TWaterfallHistory::Reduce(*shared, count);
  const auto layout = r.layout;
  EXPECT_FALSE(other.Add(std::move(r)));
  ASSERT_EQ(other.ColumnCount(), one.ColumnCount());
  for (int k = 0; k < one.ColumnCount(); ++k) {
    ASSERT_EQ(other.ColumnLow(k), one.ColumnLow(k)) << k;
    ASSERT_EQ(other.ColumnHigh(k), one.ColumnHigh(k)) << k;
    ASSERT_EQ(other.Row(0)[k], one.Row(0)[k]) << k;
  }
  EXPECT_EQ(other.Row(0)[one.ColumnCount() - 1], TWaterfallHistory::kUntuned);
  EXPECT_EQ(TWaterfallHistory::Reduce(*shared, count, layout).layout, layout) << "a layout that fits is kept";
  EXPECT_FALSE(other.Add(TWaterfallHistory::Reduce(*shared, count, layout)));
  EXPECT_EQ(other.RowCount(), 2u);
}

TEST(WaterfallHistory, KeepsAThousandRowsOrAMinuteWithinItsMemory) {
  using namespace std::chrono;
  struct Case {
    const char* name;
    int points, sweeps;
    milliseconds apart;
    std::size_t kept;
  };
  const Case cases[] = {
      {"slow sweeps: the last thousand", 1280, 1100, milliseconds(1000), 1000},
      {"fast sweeps: the last minute", 1280, 1500, milliseconds(20), 1500},
      {"faster than memory allows: the row budget", 4096, 5000, milliseconds(1),
       TWaterfallHistory::kRowBudget / (4096 * sizeof(Level) + TWaterfallHistory::kRowOverhead)},
      {"the widest rows: a thousand beyond the budget", TWaterfallHistory::kMaxColumns, 1100, milliseconds(1),
       1000},
  };
  for (const Case& c : cases) {
    TWaterfallHistory h;
    Sweep s(c.points);
    const TWaterfallHistory::Clock::time_point t0{};
    for (int i = 0; i < c.sweeps; ++i) {
      s.Y(0) = i;  // tells the rows apart
      s.AddTo(h, t0 + c.apart * i);
    }
    EXPECT_EQ(h.RowCount(), c.kept) << c.name;
    EXPECT_EQ(h.Row(0)[0], TWaterfallHistory::Encode(c.sweeps - 1)) << c.name;
    EXPECT_EQ(h.RowTime(0), t0 + c.apart * (c.sweeps - 1)) << c.name;
    EXPECT_LE(h.MemoryBytes(), std::max(TWaterfallHistory::kRowBudget, 1000 * (TWaterfallHistory::kMaxColumns *
                                                                                  sizeof(Level) +
                                                                              TWaterfallHistory::kRowOverhead)) +
                                   (1u << 20))
        << c.name;
  }
}

TEST(WaterfallHistory, SpansShareGapsAndKeepSubPixelMaxima) {
  // Columns of one point each at 0, 10, 20 … Hz, one pixel per Hz, then ten
  // points a pixel.
  TWaterfallHistory h;
  std::vector<double> xy;
  for (int i = 0; i < 40; ++i) xy.insert(xy.end(), {i * 10.0, i == 7 ? -10.0 : -100.0});
  h.AddSweep(&xy[0], &xy[1], 2, 40, {});
  wg::TWaterfallSpans spans;
  std::vector<Level> out(400);
  spans.Compute(h, [](double f) { return static_cast<int>(std::lround(f)); }, 0, 400);
  spans.Render(h.Row(0), out.data());
  EXPECT_EQ(out[70], TWaterfallHistory::Encode(-10));
  EXPECT_EQ(out[65], TWaterfallHistory::Encode(-10));  // the gap is shared halfway
  EXPECT_EQ(out[64], TWaterfallHistory::Encode(-100));
  EXPECT_EQ(out[74], TWaterfallHistory::Encode(-10));
  EXPECT_EQ(out[75], TWaterfallHistory::Encode(-100));
  EXPECT_EQ(out[391], TWaterfallHistory::kNoData);  // beyond the last point
  EXPECT_EQ(spans.LevelAt(h.Row(0), 72), TWaterfallHistory::Encode(-10));

  spans.Compute(h, [](double f) { return static_cast<int>(std::lround(f / 100)); }, 0, 400);
  spans.Render(h.Row(0), out.data());
  EXPECT_EQ(out[1], TWaterfallHistory::Encode(-10));
  EXPECT_EQ(out[0], TWaterfallHistory::Encode(-100));
}

TEST(WaterfallHistory, RowsRenderAsTheMaximumOverEachPixelAtEveryScale) {
  // Random levels with untuned stretches; columns 10 Hz apart. Each scale is
  // tried with the row starting left of the screen and ending inside it, so
  // runs of every length meet the row's ends. LevelAt reads the same spans
  // column by column and is the reference.
  std::mt19937 rng(19);
  std::uniform_int_distribution<int> level(-12000, 2500);
  struct Case {
    int columns;
    double pixelsPerColumn;
  };
  const Case cases[] = {{1000, 0.03}, {1000, 0.1}, {1000, 0.13}, {1000, 0.37}, {1000, 0.9},
                        {1000, 1.0},  {1000, 3.7}, {9, 20},      {8, 31},      {7, 0.5}};
  for (const Case& c : cases) {
    TWaterfallHistory h;
    std::vector<double> xy;
    for (int k = 0; k < c.columns; ++k) xy.insert(xy.end(), {k * 10.0, 0.0});
    for (int r = 0; r < 3; ++r) {
      for (int k = 0; k < c.columns; ++k) {
        const bool untuned = (k / 50 + r) % 7 == 3;
        xy[2 * k + 1] = untuned ? std::nan("") : level(rng) / 100.0;
      }
      h.AddSweep(&xy[0], &xy[1], 2, static_cast<std::size_t>(c.columns), {});
    }
    const int width = 400;
    const double scale = c.pixelsPerColumn / 10;
    const double shift = std::max(0.0, c.columns * c.pixelsPerColumn - width * 0.8);
    wg::TWaterfallSpans spans;
    spans.Compute(h, [&](double f) { return static_cast<int>(std::lround(f * scale - shift)); }, 0, width);
    std::vector<Level> one(width), many(3 * width);
    const Level* rows[3] = {h.Row(0), h.Row(1), h.Row(2)};
    Level* outs[3] = {&many[0], &many[width], &many[2 * width]};
    spans.Render(rows, outs, 3);
    for (int r = 0; r < 3; ++r) {
      spans.Render(rows[r], one.data());
      for (int x = 0; x < width; ++x) {
        const Level want = spans.LevelAt(rows[r], x);
        ASSERT_EQ(one[x], want) << c.columns << " columns, " << c.pixelsPerColumn << " px each, x " << x;
        ASSERT_EQ(outs[r][x], want) << c.columns << " columns, " << c.pixelsPerColumn << " px each, x " << x;
      }
    }
  }
}

TEST(WaterfallMemory, StaysWithin64MiBForAnyRangeOnA4KScreen) {
  // The whole screen for the waterfall, every row the history can hold, for
  // column counts from a 1 MHz range to the widest rows; the rows' budget
  // and their floor of a thousand meet near 15,700 columns.
  wg::TChart chart;
  chart.resize(3840, 400);
  wg::ConfigureSpectrumChart(chart, *chart.AddSeries(std::make_unique<wg::TFastLineSeries>()));
  wg::TWaterfall waterfall(&chart);
  waterfall.resize(3840, 2160);
  QImage chartImage(3840, 400, QImage::Format_RGB32), image(3840, 2160, QImage::Format_RGB32);
  const int points[] = {1280, 4096, 15000, 16500, TWaterfallHistory::kMaxColumns};
  for (int n : points) {
    Sweep s(n);
    chart.BottomAxis()->SetRange(s.X(0), s.X(n - 1));
    chart.render(&chartImage);
    waterfall.Clear();
    const std::size_t rows = TWaterfallHistory::RowLimit(n);
    const TWaterfallHistory::Clock::time_point t0{};
    for (std::size_t i = 0; i < rows; ++i)
      waterfall.AddSweep(&s.xy[0], &s.xy[1], 2, s.Count(), t0 + std::chrono::milliseconds(i));
    waterfall.render(&image);
    ASSERT_EQ(waterfall.History().RowCount(), rows) << n;
    EXPECT_LE(waterfall.MemoryBytes(), std::size_t{64} << 20) << n << " columns: " << waterfall.MemoryBytes();
    RecordProperty("bytes_" + std::to_string(n), std::to_string(waterfall.MemoryBytes()));
  }
}

// ---------------------------------------------------------------------------
// In the window.

class WaterfallWindowTest : public FormTest {
 protected:
  // The window with the sweep stopped, the waterfall shown by its shortcut,
  // its colours on the level axis.
  MainWindow& OpenWithWaterfall() {
    MainWindow& f = Open();
    f.StopSweep();
    f.Waterfall1->SetColours({wg::ColourSpan::Kind::LevelAxis});
    f.activateWindow();
    QTest::keyClick(&f, Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
    Settle(f);
    return f;
  }
  // Lets the chart draw and the waterfall follow it.
  static void Settle(MainWindow& f) {
    f.Chart1->repaint();
    QApplication::processEvents();
  }
  static QImage Picture(MainWindow& f) { return f.Waterfall1->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  static QRgb Colour(double t) {
    return wg::WaterfallScale()[static_cast<std::size_t>(std::clamp(std::floor(t * 256), 0.0, 255.0))];
  }
};

TEST_F(WaterfallWindowTest, ShownResizedAndHiddenByItsShortcut) {
  MainWindow& f = Open();
  f.activateWindow();
  EXPECT_TRUE(f.Waterfall1->isHidden());
  const QSize chartBefore = f.Chart1->size();
  const QRect labelBefore = f.Label2->geometry();

  QTest::keyClick(&f, Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
  QApplication::processEvents();
  EXPECT_TRUE(f.Splitter1->Action()->isChecked());
  ASSERT_TRUE(f.Waterfall1->isVisible());
  EXPECT_EQ(f.Waterfall1->width(), f.Chart1->width());
  EXPECT_EQ(f.Waterfall1->x(), f.Chart1->x());
  EXPECT_GT(f.Waterfall1->y(), f.Chart1->y() + f.Chart1->height() - 1);
  EXPECT_LT(f.Chart1->height(), chartBefore.height());
  EXPECT_EQ(f.Label2->y(), 11 + f.Chart1->height() - 326);  // still on the chart's bottom edge
  auto share = [&f] {
    return static_cast<double>(f.Waterfall1->height()) / (f.Chart1->height() + f.Waterfall1->height());
  };
  EXPECT_NEAR(share(), wg::TWaterfallSplitter::kDefaultShare, 0.01);

  f.resize(1100, 600);
  Settle(f);
  EXPECT_NEAR(share(), wg::TWaterfallSplitter::kDefaultShare, 0.01);
  EXPECT_EQ(f.Waterfall1->width(), 1100 - 265);
  EXPECT_EQ(f.Waterfall1->DataLeft(), f.Chart1->PlotRect().Left + 1);
  EXPECT_EQ(f.Waterfall1->DataRight(), f.Chart1->PlotRect().Right);
  EXPECT_EQ(Picture(f).width(), 1100 - 265);
  f.resize(845, 326);
  QApplication::processEvents();

  QTest::keyClick(f.StartFreqEdit, Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
  QApplication::processEvents();
  EXPECT_TRUE(f.Waterfall1->isHidden());
  EXPECT_EQ(f.StartFreqEdit->text(), QStringLiteral("138"));  // nothing typed into the editor
  EXPECT_EQ(f.Chart1->size(), chartBefore);
  EXPECT_EQ(f.Label2->geometry(), labelBefore);
}

TEST_F(WaterfallWindowTest, ACarrierSitsUnderTheTraceAtEveryZoom) {
  MainWindow& f = OpenWithWaterfall();
  Sweep s;
  const int j = 9601;  // 145.5008 MHz, beside the middle so that centred zooms keep it
  s.Y(j) = 25;         // the level axis's maximum: the last colour
  s.AddTo(*f.Waterfall1);
  s.Y(j) = -120;  // an older row without it
  s.AddTo(*f.Waterfall1);
  s.Y(j) = 25;
  s.AddTo(*f.Waterfall1);
  const int zooms[] = {0, 1, 3, 6, 10};
  int done = 0;
  for (int z : zooms) {
    for (; done < z; ++done) f.Chart1->ZoomCentred(120);
    Settle(f);
    const QImage img = Picture(f);
    const int x = f.Chart1->BottomAxis()->ValueToPixel(s.X(j)) + f.Waterfall1->x() - f.Chart1->x();
    ASSERT_GT(x, f.Waterfall1->DataLeft() + 5) << z;
    ASSERT_LT(x, f.Waterfall1->DataRight() - 5) << z;
    EXPECT_EQ(img.pixel(x, 0), Colour(1)) << "zooms " << z;
    EXPECT_EQ(img.pixel(x, 1), Colour(0)) << "zooms " << z;
    EXPECT_EQ(img.pixel(x, 2), Colour(1)) << "zooms " << z;
    EXPECT_EQ(img.pixel(x - 5, 0), Colour(0)) << "zooms " << z;
    EXPECT_EQ(img.pixel(x + 5, 0), Colour(0)) << "zooms " << z;
    EXPECT_EQ(img.pixel(x, 3), wg::kWaterfallNoData) << "no fourth row";
    // The readout reads the frequency of the pixel, within one pixel's width.
    const wg::TChartAxis* b = f.Chart1->BottomAxis();
    EXPECT_NEAR(f.Waterfall1->ReadoutAt({x, 0}).section(' ', 0, 0).toDouble() * 1e6, s.X(j),
                b->EffectiveRange / b->AxisLength + 100)
        << f.Waterfall1->ReadoutAt({x, 0}).toStdString();
  }
  f.Chart1->UndoZoom();
  Settle(f);
  const int x = f.Chart1->BottomAxis()->ValueToPixel(s.X(j));
  EXPECT_EQ(Picture(f).pixel(x, 0), Colour(1));
}

TEST_F(WaterfallWindowTest, AutomaticColoursDarkenTheNoiseAndLetEveryEmitterOfTheSceneStandOut) {
  MainWindow& f = Open();
  f.activateWindow();
  EXPECT_EQ(f.Waterfall1->Colours().kind, wg::ColourSpan::Kind::Automatic) << "by default";
  QTest::keyClick(&f, Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
  constexpr int kRows = 12;  // the weakest emitter stands a few dB over a pixel's noise: judged over rows
  for (int i = 0; i < 1000 && f.Waterfall1->History().RowCount() < kRows; ++i) QTest::qWait(20);
  f.StopSweep();
  ASSERT_GE(f.Waterfall1->History().RowCount(), static_cast<size_t>(kRows)) << "sweeps arrived";
  // Brightness of the noise (the median pixel) and of each emitter (its
  // brightest pixel within one of its frequency), over the rows.
  const double emitters[] = {138512500, 140125000, 141850000, 144800000, 145500000,
                             146520000, 147950000, 150775000, 151400000, 152050000};
  struct Seen {
    double noise = 0;
    std::vector<double> emitter;
  };
  const auto look = [&] {
    Settle(f);
    const QImage img = Picture(f);
    Seen seen;
    seen.emitter.assign(std::size(emitters), 0);
    for (int y = 0; y < kRows; ++y) {
      std::vector<int> grey;
      for (int x = f.Waterfall1->DataLeft(); x < f.Waterfall1->DataRight(); ++x) grey.push_back(qGray(img.pixel(x, y)));
      std::nth_element(grey.begin(), grey.begin() + static_cast<std::ptrdiff_t>(grey.size() / 2), grey.end());
      seen.noise += grey[grey.size() / 2] / double(kRows);
      for (size_t k = 0; k < std::size(emitters); ++k) {
        const int x = f.Chart1->BottomAxis()->ValueToPixel(emitters[k]);
        int brightest = 0;
        for (int dx = -1; dx <= 1; ++dx) brightest = std::max(brightest, qGray(img.pixel(x + dx, y)));
        seen.emitter[k] += brightest / double(kRows);
      }
    }
    return seen;
  };
  const Seen automatic = look();
  f.Waterfall1->SetColours({wg::ColourSpan::Kind::LevelAxis});
  const Seen axis = look();
  RecordProperty("noise_grey", std::to_string(automatic.noise) + " (level axis: " + std::to_string(axis.noise) + ")");
  EXPECT_LT(automatic.noise, 40) << "the noise is dark";
  EXPECT_GT(axis.noise, 60) << "on the level axis's colours it was not";
  for (size_t k = 0; k < std::size(emitters); ++k) {
    const double stands = automatic.emitter[k] - automatic.noise, stood = axis.emitter[k] - axis.noise;
    RecordProperty("grey_above_noise_" + std::to_string(static_cast<int64_t>(emitters[k])),
                   std::to_string(stands) + " (level axis: " + std::to_string(stood) + ")");
    EXPECT_GT(stands, 15) << emitters[k];
    EXPECT_GT(stands, 4 * stood) << emitters[k] << ": " << stands << " against " << stood;
  }
}

TEST_F(WaterfallWindowTest, ColoursFollowTheLevelAxisAndGreyOutUntunedSteps) {
  MainWindow& f = OpenWithWaterfall();
  Sweep s;
  const int lo = 2000, hi = 6000, mid = 10000, above = 14000, below = 16000;
  s.Y(lo) = -120;
  s.Y(hi) = 25;
  s.Y(mid) = -47.5;  // halfway
  s.Y(above) = 60;
  for (int i = 0; i < kPoints; ++i)
    if (s.Y(i) == -120 && i != lo) s.Y(i) = std::nan("");
  s.Y(below) = -200;
  s.AddTo(*f.Waterfall1);
  Settle(f);
  auto at = [&](int i) { return Picture(f).pixel(f.Chart1->BottomAxis()->ValueToPixel(s.X(i)), 0); };
  EXPECT_EQ(at(lo), Colour(0));
  EXPECT_EQ(at(hi), Colour(1));
  EXPECT_EQ(at(mid), Colour(0.5));
  EXPECT_EQ(at(above), Colour(1));
  EXPECT_EQ(at(below), Colour(0));
  EXPECT_EQ(at(12000), wg::kWaterfallUntuned);
  EXPECT_TRUE(f.Waterfall1->ReadoutAt({f.Chart1->BottomAxis()->ValueToPixel(s.X(12000)), 0})
                  .contains(QString::fromUtf8("—")));

  // The wheel moves the level axis: contrast follows it.
  f.Chart1->LeftAxis()->SetRange(-100, 0);
  Settle(f);
  EXPECT_EQ(at(mid), Colour(52.5 / 100));
  EXPECT_EQ(at(hi), Colour(1));
}

TEST_F(WaterfallWindowTest, LiveSweepsFillItAndANewScanRangeStartsItAfresh) {
  MainWindow& f = Open();
  f.activateWindow();
  const wg::TWaterfallHistory& h = f.Waterfall1->History();
  QApplication::processEvents();
  EXPECT_EQ(h.RowCount(), 0u) << "hidden, it keeps nothing";
  QTest::keyClick(&f, Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
  for (int i = 0; i < 300 && h.RowCount() < 3; ++i) QTest::qWait(20);
  ASSERT_GE(h.RowCount(), 3u);
  EXPECT_EQ(h.ColumnCount(), f.Series1->PointCount());
  EXPECT_EQ(h.ColumnLow(0), 138e6);

  f.StartFreqEdit->SetValue(140);
  for (int i = 0; i < 300 && !(h.RowCount() > 0 && h.ColumnLow(0) == 140e6); ++i) QTest::qWait(20);
  ASSERT_EQ(h.ColumnLow(0), 140e6);
  EXPECT_LE(h.RowCount(), 3u) << "rows of the old range were dropped";
  f.StopSweep();
  Settle(f);
  // Below the new range's rows the picture is empty.
  const QImage img = Picture(f);
  EXPECT_NE(img.pixel(f.Waterfall1->DataLeft() + 10, static_cast<int>(h.RowCount()) - 1), wg::kWaterfallNoData);
  EXPECT_EQ(img.pixel(f.Waterfall1->DataLeft() + 10, static_cast<int>(h.RowCount())), wg::kWaterfallNoData);

  QTest::keyClick(&f, Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(h.RowCount(), 0u) << "hidden, it lets its rows go";
}

// Asked to, rows fewer than the pixel rows share the height out, newest on
// top, also as rows come; the readout reads the row drawn.
TEST_F(WaterfallWindowTest, FewRowsFillTheHeightWhenAskedTo) {
  MainWindow& f = OpenWithWaterfall();
  wg::TWaterfall& w = *f.Waterfall1;
  const auto add = [&](int k) {  // row k: -120 + 20 k dB, dated k s after the epoch
    Sweep s;
    for (int i = 0; i < kPoints; ++i) s.Y(i) = -120 + 20 * k;
    w.AddSweep(&s.xy[0], &s.xy[1], 2, s.Count(), TWaterfallHistory::Clock::time_point{std::chrono::seconds(k)});
  };
  add(0), add(1), add(2), w.SetFillHeight(true), Settle(f), add(3), Settle(f);
  const int x = w.DataLeft() + 10, h = w.height();
  for (const auto& [y, k] : {std::pair{0, 3}, {h * 3 / 8, 2}, {h - 1, 0}})
    EXPECT_EQ(Picture(f).pixel(x, y), Colour(20.0 * k / 145)) << y;
  const QString oldest = QDateTime::fromMSecsSinceEpoch(0).toString(QStringLiteral("HH:mm:ss.zzz"));
  EXPECT_TRUE(w.ReadoutAt({x, h - 1}).endsWith(oldest));
  w.SetFillHeight(false);
  Settle(f);
  EXPECT_EQ(Picture(f).pixel(x, 4), wg::kWaterfallNoData) << "one pixel row each";
}

TEST_F(WaterfallWindowTest, ItsShowingAndShareAreRemembered) {
  QTemporaryDir config;
  const QString path = config.filePath(QStringLiteral("wideglass.ini"));
  double moved = 0;
  {
    wg::TSettings settings(path);
    Bind(WG_SIM_LIB);
    form_ = std::make_unique<MainWindow>(settings, wg::Options{});
    form_->show();
    QApplication::processEvents();
    form_->Splitter1->Action()->trigger();
    QApplication::processEvents();
    // The user drags the split 60 pixels up.
    QWidget* handle = form_->Splitter1->handle(1);
    const QPoint mid = handle->rect().center();
    QTest::mousePress(handle, Qt::LeftButton, {}, mid);
    QMouseEvent drag(QEvent::MouseMove, QPointF(mid + QPoint(0, -60)), handle->mapToGlobal(QPointF(mid + QPoint(0, -60))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(handle, &drag);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, mid + QPoint(0, -60));
    moved = form_->Splitter1->Share();
    EXPECT_GT(moved, wg::TWaterfallSplitter::kDefaultShare + 0.05);
    form_.reset();
    UnloadReceiverLibraryWhenFree();
  }
  wg::TSettings settings(path);
  EXPECT_TRUE(settings.Values().waterfallShown);
  EXPECT_NEAR(settings.Values().waterfallShare, moved, 1e-5);
  Bind(WG_SIM_LIB);
  form_ = std::make_unique<MainWindow>(settings, wg::Options{});
  form_->show();
  QApplication::processEvents();
  EXPECT_TRUE(form_->Waterfall1->isVisible());
  EXPECT_TRUE(form_->Splitter1->Action()->isChecked());
  EXPECT_NEAR(static_cast<double>(form_->Waterfall1->height()) / (form_->Chart1->height() + form_->Waterfall1->height()),
              moved, 0.01);
  form_.reset();
}

}  // namespace
