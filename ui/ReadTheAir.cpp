#include "ui/ReadTheAir.h"

#include "app/Settings.h"
#include "chart/Chart.h"
#include "chart/ChartSetup.h"
#include "chart/FastLineSeries.h"
#include "sweep/SweepEngine.h"
#include "ui/ChartMenu.h"
#include "ui/ChartOverlay.h"
#include "ui/SweepPoints.h"
#include "ui/TraceReadout.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace wg {

namespace {

double LevelAt(const TChartSeries& s, int index) { return index < 0 ? NAN : s.PointY(index); }

// The held line against the red trace.
constexpr TColor kHoldColour = clBlue;

struct ModeEntry {
  TraceMode mode;
  const char* text;
  const char* shortcut;
  const char* name;
};
constexpr ModeEntry kModes[] = {
    {TraceMode::Live, "Live", "F2", "mode-live"},
    {TraceMode::Average, "Average", "F3", "mode-average"},
    {TraceMode::PeakHold, "Peak hold", "F4", "mode-peak-hold"},
};

}  // namespace

TReadTheAir::TReadTheAir(TChart& chart, TFastLineSeries& trace, TSweepEngine& sweep, TChartMenu& menu)
    : chart_(chart), trace_(trace), sweep_(sweep) {
  overlay_ = new TChartOverlay(&chart, [this](QPainter& p, const QPoint* pointer) { Paint(p, pointer); });
  chart.installEventFilter(this);

  modeGroup_ = new QActionGroup(this);
  for (const ModeEntry& e : kModes) {
    QAction* a = menu.AddEntry(QString::fromLatin1(e.text), QKeySequence(QString::fromLatin1(e.shortcut)),
                               [this, m = e.mode] { SetMode(m); });
    a->setObjectName(QLatin1String(e.name));
    a->setCheckable(true);
    a->setData(static_cast<int>(e.mode));
    a->setChecked(e.mode == mode_);
    modeGroup_->addAction(a);
  }
  menu.AddEntry(QStringLiteral("Clear hold"), QKeySequence(QStringLiteral("Ctrl+Shift+H")), [this] {
        ClearHold();
      })->setObjectName(QStringLiteral("clear-hold"));
  listenerId_ = sweep.AddSweepListener([this](const SweepPtr& s) { OnSweep(s); });

  menu.Menu()->addSeparator();
  peakAction_ = menu.AddEntry(QStringLiteral("Mark peak"), QKeySequence(QStringLiteral("Ctrl+Shift+M")),
                              [this] { SetPeakMarker(true); });
  peakAction_->setObjectName(QStringLiteral("mark-peak"));
  menu.AddEntry(QStringLiteral("Clear marker"), QKeySequence(QStringLiteral("Ctrl+Shift+K")), [this] {
        ClearMarkers();
      })->setObjectName(QStringLiteral("clear-marker"));
  menu.Menu()->addSeparator();
  menu.AddEntry(QStringLiteral("Reset view"), QKeySequence(QStringLiteral("Ctrl+Shift+R")), [this] {
        ResetView();
      })->setObjectName(QStringLiteral("reset-view"));
}

TReadTheAir::~TReadTheAir() {
  if (listenerId_ >= 0) sweep_.RemoveSweepListener(listenerId_);
}

void TReadTheAir::ResetView() {
  TChart& chart = chart_;
  // The undo brings the top and right axes back and marks nothing saved;
  // the scan range may have changed since the zoom, so the frequency and
  // level axes are set outright.
  chart.UndoZoom();
  chart.BottomAxis()->SetRange(static_cast<double>(sweep_.StartFrequency()),
                               static_cast<double>(sweep_.StopFrequency()));
  chart.LeftAxis()->SetRange(kLevelAxisMin, kLevelAxisMax);
}

// ---- readout ------------------------------------------------------------------

QRect TReadTheAir::PlotRect() const {
  const TRect r = chart_.GetPlotRect();
  return QRect(QPoint(r.Left, r.Top), QPoint(r.Right - 1, r.Bottom - 1));
}

