// `wideglass --heatmap IN OUT.png [--width PIXELS]`: a recording drawn as a
// heat map without a window or a display: frequency across, time down with
// one row per sweep (or interval), each level in the waterfall's colours,
// frequency labels along the top, times down the side and a dB colour bar on
// the right.
#pragma once

#include <QImage>

#include <cstdint>
#include <string>

namespace wg {

struct Options;
class THeatMapGrid;

// Where the parts of the picture go, in pixels.
struct HeatMapLayout {
  int left = 0, top = 0;         // the heat map's top left corner
  int columns = 0, rows = 0;     // its size in cells
  int rowHeight = 1;             // pixels a row takes (few rows are drawn taller)
  int width = 0, height = 0;     // the picture's
};

inline constexpr int kHeatMapMostRows = 16384;

// The picture `width` pixels wide (0: one column per bin across, within
// 600 to 1800 columns) for a recording of that many bins across and sweeps.
HeatMapLayout PlanHeatMap(int width, double binsAcross, uint64_t sweeps);

// The picture of the cells, in that layout, with `title` above it.
QImage DrawHeatMap(const THeatMapGrid& grid, const HeatMapLayout& layout, const std::string& title);

// Reads options.heatmap and writes the PNG; the exit status (1 on a
// failure, said in one line on standard error; problems in the recording are
// said too, one line each, but do not fail it).
int RunHeatMap(int argc, char** argv, const Options& options);

}  // namespace wg
