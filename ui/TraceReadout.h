// Reading levels off the trace: the measured point nearest a frequency, the
// strongest one in a band, and the texts the readout and markers show.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <vector>

namespace wg {

class TChartSeries;

// Index of the measured point nearest hz, or -1 when there is none: an
// empty trace, hz more than one point spacing beyond its ends (the zero
// points laid out before the first sweep count as beyond), or an untuned
// (NaN) level there. X must not decrease along the series.
int NearestMeasured(const TChartSeries& s, double hz);

// The strongest measured point with lo <= X <= hi (the first of equals), or
// -1. X must not decrease along the series.
int StrongestBetween(const TChartSeries& s, double lo, double hi);

// "146.5200 MHz": to 0.1 kHz, always with a point.
QString FormatMHz(double hz);
// "-57.3 dB", or a dash for no level (NaN).
QString FormatDb(double db);
// "+12.3 kHz"-style differences for markers: MHz to 0.1 kHz and dB, signed.
QString FormatDeltaMHz(double hz);
QString FormatDeltaDb(double db);

// Where a label of the given size goes near the pointer: inside the plot,
// clear of the point it reads (and of the pointer) and, where it can be, of
// the rectangles in keepClear (the editors on the chart), preferring the
// upper right.
QRect PlaceLabel(QSize label, QPoint pointer, QPoint readPoint, const QRect& plot,
                 const std::vector<QRect>& keepClear = {});

// Where the markers' labels go: each above its marker's tip where that is
// free, else stacked above or below it, else wherever in the plot is free
// nearest to it. No label overlaps another, nor anything in keepClear; a
// label with no free place left is an empty rectangle (not drawn).
std::vector<QRect> PlaceMarkerLabels(const std::vector<QSize>& sizes, const std::vector<QPoint>& tips,
                                     const QRect& plot, std::vector<QRect> keepClear);

}  // namespace wg