TReadTheAir::TReadout TReadTheAir::ReadoutAt(QPoint pointer) const {
  TReadout out;
  const QRect plot = PlotRect();
  if (!plot.contains(pointer)) return out;
  TChart& chart = chart_;
  const TChartSeries& s = trace_;
  out.Shown = true;
  out.Hz = chart.BottomAxis()->PixelToValue(pointer.x());
  const int i = NearestMeasured(s, out.Hz);
  out.Db = LevelAt(s, i);
  out.ReadPoint = i < 0 ? pointer
                        : QPoint(chart.BottomAxis()->ValueToPixel(s.PointX(i)), chart.LeftAxis()->ValueToPixel(out.Db));
  out.Text = FormatMHz(out.Hz) + QStringLiteral("  ") + FormatDb(out.Db);
  const QFontMetrics fm(overlay_->font());
  const QSize size(fm.horizontalAdvance(out.Text) + 8, fm.height() + 4);
  out.Rect = PlaceLabel(size, pointer, out.ReadPoint, plot);
  return out;
}

// ---- markers ------------------------------------------------------------------

void TReadTheAir::SetPeakMarker(bool on) {
  if (peakMarker_ == on) return;
  peakMarker_ = on;
  StoreMarkers();
  Redraw();
}

void TReadTheAir::SetFixedMarkers(std::vector<double> hz) {
  std::erase_if(hz, [](double v) { return !std::isfinite(v); });
  if (hz.size() > kMaxFixedMarkers) hz.resize(kMaxFixedMarkers);
  fixed_ = std::move(hz);
  StoreMarkers();
  Redraw();
}

bool TReadTheAir::AddFixedMarkerAt(QPoint pixel) {
  if (fixed_.size() >= kMaxFixedMarkers || !PlotRect().contains(pixel)) return false;
  fixed_.push_back(chart_.BottomAxis()->PixelToValue(pixel.x()));
  StoreMarkers();
  Redraw();
  return true;
}

void TReadTheAir::ClearMarkers() {
  peakMarker_ = false;
  fixed_.clear();
  StoreMarkers();
  Redraw();
}

void TReadTheAir::StoreMarkers() {
  if (!settings_) return;
  settings_->SetPeakMarker(peakMarker_);
  settings_->SetMarkers(fixed_);
}

void TReadTheAir::Remember(TSettings& settings, std::optional<TraceMode> forThisRun) {
  settings_ = nullptr;  // restoring is no change to remember
  const SettingsValues& v = settings.Values();
  // The command line chooses what is computed; peak hold is never its choice.
  SetMode(forThisRun ? LevelComputation(*forThisRun) : v.traceView);
  SetPeakMarker(v.peakMarker);
  SetFixedMarkers(v.markers);
  settings_ = &settings;
}

std::vector<TReadTheAir::TMarker> TReadTheAir::Markers() const {
  std::vector<TMarker> out;
  const TChartSeries& s = trace_;
  for (size_t k = 0; k < fixed_.size(); ++k) {
    TMarker m;
    m.Hz = fixed_[k];
    m.Db = LevelAt(s, NearestMeasured(s, m.Hz));
    m.Text = QStringLiteral("M%1 %2 %3").arg(k + 1).arg(FormatMHz(m.Hz), FormatDb(m.Db));
    if (k > 0) {
      const TMarker& first = out.front();
      m.Text += QString::fromUtf8(" (\u0394 %1, %2)")
                    .arg(FormatDeltaMHz(m.Hz - first.Hz), FormatDeltaDb(m.Db - first.Db));
    }
    out.push_back(m);
  }
  if (peakMarker_) {
    const TChartAxis* bottom = chart_.BottomAxis();
    const double lo = std::min(bottom->Minimum(), bottom->Maximum());
    const double hi = std::max(bottom->Minimum(), bottom->Maximum());
    const int i = StrongestBetween(s, lo, hi);
    if (i >= 0) {
      TMarker m;
      m.Peak = true;
      m.Hz = s.PointX(i);
      m.Db = s.PointY(i);
      m.Text = QStringLiteral("Peak %1 %2").arg(FormatMHz(m.Hz), FormatDb(m.Db));
      out.push_back(m);
    }
  }
  return out;
}

void TReadTheAir::Redraw() { overlay_->update(); }

// ---- trace modes --------------------------------------------------------------

void TReadTheAir::SetMode(TraceMode mode) {
  for (QAction* a : modeGroup_->actions())
    a->setChecked(a->data().toInt() == static_cast<int>(mode));
  if (mode == mode_) return;
  mode_ = mode;
  if (settings_) settings_->SetTraceView(mode);
  if (mode == TraceMode::PeakHold && !hold_) {
    auto series = std::make_unique<TFastLineSeries>();
    series->SetSeriesColor(kHoldColour);
    series->LinePen().SetColor(kHoldColour);
    series->XValues().SetOrder(loAscending);
    series->YValues().SetOrder(loNone);
    hold_ = chart_.AddSeries(std::move(series));
    sweep_.SetHold(true);
  } else if (mode != TraceMode::PeakHold && hold_) {
    chart_.RemoveSeries(hold_);
    hold_ = nullptr;
    sweep_.SetHold(false);
  }
  const TraceMode computation = LevelComputation(mode);
  if (sweep_.GetTraceMode() != computation) {
    sweep_.SetTraceMode(computation);
    // The computation changes at the next start; a sweep half in one mode
    // and half in the other would show a step in the noise, so it begins
    // again at the scan start.
    if (sweep_.Running()) {
      sweep_.Stop();
      sweep_.Reset();
      sweep_.Start();
    }
  }
}

