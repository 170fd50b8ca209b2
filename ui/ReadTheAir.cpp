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
    QAction* a = menu.AddEntry(QString::fromUtf8(e.text), QKeySequence(QString::fromLatin1(e.shortcut)),
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
  markerMenu_ = new QMenu(&chart);
  markerMenu_->setObjectName(QStringLiteral("MarkerMenu"));
  QAction* del = markerMenu_->addAction(QStringLiteral("Delete marker"), this, [this] {
    if (menuMarker_.Peak)
      SetPeakMarker(false);
    else
      RemoveFixedMarker(static_cast<size_t>(menuMarker_.Fixed));
  });
  del->setObjectName(QStringLiteral("marker-delete"));
  markerMenu_->addAction(QStringLiteral("Listen in gqrx"), this, [this] {
        if (OnListen) OnListen(menuMarker_.Hz);
      })->setObjectName(QStringLiteral("marker-listen"));
  markerMenu_->addAction(QStringLiteral("Calibrate: this signal is at \u2026 MHz"), this, [this] {
        if (OnCalibrate) OnCalibrate(menuMarker_.Hz);
      })->setObjectName(QStringLiteral("marker-calibrate"));
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
  if (recorded_)
    chart.BottomAxis()->SetRange(static_cast<double>(recorded_->start), static_cast<double>(recorded_->stop));
  else
    chart.BottomAxis()->SetRange(static_cast<double>(sweep_.StartFrequency()),
                                 static_cast<double>(sweep_.StopFrequency()));
  chart.LeftAxis()->SetRange(kLevelAxisMin, kLevelAxisMax);
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
  fixed_.push_back(SnapHz(pixel.x()));
  StoreMarkers();
  Redraw();
  return true;
}

// At full span a pixel holds a dozen bins and a carrier is one of them: a
// marker set by hand goes on the carrier, not on the noise beside it.
double TReadTheAir::SnapHz(int pixelX) const {
  const TChartAxis* b = chart_.BottomAxis();
  // Whole pixel columns: a point drawn in the outermost column counts.
  const double a = b->PixelToValue(pixelX - kSnapPixels), z = b->PixelToValue(pixelX + kSnapPixels);
  const double half = std::fabs(b->PixelToValue(pixelX + 1) - b->PixelToValue(pixelX)) / 2;
  const int i = StrongestBetween(trace_, std::min(a, z) - half, std::max(a, z) + half);
  return i < 0 ? b->PixelToValue(pixelX) : trace_.PointX(i);
}

void TReadTheAir::MoveFixedMarker(size_t k, double hz) {
  if (k >= fixed_.size() || !std::isfinite(hz)) return;
  fixed_[k] = hz;
  Redraw();
}

void TReadTheAir::RemoveFixedMarker(size_t k) {
  if (k >= fixed_.size()) return;
  fixed_.erase(fixed_.begin() + static_cast<std::ptrdiff_t>(k));
  StoreMarkers();
  Redraw();
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
    m.Fixed = static_cast<int>(k);
    m.Hz = fixed_[k];
    m.Db = LevelAt(s, NearestMeasured(s, m.Hz));
    m.Name = QStringLiteral("M%1").arg(k + 1);
    m.Label = QStringLiteral("%1 %2 %3").arg(m.Name, FormatMHz(m.Hz), FormatDb(m.Db));
    m.Text = m.Label;
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
      m.Name = QStringLiteral("Peak");
      m.Text = m.Label = QStringLiteral("Peak %1 %2").arg(FormatMHz(m.Hz), FormatDb(m.Db));
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
    series->SetActive(!recorded_);
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

void TReadTheAir::ShowRecorded(const SweepPtr& sweep) {
  recorded_ = sweep;
  if (hold_ && hold_->Active() != !recorded_) hold_->SetActive(!recorded_);
}

void TReadTheAir::OnSweep(const SweepPtr& sweep) {
  if (!hold_) return;
  // The sweep's last step reaches past the stop; the trace shows only the
  // scan range's points, and so does the held line.
  const auto traced = static_cast<size_t>(std::max(0, trace_.PointCount()));
  const int n = static_cast<int>(std::min(sweep->PointCount(), traced));
  if (hold_->PointCount() != n) hold_->ResetPoints(n, 0.0, NAN, kHoldColour);
  if (n > 0) hold_->ShowPoints(SweepPoints(sweep, sweep_.HeldLevels(*sweep)));
}

// ---- mouse --------------------------------------------------------------------

void TReadTheAir::OpenMarkerMenu(int marker, QPoint globalPos) {
  const std::vector<TMarker> all = Markers();
  if (marker < 0 || static_cast<size_t>(marker) >= all.size()) return;
  menuMarker_ = all[static_cast<size_t>(marker)];
  markerMenu_->findChild<QAction*>(QStringLiteral("marker-listen"))->setVisible(static_cast<bool>(OnListen));
  markerMenu_->findChild<QAction*>(QStringLiteral("marker-calibrate"))->setVisible(static_cast<bool>(OnCalibrate));
  markerMenu_->popup(globalPos);
}

// A left drag on a fixed marker moves it, snapping to the peaks it passes;
// a right click on any marker opens its own menu. Both are taken from the
// chart, which would zoom or pan.
bool TReadTheAir::MarkerMouse(QEvent* event) {
  const auto type = event->type();
  if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease) return false;
  auto* m = static_cast<QMouseEvent*>(event);
  const QPoint at = m->position().toPoint();
  if (type == QEvent::MouseButtonPress) {
    if (m->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier)) return false;
    const int k = MarkerAt(at);
    if (k < 0) return false;
    const TMarker mk = Markers()[static_cast<size_t>(k)];
    if (m->button() == Qt::RightButton) {
      rightOn_ = k;
      return true;
    }
    if (m->button() == Qt::LeftButton && !mk.Peak) {
      dragging_ = mk.Fixed;
      return true;
    }
    return false;
  }
  if (type == QEvent::MouseMove) {
    if (dragging_ < 0) return false;
    MoveFixedMarker(static_cast<size_t>(dragging_), SnapHz(std::clamp(at.x(), PlotRect().left(), PlotRect().right())));
    return true;
  }
  if (m->button() == Qt::LeftButton && dragging_ >= 0) {
    dragging_ = -1;
    StoreMarkers();
    return true;
  }
  if (m->button() == Qt::RightButton && rightOn_ >= 0) {
    const int k = rightOn_;
    rightOn_ = -1;
    if (MarkerAt(at) == k) OpenMarkerMenu(k, m->globalPosition().toPoint());
    return true;
  }
  return false;
}

bool TReadTheAir::eventFilter(QObject* watched, QEvent* event) {
  if (watched != &chart_) return false;
  if (MarkerMouse(event)) return true;
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
