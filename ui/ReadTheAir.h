// Reading the air off the chart: the view reset, the cursor readout, the
// peak and fixed markers, and the trace modes, reached through the chart
// menu. With nothing chosen the window looks and acts as without them.
//
// The state a user sets here (mode, markers) reads and restores through the
// plain getters and setters below.
#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>

#include "app/Settings.h"
#include "sweep/TraceMode.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QActionGroup;
class QMenu;
class QPainter;

namespace wg {

class TChart;
class TChartMenu;
class TChartOverlay;
class TFastLineSeries;
class TSweepEngine;
struct Sweep;

class TReadTheAir : public QObject {
  Q_OBJECT

 public:
  // Reads `trace` off `chart` and sets the level computation of `sweep`; the
  // engine must outlive this object.
  TReadTheAir(TChart& chart, TFastLineSeries& trace, TSweepEngine& sweep, TChartMenu& menu);
  ~TReadTheAir() override;

  // Back to the scan range and -120 .. 25 dB, with every zoom undone.
  void ResetView();

  // ---- cursor readout ---------------------------------------------------------
  struct TReadout {
    bool Shown = false;  // the pointer is over the plot
    double Hz = 0;       // the frequency under the pointer
    double Db = 0;       // the level read there; NaN for none
    QString Text;
    QRect Rect;          // where the label is drawn, chart pixels
    QPoint ReadPoint;    // the trace point read (when there is a level)
  };
  // What the readout shows for a pointer at `pointer` (chart pixels), by
  // the layout of the chart's last drawing.
  TReadout ReadoutAt(QPoint pointer) const;

  // ---- markers -----------------------------------------------------------------
  static constexpr int kMaxFixedMarkers = static_cast<int>(TSettings::kMaxMarkers);
  struct TMarker {
    bool Peak = false;
    int Fixed = -1;  // its place in FixedMarkers(); -1 for the peak marker
    double Hz = 0;
    double Db = 0;  // NaN when nothing is measured there
    QString Name;   // "M1", "Peak"
    QString Text;   // name, frequency, level, and the difference to the first
    QString Label;  // what its label on the chart says: name, frequency, level
  };
  // The markers as they read now: the fixed ones in the order they were set,
  // then the peak marker when it is on (and the visible range holds a
  // measured point).
  std::vector<TMarker> Markers() const;

  bool PeakMarker() const { return peakMarker_; }
  void SetPeakMarker(bool on);
  // Fixed-frequency markers, Hz; more than four are cut to the first four.
  const std::vector<double>& FixedMarkers() const { return fixed_; }
  void SetFixedMarkers(std::vector<double> hz);
  // Adds one at the strongest measured point within kSnapPixels of a chart
  // pixel column inside the plot (at the column itself where nothing is
  // measured); false when the plot is not there or four are set already.
  bool AddFixedMarkerAt(QPoint pixel);
  static constexpr int kSnapPixels = 4;
  double SnapHz(int pixelX) const;
  void MoveFixedMarker(size_t k, double hz);
  void RemoveFixedMarker(size_t k);
  // Removes the peak marker and every fixed marker.
  void ClearMarkers();

  TChartOverlay* Overlay() const { return overlay_; }

  // Where the overlay draws, for a pointer at `pointer` (null: none): the
  // markers' tips and labels in Markers() order, the markers table (empty
  // without markers) and the readout. Labels keep clear of each other, the
  // table, the readout and the widgets on the chart (the editors).
  struct TLayout {
    std::vector<TMarker> markers;
    std::vector<QPoint> tips;
    std::vector<QRect> labels;
    QRect table;
    TReadout readout;
  };
  TLayout Layout(const QPoint* pointer) const;
  // The marker whose tip or label is at a chart pixel: its place in
  // Markers(), or -1.
  int MarkerAt(QPoint pixel) const;

  // A marker's own menu (right-click on it): "Delete marker", and the
  // entries below for each hook that is set, given the marker's frequency.
  QMenu* MarkerMenu() const { return markerMenu_; }
  void OpenMarkerMenu(int marker, QPoint globalPos);
  std::function<void(double hz)> OnListen;     // "Listen in gqrx"
  std::function<void(double hz)> OnCalibrate;  // "Calibrate: this signal is at … MHz"
  // Features that draw on the overlay tell where, for the labels to keep clear.
  std::function<QRect()> StripRect;
  // ---- trace modes ---------------------------------------------------------------
  TraceMode Mode() const { return mode_; }
  // Average restarts the sweep with the engine's averaging (a new sweep
  // from the scan start); peak hold starts an empty hold line.
  void SetMode(TraceMode mode);
  // The held line starts again from the next sweep.
  void ClearHold();
  // The held line's series while peak hold is on; null otherwise.
  TFastLineSeries* HoldSeries() const { return hold_; }
  // The window changed the scan range: what was held is for the old one.
  void ScanRangeChanged();
  // A recorded sweep on the chart instead of the live one (null: live
  // again): the held line of live maxima hides meanwhile, and Reset view
  // fits the recorded sweep's range.
  void ShowRecorded(const std::shared_ptr<const Sweep>& sweep);

  // Takes the remembered mode and markers (a mode given on the command line
  // overrides the remembered one for this run), and remembers every later
  // change in settings.
  void Remember(TSettings& settings, std::optional<TraceMode> forThisRun);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Paint(QPainter& p, const QPoint* pointer) const;
  void PaintTable(QPainter& p, const std::vector<TMarker>& markers, const QRect& table) const;
  std::vector<QRect> WidgetsOnChart() const;
  bool MarkerMouse(QEvent* event);
  QRect PlotRect() const;
  void Redraw();
  void OnSweep(const std::shared_ptr<const Sweep>& sweep);
  void StoreMarkers();

  TChart& chart_;
  TFastLineSeries& trace_;
  TSweepEngine& sweep_;
  TChartOverlay* overlay_ = nullptr;
  QAction* peakAction_ = nullptr;
  bool peakMarker_ = false;
  std::vector<double> fixed_;
  TraceMode mode_ = TraceMode::Live;
  QActionGroup* modeGroup_ = nullptr;
  // Owned by the chart while peak hold is on; it shows the maxima the
  // engine's worker folds into each sweep.
  TFastLineSeries* hold_ = nullptr;
  std::shared_ptr<const Sweep> recorded_;
  int listenerId_ = -1;
  TSettings* settings_ = nullptr;
  bool ctrlPressed_ = false;
  QPoint ctrlPressPos_;
  int dragging_ = -1;      // the fixed marker a left drag moves
  int rightOn_ = -1;       // the marker a right press began on
  QMenu* markerMenu_ = nullptr;
  TMarker menuMarker_;     // the marker the menu was opened for
};

}  // namespace wg
