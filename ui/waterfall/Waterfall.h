// The waterfall under the chart: one row per sweep, newest on top, on the
// chart's own frequency scale pixel for pixel, coloured over the level
// axis's visible range, with a colour bar in dB beside it and a readout of
// the pixel under the pointer.
//
// It follows the chart rather than keeping a scale of its own: after every
// drawing of the chart it compares the chart's plot rectangle and axes with
// what its rows were rendered for, and renders them again from the stored
// history when they differ (zoom, scroll, undo, new range, resize, wheel).
#pragma once

#include <QImage>
#include <QWidget>

#include <chrono>
#include <utility>
#include <vector>

#include "ui/waterfall/WaterfallColours.h"
#include "ui/waterfall/WaterfallHistory.h"

namespace wg {

class TCustomChart;

class TWaterfall : public QWidget {
  Q_OBJECT

 public:
  using Clock = TWaterfallHistory::Clock;

  // chart must outlive the waterfall's use of it; the waterfall reads its
  // axes but never changes them.
  explicit TWaterfall(TCustomChart* chart, QWidget* parent = nullptr);

  // The newest sweep: points with X (Hz) and Y (dB, NaN = untuned) read with
  // a stride in doubles, as drawn by the trace. A sweep over another range
  // starts the history anew.
  void AddSweep(const double* x, const double* y, std::ptrdiff_t stride, std::size_t count,
                Clock::time_point finished);
  // The same for a sweep already reduced to its columns.
  void AddReduced(TWaterfallHistory::Reduced row);
  void Clear();
  // Rows fewer than the pixel rows share out the whole height (a recording
  // of a few sweeps fills it) instead of one pixel row each.
  void SetFillHeight(bool fill);
  bool FillHeight() const { return fill_; }
  // Renders again if the chart's scale moved since the rows were drawn. The
  // window calls it after every drawing of the chart.
  void SyncWithChart();

  // Which levels the colours span; automatic unless chosen.
  void SetColours(const ColourSpan& c);
  const ColourSpan& Colours() const { return colours_; }
  // The levels the lowest and the highest colour stand for now, dB.
  double ColourLow() const { return palette_.Low(); }
  double ColourHigh() const { return palette_.High(); }

  const TWaterfallHistory& History() const { return history_; }
  // Bytes held for the rows and their rendering; at most 64 MiB with any
  // scan range and any size up to 3840 x 2160.
  std::size_t MemoryBytes() const;
  // The readout at a pixel of this widget: frequency, level and the row's
  // time; empty where no row is drawn.
  QString ReadoutAt(QPoint p) const;
  // The frequency columns in this widget's pixels: [DataLeft(), DataRight()).
  int DataLeft() const { return view_.x0 + view_.dx; }
  int DataRight() const { return view_.x1 + view_.dx; }

  QSize sizeHint() const override { return {400, 160}; }
  QSize minimumSizeHint() const override { return {50, 40}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Everything the rendered rows depend on.
  struct View {
    int dx = 0;          // this widget's x of the chart's pixel 0
    int x0 = 0, x1 = 0;  // the chart's pixels inside the plot frame
    int startPixel = 0, endPixel = 0;
    double minimum = 0, maximum = 0;
    bool inverted = false;
    double levelLow = 0, levelHigh = 0;
    int height = 0;
    bool operator==(const View&) const = default;
  };
  View CurrentView() const;
  bool ChartReady() const;
  void RenderAll();
  // Rows age … age + count - 1 into image rows imageRow … onwards.
  void RenderRows(std::size_t age, int imageRow, int count);
  // After a row was added: the newest row rendered, or all when needed.
  void RowAdded(bool cleared);
  // The row drawn at pixel row y (an age, possibly beyond the rows held).
  std::size_t AgeAt(int y) const;
  static constexpr int kRowBlock = 4;
  void DrawColourBar(class QPainter& p);
  // Automatic colours: the newest row's levels per pixel move the span a
  // step towards their noise floor and their strongest level.
  void FollowLevels(const TWaterfallHistory::Level* pixels, int count);
  std::pair<double, double> ColourRange() const;
  void DrawReadout(class QPainter& p);

  TCustomChart* chart_;
  TWaterfallHistory history_;
  TWaterfallSpans spans_;
  TWaterfallPalette palette_;
  ColourSpan colours_;
  bool followed_ = false;  // the automatic span has seen a row
  double autoLow_ = 0, autoHigh_ = 0;
  std::vector<TWaterfallHistory::Level> visible_;
  View view_;
  bool dirty_ = true;
  // Rows as a ring: the newest at image row top_, older ones below it and
  // round to the top.
  QImage image_;
  int top_ = 0;
  bool fill_ = false;
  // Rows shared out over the image's height when the last rendering
  // stretched them; 0 when each has one pixel row.
  std::size_t stretched_ = 0;
  QImage bar_;  // the colour bar, made for the widget's height
  std::vector<TWaterfallHistory::Level> rowLevels_;
  QPoint hover_{-1, -1};
};

}  // namespace wg
