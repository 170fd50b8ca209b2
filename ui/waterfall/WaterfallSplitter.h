// The right panel's split between the chart above and the waterfall below:
// the waterfall hidden until its action shows it (the panel is then the
// chart alone, as without a waterfall), the share of the height it takes,
// and the feed of finished sweeps into it.
#pragma once

#include <QSplitter>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

class QAction;

namespace wg {

class TChart;
class TChartSeries;
class TSweepEngine;
class TWaterfall;
class TWaterfallFeed;

class TWaterfallSplitter : public QSplitter {
  Q_OBJECT

 public:
  static constexpr double kDefaultShare = 0.4;

  // Takes the chart into its upper part.
  TWaterfallSplitter(TChart* chart, QWidget* parent);
  ~TWaterfallSplitter() override;

  TWaterfall* Waterfall() const { return waterfall_; }
  // "Waterfall", checkable, Ctrl+Shift+W, for the chart menu.
  QAction* Action() const { return action_; }

  bool WaterfallShown() const;
  // Hiding drops the history: a hidden waterfall holds no memory.
  void ShowWaterfall(bool shown);
  // The waterfall's part of the height, kept while it is hidden and applied
  // when it is shown.
  double Share() const { return share_; }
  void SetShare(double share);

  // A finished sweep, as drawn by the trace; ignored while hidden.
  void AddSweep(const double* x, const double* y, std::ptrdiff_t stride, std::size_t count,
                std::chrono::system_clock::time_point finished);

  // Feeds every finished sweep of the engine to the waterfall, as much of it
  // as the series holds (what the trace draws), reduced to its columns on a
  // thread of its own. Both must outlive the feed.
  void Follow(TSweepEngine& engine, const TChartSeries& series);

  // Told after the user showed or hid the waterfall or moved the split.
  std::function<void(bool shown)> OnShownChanged;
  std::function<void(double share)> OnShareChanged;

 protected:
  // The share holds as the window is resized.
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ApplyShare();

  TChart* chart_;
  TWaterfall* waterfall_;
  std::unique_ptr<TWaterfallFeed> feed_;
  QAction* action_;
  double share_ = kDefaultShare;
};

}  // namespace wg