void TReadTheAir::ClearHold() {
  if (!hold_) return;
  sweep_.RestartHold();
  hold_->ClearPoints();
}

void TReadTheAir::ScanRangeChanged() { ClearHold(); }

void TReadTheAir::OnSweep(const SweepPtr& sweep) {
  if (!hold_) return;
  // The sweep's last step reaches past the stop; the trace shows only the
  // scan range's points, and so does the held line.
  const auto traced = static_cast<size_t>(std::max(0, trace_.PointCount()));
  const int n = static_cast<int>(std::min(sweep->PointCount(), traced));
  if (hold_->PointCount() != n) hold_->ResetPoints(n, 0.0, NAN, kHoldColour);
  if (n > 0) hold_->ShowPoints(SweepPoints(sweep, sweep_.HeldLevels(*sweep)));
}

// ---- drawing ------------------------------------------------------------------

void TReadTheAir::Paint(QPainter& p, const QPoint* pointer) const {
  const QRect plot = PlotRect();
  if (plot.isEmpty()) return;
  const TChart& chart = chart_;
  const QFontMetrics fm(overlay_->font());
  p.setClipRect(plot);
  for (const TMarker& m : Markers()) {
    const int x = chart.BottomAxis()->ValueToPixel(m.Hz);
    if (x < plot.left() || x > plot.right()) continue;
    int y = std::isnan(m.Db) ? plot.center().y() : chart.LeftAxis()->ValueToPixel(m.Db);
    y = std::clamp(y, plot.top() + 8, plot.bottom());
    const QColor colour = m.Peak ? QColor(0, 0, 160) : QColor(0, 0, 0);
    QPainterPath tri;
    tri.moveTo(x, y);
    tri.lineTo(x - 5, y - 8);
    tri.lineTo(x + 5, y - 8);
    tri.closeSubpath();
    p.fillPath(tri, colour);
    QRect label(0, 0, fm.horizontalAdvance(m.Text) + 6, fm.height() + 2);
    label.moveBottom(y - 10);
    label.moveLeft(x - label.width() / 2);
    if (label.right() > plot.right()) label.moveRight(plot.right());
    if (label.left() < plot.left()) label.moveLeft(plot.left());
    if (label.top() < plot.top()) label.moveTop(y + 4);
    p.fillRect(label, QColor(255, 255, 255, 220));
    p.setPen(colour);
    p.drawText(label, Qt::AlignCenter, m.Text);
  }
  if (!pointer) return;
  const TReadout r = ReadoutAt(*pointer);
  if (!r.Shown) return;
  p.fillRect(r.Rect, QColor(255, 255, 225));
  p.setPen(QColor(0x80, 0x80, 0x80));
  p.drawRect(r.Rect.adjusted(0, 0, -1, -1));
  p.setPen(Qt::black);
  p.drawText(r.Rect, Qt::AlignCenter, r.Text);
}

// ---- mouse --------------------------------------------------------------------

bool TReadTheAir::eventFilter(QObject* watched, QEvent* event) {
  if (watched != &chart_) return false;
  // Ctrl + a left click that stays put sets a fixed marker; the chart still
  // sees the press and release as it always did (a drag with Ctrl zooms).
  if (event->type() == QEvent::MouseButtonPress) {
    auto* m = static_cast<QMouseEvent*>(event);
    ctrlPressed_ = m->button() == Qt::LeftButton && (m->modifiers() & Qt::ControlModifier);
    ctrlPressPos_ = m->position().toPoint();
  } else if (event->type() == QEvent::MouseButtonRelease) {
    auto* m = static_cast<QMouseEvent*>(event);
    if (ctrlPressed_ && m->button() == Qt::LeftButton &&
        (m->position().toPoint() - ctrlPressPos_).manhattanLength() < QApplication::startDragDistance())
      AddFixedMarkerAt(ctrlPressPos_);
    ctrlPressed_ = false;
  }
  return false;
}

}  // namespace wg
