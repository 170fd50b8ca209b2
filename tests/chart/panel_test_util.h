// Helpers shared by the chart panel tests: the program's chart set-up, a
// probe series and pixel access.
#pragma once

#include <QImage>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Chart.h"
#include "Series.h"

namespace wg::paneltest {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kBlack = 0x000000;

inline std::uint32_t Rgb(TColor c) { return ColorToQRgb(c) & 0xFFFFFF; }

inline std::uint32_t Px(const TChart& chart, int x, int y) { return chart.Canvas().Image().pixel(x, y) & 0xFFFFFF; }

// Font height of the default chart font as the canvas measures it.
inline int DefaultFontHeight() {
  TChartCanvas3D c;
  c.AssignFont(DefaultChartFont());
  return c.FontHeight();
}

// A series that records how the chart drives it and, when asked, draws a
// red horizontal line far wider than the plot.
class ProbeSeries : public TChartSeries {
 public:
  int first = 0;
  int drawCalls = 0;
  bool sawClip = false;
  TRect clipRect;
  bool throwInDraw = false;
  int lineY = -1;
  std::vector<std::string>* log = nullptr;
  bool* detachedAtDestruction = nullptr;

  ~ProbeSeries() override {
    if (detachedAtDestruction) *detachedAtDestruction = ParentChart() == nullptr;
  }
  void CalcVisibleRange() override {
    FirstVisible = first;
    LastVisible = first;
  }
  void DrawPoints() override {
    ++drawCalls;
    if (log) log->push_back("series");
    auto* c = static_cast<TChartCanvas3D*>(ParentChart()->GetCanvas());
    sawClip = c->Clipped();
    clipRect = c->ClipRect();
    if (throwInDraw) throw std::runtime_error("broken series");
    if (lineY >= 0) {
      c->Pen().SetColor(clRed);
      c->Pen().SetStyle(psSolid);
      c->Pen().SetMode(pmCopy);
      c->Line(-100, lineY, 10000, lineY);
    }
  }
};

// A line series whose drawing fails half-way, with its clip set.
class BrokenLine : public TFastLineSeries {
 public:
  bool broken = true;
  void DrawPoints() override {
    if (broken) throw std::runtime_error("broken series");
    TFastLineSeries::DrawPoints();
  }
};

// The chart as the program configures it.
inline void ConfigureLikeProgram(TChart& chart, int w = 580, int h = 326) {
  chart.resize(w, h);
  chart.SetView3D(false);
  chart.Legend().SetVisible(false);
  chart.Title().SetText({"FFT", ""});
  chart.BackWall().Brush().SetColor(clWhite);
  chart.BackWall().Brush().SetStyle(bsClear);
  chart.SetColor(clWhite);
  TChartAxis* b = chart.BottomAxis();
  b->Axis().SetWidth(1);
  b->SetEndPosition(97);
  b->SetPositionPercent(-2);
  b->Title().SetCaption("Hz");
  TChartAxis* l = chart.LeftAxis();
  l->SetAutomatic(false);
  l->SetMaximum(25);
  l->SetMinimum(-120);
  l->SetStartPosition(5);
  l->SetPositionPercent(-1);
  l->Axis().SetWidth(1);
  l->Title().SetCaption("dB");
}

inline void DrawAll(TChart& chart) { chart.Draw(nullptr, {0, 0, chart.width(), chart.height()}); }

}  // namespace wg::paneltest
