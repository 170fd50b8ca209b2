// The readout, the markers and their table as the overlay draws them, and
// where each goes so that no label covers another.
#include "ui/ReadTheAir.h"

#include "chart/Chart.h"
#include "chart/FastLineSeries.h"
#include "ui/ChartOverlay.h"
#include "ui/TraceReadout.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace wg {

namespace {

constexpr int kTipHeight = 8;   // the marker's triangle above its point
constexpr int kTableMargin = 4;

QColor MarkerColour(const TReadTheAir::TMarker& m) { return m.Peak ? QColor(0, 0, 160) : QColor(0, 0, 0); }

}  // namespace

QRect TReadTheAir::PlotRect() const {
  const TRect r = chart_.GetPlotRect();
  return QRect(QPoint(r.Left, r.Top), QPoint(r.Right - 1, r.Bottom - 1));
}

// The editors and the caption sit on the chart; whatever else draws on the
// overlay says where.
std::vector<QRect> TReadTheAir::WidgetsOnChart() const {
  std::vector<QRect> out;
  for (QObject* o : chart_.children()) {
    auto* w = qobject_cast<QWidget*>(o);
    if (w && w != overlay_ && w->isVisible() && !w->isWindow()) out.push_back(w->geometry());
  }
  if (StripRect)
    if (const QRect r = StripRect(); !r.isEmpty()) out.push_back(r);
  return out;
}

TReadTheAir::TReadout TReadTheAir::ReadoutAt(QPoint pointer) const {
  TReadout out;
  const QRect plot = PlotRect();
  if (!plot.contains(pointer)) return out;
  TChart& chart = chart_;
  const TChartSeries& s = trace_;
  const TChartAxis* b = chart.BottomAxis();
  out.Shown = true;
  out.Hz = b->PixelToValue(pointer.x());
  // The strongest level the pointer's pixel column shows; zoomed in so far
  // that the column holds no point, the level of the nearest one.
  const double left = (b->PixelToValue(pointer.x() - 1) + out.Hz) / 2;
  const double right = (b->PixelToValue(pointer.x() + 1) + out.Hz) / 2;
  int i = StrongestBetween(s, std::min(left, right), std::max(left, right));
  if (i >= 0)
    out.Hz = s.PointX(i);
  else
    i = NearestMeasured(s, out.Hz);
  out.Db = i < 0 ? NAN : s.PointY(i);
  out.ReadPoint = i < 0 ? pointer : QPoint(b->ValueToPixel(s.PointX(i)), chart.LeftAxis()->ValueToPixel(out.Db));
  out.Text = FormatMHz(out.Hz) + QStringLiteral("  ") + FormatDb(out.Db);
  const QFontMetrics fm(overlay_->font());
  const QSize size(fm.horizontalAdvance(out.Text) + 8, fm.height() + 4);
  out.Rect = PlaceLabel(size, pointer, out.ReadPoint, plot, WidgetsOnChart());
  return out;
}

