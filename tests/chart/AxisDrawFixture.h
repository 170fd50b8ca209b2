// Axes drawn on their own: a canvas that records the lines and texts an
// axis asks for, a chart that is only a plotting rectangle, and a real
// canvas over a white image.
#pragma once

#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "chart/ChartAxis.h"
#include "chart/ChartSeries.h"
#include "chart/ChartSetup.h"
#include "chart/ImageCanvas.h"
#include "runtime/NumText.h"

namespace wgtest {

using namespace wg;

constexpr std::uint32_t kWhite = 0xFFFFFF, kBlack = 0x000000, kGray = 0x808080;

int RoundEven(double x) { return static_cast<int>(std::nearbyint(x)); }

// A canvas that writes down the lines and texts it is asked for, with the
// pen or alignment in effect; it measures text like the real canvas.
class RecordingCanvas : public TCanvas3D {
 public:
  struct Seg {
    int x0, y0, x1, y1;
    TColor color;
    TPenStyle style;
    friend bool operator==(const Seg&, const Seg&) = default;
  };
  struct Text {
    int x, y, angle;
    unsigned align;
    std::string text;
    friend bool operator==(const Text&, const Text&) = default;
  };
  std::vector<Seg> lines;
  std::vector<Text> texts;
  unsigned align = 0;

  void Reset() {
    lines.clear();
    texts.clear();
  }
  void Note(int x0, int y0, int x1, int y1) {
    if (pen_.Style() != psClear) lines.push_back({x0, y0, x1, y1, pen_.Color(), pen_.Style()});
  }
  // Lines of a colour whose ends differ only in y (vertical) or only in x.
  std::vector<Seg> Of(TColor color, bool vertical) const {
    std::vector<Seg> out;
    for (const Seg& l : lines)
      if ((vertical ? l.x0 == l.x1 : l.y0 == l.y1) && l.color == color) out.push_back(l);
    return out;
  }

  void SetTextAlign(unsigned flags) override { align = flags; }
  void TextOutZ(int x, int y, int, std::string_view t) override { texts.push_back({x, y, 0, align, std::string(t)}); }
  void RotatedTextZ(int x, int y, int, std::string_view t, int a) override {
    texts.push_back({x, y, a, align, std::string(t)});
  }
  void Line(int x0, int y0, int x1, int y1) override { Note(x0, y0, x1, y1); }
  void HorizontalLine(int x0, int x1, int y) override { Note(x0, y, x1, y); }
  void VerticalLine(int x, int y0, int y1) override { Note(x, y0, x, y1); }
  void HorizontalLineZ(int x0, int x1, int y, int) override { Note(x0, y, x1, y); }
  void VerticalLineZ(int x, int y0, int y1, int) override { Note(x, y0, x, y1); }
  // The series' part of the canvas and the text background; an axis's
  // drawing only sets the background mode.
  void SetBackMode(TCanvasBackMode) override {}
  void MoveTo(int, int) override {}
  void LineTo(int, int) override {}
  void ClipToPlotArea(const TRect&, int, int) override {}
  void RemoveClip() override {}
  TPoint Unproject(int x, int y, int) override { return {x, y}; }
};

// The chart as the axes see it: a plotting rectangle, one line series on the
// bottom and left axes, and a canvas.
class FakeChart : public TChartLink {
 public:
  FakeChart() { series.push_back(&line); }
  void Invalidate() override { ++invalidations; }
  int SeriesCount() const override { return static_cast<int>(series.size()); }
  TChartSeries* Series(int i) const override { return series[static_cast<std::size_t>(i)]; }
  TRect GetPlotRect() const override { return plot; }
  TCanvas3D* GetCanvas() const override { return canvas; }
  TChartAxis* AxisFor(THorizAxis) const override { return nullptr; }
  TChartAxis* AxisFor(TVertAxis) const override { return nullptr; }
  void GetAxisLabel(const TCustomChartAxis& axis, double v, std::string& text) override {
    if (hook) hook(axis, v, text);
  }

  TChartSeries line;
  std::vector<TChartSeries*> series;
  TRect plot;
  TCanvas3D* canvas = nullptr;
  int invalidations = 0;
  std::function<void(const TCustomChartAxis&, double, std::string&)> hook;
};

// The chart's axis steps: ranges, the bands taken off the working rectangle
// in list order, the final plot and the pixel extents.
void Layout(FakeChart& chart, std::initializer_list<TChartAxis*> axes) {
  for (TChartAxis* a : axes) a->UpdateEffectiveRange();
  TRect work = chart.plot;
  for (TChartAxis* a : axes) {
    TRect r = work;
    a->LayoutShare(r);
    const TRect common{std::max(r.Left, work.Left), std::max(r.Top, work.Top), std::min(r.Right, work.Right),
                       std::min(r.Bottom, work.Bottom)};
    if (!common.IsEmpty()) work = common;
  }
  chart.plot = work;
  for (TChartAxis* a : axes) {
    a->UpdatePixelExtent();
    a->ApplySeriesMargins();
  }
}

// Range and extent of an axis drawn without the chart's layout.
void Place(TChartAxis& a, double lo, double hi, double increment = 0) {
  a.SetRange(lo, hi);
  a.SetIncrement(increment);
  a.UpdateEffectiveRange();
  a.UpdatePixelExtent();
}

struct Box {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive
  bool empty() const { return right < 0; }
  double cx() const { return (left + right) / 2.0; }
  double cy() const { return (top + bottom) / 2.0; }
};

// A real canvas in a frame over a white image of the chart's size.
class Image {
 public:
  Image(int w, int h) : w_(w), h_(h) { Clear(); }
  void Clear() {
    c.BeginFrame(nullptr, nullptr, {0, 0, w_, h_}, false);
    c.Brush().SetColor(clWhite);
    c.Brush().SetStyle(bsSolid);
    c.FillRect({0, 0, w_, h_});
  }
  std::uint32_t Px(int x, int y) const { return c.Image().pixel(x, y) & 0xFFFFFF; }
  std::set<std::pair<int, int>> PixelsOf(std::uint32_t rgb, const TRect& area) const {
    std::set<std::pair<int, int>> s;
    for (int y = std::max(0, area.Top); y < std::min(h_, area.Bottom); ++y)
      for (int x = std::max(0, area.Left); x < std::min(w_, area.Right); ++x)
        if (Px(x, y) == rgb) s.insert({x, y});
    return s;
  }
  Box Ink(const TRect& area) const {
    Box b;
    for (int y = std::max(0, area.Top); y < std::min(h_, area.Bottom); ++y)
      for (int x = std::max(0, area.Left); x < std::min(w_, area.Right); ++x)
        if (Px(x, y) != kWhite)
          b = {std::min(b.left, x), std::min(b.top, y), std::max(b.right, x), std::max(b.bottom, y)};
    return b;
  }

  TChartCanvas3D c;

 private:
  int w_, h_;
};

int FontHeightOf(TCanvas3D& c, const TFont& f) {
  c.AssignFont(f);
  return c.FontHeight();
}

class AxisDrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::SetDecimalSeparator('.');
    rt::SetThousandSeparator(",");
    chart.canvas = &rec;
  }
  FakeChart chart;
  TChartAxis bottom{&chart, true, false};
  TChartAxis top{&chart, true, true};
  TChartAxis left{&chart, false, false};
  TChartAxis right{&chart, false, true};
  RecordingCanvas rec;
};

}  // namespace wgtest
