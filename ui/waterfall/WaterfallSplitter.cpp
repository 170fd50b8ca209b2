#include "ui/waterfall/WaterfallSplitter.h"

#include "chart/Chart.h"
#include "sweep/SweepEngine.h"
#include "ui/waterfall/Waterfall.h"
#include "ui/waterfall/WaterfallFeed.h"

#include <QAction>

#include <algorithm>
#include <cmath>

namespace wg {

TWaterfallSplitter::TWaterfallSplitter(TChart* chart, QWidget* parent)
    : QSplitter(Qt::Vertical, parent), chart_(chart) {
  setObjectName(QStringLiteral("Splitter1"));
  setChildrenCollapsible(false);
  addWidget(chart);
  waterfall_ = new TWaterfall(chart, this);
  addWidget(waterfall_);
  waterfall_->hide();
  feed_ = std::make_unique<TWaterfallFeed>(this, [this](TWaterfallHistory::Reduced row) {
    if (WaterfallShown()) waterfall_->AddReduced(std::move(row));
  });
  // The waterfall follows every drawing of the chart (zoom, scroll, range,
  // levels); a handler already there keeps running first.
  chart->OnAfterDraw = [previous = chart->OnAfterDraw, w = waterfall_] {
    if (previous) previous();
    w->SyncWithChart();
  };

  action_ = new QAction(QStringLiteral("Waterfall"), this);
  action_->setObjectName(QStringLiteral("waterfall"));
  action_->setCheckable(true);
  action_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_W));
  action_->setShortcutVisibleInContextMenu(true);
  connect(action_, &QAction::toggled, this, [this](bool on) {
    ShowWaterfall(on);
    if (OnShownChanged) OnShownChanged(on);
  });
  connect(this, &QSplitter::splitterMoved, this, [this] {
    const int total = sizes().value(0) + sizes().value(1);
    if (total <= 0 || !WaterfallShown()) return;
    share_ = static_cast<double>(sizes().value(1)) / total;
    if (OnShareChanged) OnShareChanged(share_);
  });
}

TWaterfallSplitter::~TWaterfallSplitter() = default;

bool TWaterfallSplitter::WaterfallShown() const { return !waterfall_->isHidden(); }

void TWaterfallSplitter::ShowWaterfall(bool shown) {
  if (action_->isChecked() != shown) {
    const QSignalBlocker quiet(action_);
    action_->setChecked(shown);
  }
  if (WaterfallShown() == shown) return;
  if (!shown) {
    feed_->Drop();
    waterfall_->Clear();
  }
  waterfall_->setVisible(shown);
  if (shown) ApplyShare();
}

void TWaterfallSplitter::SetShare(double share) {
  if (!(share > 0.0 && share < 1.0)) return;
  share_ = share;
  if (WaterfallShown()) ApplyShare();
}

void TWaterfallSplitter::ApplyShare() {
  const int total = std::max(0, height() - handleWidth());
  const int lower = static_cast<int>(std::lround(total * share_));
  setSizes({total - lower, lower});
}

void TWaterfallSplitter::resizeEvent(QResizeEvent* event) {
  QSplitter::resizeEvent(event);
  if (WaterfallShown()) ApplyShare();
}

void TWaterfallSplitter::AddSweep(const double* x, const double* y, std::ptrdiff_t stride, std::size_t count,
                                  std::chrono::system_clock::time_point finished) {
  if (WaterfallShown()) waterfall_->AddSweep(x, y, stride, count, finished);
}

}  // namespace wg

namespace wg {

void TWaterfallSplitter::Follow(TSweepEngine& engine, const TChartSeries& series) {
  engine.AddSweepListener([this, &series](const SweepPtr& sweep) {
    if (!WaterfallShown()) return;
    const std::size_t shown = std::min(sweep->PointCount(), static_cast<std::size_t>(std::max(0, series.PointCount())));
    if (shown > 0) feed_->Add(sweep, shown);
  });
}

}  // namespace wg