TReadTheAir::TLayout TReadTheAir::Layout(const QPoint* pointer) const {
  TLayout out;
  const QRect plot = PlotRect();
  if (plot.isEmpty()) return out;
  const QFontMetrics fm(overlay_->font());
  out.markers = Markers();
  std::vector<QRect> keepClear = WidgetsOnChart();
  if (pointer) {
    out.readout = ReadoutAt(*pointer);
    if (out.readout.Shown) keepClear.push_back(out.readout.Rect);
  }
  if (!out.markers.empty()) {
    // One row per marker and a heading, in the plot's upper left corner.
    const int rows = static_cast<int>(out.markers.size()) + 1;
    int width = 0;
    for (const TMarker& m : out.markers) width = std::max(width, fm.horizontalAdvance(m.Text));
    out.table = QRect(plot.left() + kTableMargin, plot.top() + kTableMargin, width + 8, rows * fm.height() + 4);
    keepClear.push_back(out.table);
  }
  std::vector<QSize> sizes;
  for (const TMarker& m : out.markers) {
    const int x = chart_.BottomAxis()->ValueToPixel(m.Hz);
    int y = std::isnan(m.Db) ? plot.center().y() : chart_.LeftAxis()->ValueToPixel(m.Db);
    y = std::clamp(y, plot.top() + kTipHeight, plot.bottom());
    out.tips.emplace_back(x, y);
    sizes.emplace_back(fm.horizontalAdvance(m.Label) + 6, fm.height() + 2);
    // The triangle is the marker's own; no label goes over it.
    keepClear.push_back(QRect(x - 5, y - kTipHeight, 11, kTipHeight + 1));
  }
  // Labels of markers out of view are not placed.
  std::vector<QSize> shownSizes;
  std::vector<QPoint> shownTips;
  for (size_t k = 0; k < out.tips.size(); ++k)
    if (out.tips[k].x() >= plot.left() && out.tips[k].x() <= plot.right()) {
      shownSizes.push_back(sizes[k]);
      shownTips.push_back(out.tips[k]);
    }
  const std::vector<QRect> placed = PlaceMarkerLabels(shownSizes, shownTips, plot, std::move(keepClear));
  size_t next = 0;
  for (const QPoint& tip : out.tips)
    out.labels.push_back(tip.x() >= plot.left() && tip.x() <= plot.right() ? placed[next++] : QRect());
  return out;
}

int TReadTheAir::MarkerAt(QPoint pixel) const {
  const TLayout l = Layout(overlay_->Pointer());
  for (size_t k = 0; k < l.tips.size(); ++k) {
    const QPoint tip = l.tips[k];
    const QRect triangle(tip.x() - 6, tip.y() - kTipHeight - 2, 13, kTipHeight + 5);
    if (triangle.contains(pixel) || l.labels[k].contains(pixel)) return static_cast<int>(k);
  }
  return -1;
}

void TReadTheAir::PaintTable(QPainter& p, const std::vector<TMarker>& markers, const QRect& table) const {
  const QFontMetrics fm(overlay_->font());
  p.fillRect(table, QColor(255, 255, 255, 220));
  p.setPen(QColor(0x80, 0x80, 0x80));
  p.drawRect(table.adjusted(0, 0, -1, -1));
  QRect row(table.left() + 4, table.top() + 2, table.width() - 8, fm.height());
  p.drawText(row, Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8("Frequency, level, \u0394 to M1"));
  for (const TMarker& m : markers) {
    row.translate(0, fm.height());
    p.setPen(MarkerColour(m));
    p.drawText(row, Qt::AlignLeft | Qt::AlignVCenter, m.Text);
  }
}

void TReadTheAir::Paint(QPainter& p, const QPoint* pointer) const {
  const QRect plot = PlotRect();
  if (plot.isEmpty()) return;
  const TLayout l = Layout(pointer);
  p.setClipRect(plot);
  for (size_t k = 0; k < l.markers.size(); ++k) {
    const TMarker& m = l.markers[k];
    const QPoint tip = l.tips[k];
    if (tip.x() < plot.left() || tip.x() > plot.right()) continue;
    const QColor colour = MarkerColour(m);
    QPainterPath tri;
    tri.moveTo(tip.x(), tip.y());
    tri.lineTo(tip.x() - 5, tip.y() - kTipHeight);
    tri.lineTo(tip.x() + 5, tip.y() - kTipHeight);
    tri.closeSubpath();
    p.fillPath(tri, colour);
    const QRect label = l.labels[k];
    if (label.isEmpty()) continue;
    p.fillRect(label, QColor(255, 255, 255, 220));
    p.setPen(colour);
    p.drawText(label, Qt::AlignCenter, m.Label);
  }
  if (!l.table.isEmpty()) PaintTable(p, l.markers, l.table);
  if (!l.readout.Shown) return;
  const TReadout& r = l.readout;
  p.fillRect(r.Rect, QColor(255, 255, 225));
  p.setPen(QColor(0x80, 0x80, 0x80));
  p.drawRect(r.Rect.adjusted(0, 0, -1, -1));
  p.setPen(Qt::black);
  p.drawText(r.Rect, Qt::AlignCenter, r.Text);
}

}  // namespace wg
