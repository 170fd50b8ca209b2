// The signals panel: the signals found in the sweeps so far, live (a table
// of frequency, levels, SNR, bandwidth, occupancy, first and last seen),
// sortable; a click zooms the chart to a signal; Clear starts the table
// afresh; Export writes it as CSV; "Listen in gqrx" tunes a running gqrx to
// the chosen row, with the demodulator that suits its width (or to a marker,
// through ListenAt).
//
// The search runs on a thread of its own (sweep/SignalWatch) and only once
// the panel has first been opened: until then the window does as without it.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <memory>
#include <vector>

#include "sweep/SignalTable.h"

class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QTableView;

namespace wg {

class TChart;
class TChartMenu;
class TGqrxRemote;
class TSettings;
class TSignalWatch;
class TSignalsModel;
class TSweepEngine;

class TSignalsPanel : public QWidget {
  Q_OBJECT

 public:
  // A window of its own beside `window`; chart, engine and settings must
  // outlive it.
  TSignalsPanel(QWidget* window, TChart& chart, TSweepEngine& engine, TChartMenu& menu, TSettings& settings);
  ~TSignalsPanel() override;

  // Shows the panel (starting the search the first time) or hides it.
  void Open(bool shown);
  // The signals as the table holds them now, in frequency order.
  const std::vector<TSignal>& Signals() const { return signals_; }
  // Sweeps taken into the table so far.
  uint64_t Sweeps() const { return sweeps_; }
  // Waits at most `wait` for the sweeps handed over so far to be in the
  // table, and shows it; for tests and the export.
  bool Catchup(std::chrono::milliseconds wait);
  void Clear();
  bool ExportCsv(const QString& path);
  // Tunes gqrx to hz, with the demodulator that suits a signal as wide as
  // bandwidthHz (NaN: not known, the band decides); the outcome shows in the
  // panel's status line.
  void ListenAt(double hz, double bandwidthHz = NAN);
  // Zooms the chart to the signal in row `row` of the table as sorted.
  void ZoomToRow(int row);
  // The frequency of the selected row; NaN when none is.
  double SelectedHz() const;

  // Where the outcome of a tune goes too (the log pane).
  std::function<void(const std::string&)> Log;

  QTableView* Table() const { return table_; }
  QLabel* Status() const { return status_; }
  TGqrxRemote& Gqrx() const { return *gqrx_; }

 private:
  void Refresh();
  void ApplyGqrxAddress(const QString& text);
  const TSignal* Selected() const;

  TChart& chart_;
  TSweepEngine& engine_;
  TSettings& settings_;
  std::unique_ptr<TSignalWatch> watch_;
  int listenerId_ = -1;
  std::atomic<bool> refreshQueued_{false};
  std::vector<TSignal> signals_;
  uint64_t sweeps_ = 0;
  TSignalsModel* model_ = nullptr;
  QSortFilterProxyModel* sorted_ = nullptr;
  QTableView* table_ = nullptr;
  QLineEdit* gqrxAddress_ = nullptr;
  QLabel* status_ = nullptr;
  TGqrxRemote* gqrx_ = nullptr;
};

}  // namespace wg
