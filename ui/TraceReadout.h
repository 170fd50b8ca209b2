// Reading levels off the trace: the measured point nearest a frequency, the
// strongest one in a band, and the texts the readout and markers show.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

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
// clear of the point it reads (and of the pointer), preferring the upper
// right.
QRect PlaceLabel(QSize label, QPoint pointer, QPoint readPoint, const QRect& plot);

}  // namespace wg
