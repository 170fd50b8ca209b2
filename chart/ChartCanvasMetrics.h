// Font metrics a canvas keeps for its current font (shared by the canvas
// units only).
#pragma once

#include <QFont>
#include <QFontMetrics>

#include <cstdint>

#include "chart/ChartCanvas.h"

namespace wg {

struct TChartCanvas::Metrics {
  Metrics(const QFont& f, std::uint64_t g, int px) : font(f), fm(f), generation(g), pixelSize(px) {}
  QFont font;
  QFontMetrics fm;
  std::uint64_t generation;
  int pixelSize;
};

}  // namespace wg
