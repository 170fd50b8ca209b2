#include "ui/SignalsPanel.h"

#include "app/Settings.h"
#include "chart/Chart.h"
#include "record/SignalsCsv.h"
#include "sweep/SignalWatch.h"
#include "sweep/SweepEngine.h"
#include "ui/ChartMenu.h"
#include "ui/GqrxRemote.h"
#include "ui/TraceReadout.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include <cmath>

namespace wg {

// The table's rows: the display text, and the number each column sorts by.
class TSignalsModel : public QAbstractTableModel {
 public:
  enum Column { Frequency, Peak, Mean, Snr, Bandwidth, Occupancy, FirstSeen, LastSeen, Columns };
  using QAbstractTableModel::QAbstractTableModel;

  void Set(const std::vector<TSignal>* list) {
    beginResetModel();
    signals_ = list;
    endResetModel();
  }
  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() || !signals_ ? 0 : static_cast<int>(signals_->size());
  }
  int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : Columns; }
  QVariant headerData(int section, Qt::Orientation o, int role) const override {
    static const char* const names[] = {"Frequency, MHz", "Peak, dB", "Mean, dB",  "SNR, dB",
                                        "Width, kHz",     "Occupancy, %", "First seen", "Last seen"};
    if (o != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= Columns) return {};
    return QString::fromLatin1(names[section]);
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!signals_ || !index.isValid() || static_cast<size_t>(index.row()) >= signals_->size()) return {};
    const TSignal& s = (*signals_)[static_cast<size_t>(index.row())];
    const auto seconds = [](std::chrono::system_clock::time_point t) {
      return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
    };
    const double value[] = {s.frequency, s.peakDb, s.meanDb, s.snrDb, s.bandwidth, s.OccupancyPercent(),
                            seconds(s.firstSeen), seconds(s.lastSeen)};
    const int c = index.column();
    if (role == Qt::UserRole) return value[c];
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return {};
    switch (c) {
      case Frequency: return QString::number(s.frequency / 1e6, 'f', 4);
      case Bandwidth: return QString::number(s.bandwidth / 1e3, 'f', 1);
      case Occupancy: return QString::number(s.OccupancyPercent(), 'f', 1);
      case FirstSeen:
      case LastSeen:
        return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(value[c])).toString(QStringLiteral("HH:mm:ss"));
      default: return QString::number(value[c], 'f', 1);
    }
  }

 private:
  const std::vector<TSignal>* signals_ = nullptr;
};

TSignalsPanel::TSignalsPanel(QWidget* window, TChart& chart, TSweepEngine& engine, TChartMenu& menu, TSettings& settings)
    : QWidget(window, Qt::Tool), chart_(chart), engine_(engine), settings_(settings) {
  setObjectName(QStringLiteral("SignalsPanel"));
  setWindowTitle(QStringLiteral("Signals"));
  resize(620, 300);
  gqrx_ = new TGqrxRemote(this);

  model_ = new TSignalsModel(this);
  model_->Set(&signals_);
  sorted_ = new QSortFilterProxyModel(this);
  sorted_->setSourceModel(model_);
  sorted_->setSortRole(Qt::UserRole);
  table_ = new QTableView(this);
  table_->setObjectName(QStringLiteral("SignalsTable"));
  table_->setModel(sorted_);
  table_->setSortingEnabled(true);
  table_->sortByColumn(TSignalsModel::Frequency, Qt::AscendingOrder);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  connect(table_, &QTableView::clicked, this, [this](const QModelIndex& i) { ZoomToRow(i.row()); });

  auto* clear = new QPushButton(QStringLiteral("Clear"), this);
  clear->setObjectName(QStringLiteral("signals-clear"));
  connect(clear, &QPushButton::clicked, this, [this] { Clear(); });
  auto* exportCsv = new QPushButton(QStringLiteral("Export CSV\u2026"), this);
  exportCsv->setObjectName(QStringLiteral("signals-export"));
  connect(exportCsv, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export signals"), QStringLiteral("signals.csv"),
                                                      QStringLiteral("CSV (*.csv)"));
    if (!path.isEmpty()) ExportCsv(path);
  });
  auto* listen = new QPushButton(QStringLiteral("Listen in gqrx"), this);
  listen->setObjectName(QStringLiteral("signals-listen"));
  connect(listen, &QPushButton::clicked, this, [this] {
    if (const TSignal* s = Selected()) ListenAt(s->frequency, s->bandwidth);
  });
  gqrxAddress_ = new QLineEdit(QString::fromStdString(settings.Values().gqrxAddress), this);
  gqrxAddress_->setObjectName(QStringLiteral("gqrx-address"));
  gqrxAddress_->setToolTip(QStringLiteral("gqrx remote control, host:port"));
  connect(gqrxAddress_, &QLineEdit::editingFinished, this, [this] { ApplyGqrxAddress(gqrxAddress_->text()); });
  ApplyGqrxAddress(gqrxAddress_->text());
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("signals-status"));
  connect(gqrx_, &TGqrxRemote::Done, this, [this](qint64 hz, const QString& mode, bool ok, const QString& detail) {
    const QString at = FormatMHz(static_cast<double>(hz));
    status_->setText(!ok            ? QStringLiteral("gqrx: ") + detail
                     : mode.isEmpty() ? QStringLiteral("gqrx tuned to ") + at
                                      : QStringLiteral("gqrx tuned to %1, %2").arg(at, mode));
    if (Log)
      Log((!ok            ? tr("gqrx не настроен на %1: %2").arg(at, detail)
           : mode.isEmpty() ? tr("gqrx настроен на %1").arg(at)
                            : tr("gqrx настроен на %1, демодулятор %2").arg(at, mode))
              .toStdString());
  });

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(clear);
  buttons->addWidget(exportCsv);
  buttons->addWidget(listen);
  buttons->addWidget(gqrxAddress_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_);
  layout->addLayout(buttons);
  layout->addWidget(status_);

  menu.AddEntry(QStringLiteral("Signals\u2026"), QKeySequence(QStringLiteral("Ctrl+Shift+S")), [this] {
        Open(!isVisible());
      })->setObjectName(QStringLiteral("signals-panel"));
}

TSignalsPanel::~TSignalsPanel() {
  if (listenerId_ >= 0) engine_.RemoveSweepListener(listenerId_);
  // No callback from the search thread once it is gone.
  watch_.reset();
}

void TSignalsPanel::Open(bool shown) {
  if (shown && !watch_) {
    watch_ = std::make_unique<TSignalWatch>([this] {
      // One refresh waits at a time, however fast the sweeps come.
      if (!refreshQueued_.exchange(true)) QMetaObject::invokeMethod(this, [this] { Refresh(); }, Qt::QueuedConnection);
    });
    listenerId_ = engine_.AddSweepListener([this](const SweepPtr& s) { watch_->Submit(SignalInputOf(s)); });
  }
  setVisible(shown);
  if (shown) raise();
}

void TSignalsPanel::Refresh() {
  refreshQueued_ = false;
  if (!watch_) return;
  const double selected = SelectedHz();
  const auto snapshot = watch_->Snapshot();
  signals_ = snapshot->found;
  sweeps_ = snapshot->sweeps;
  model_->Set(&signals_);
  // The row chosen stays chosen as the table follows the sweeps: its
  // frequency, an average of its sightings, may move a little.
  if (std::isfinite(selected)) {
    int nearest = -1;
    double best = 5e3;
    for (int r = 0; r < sorted_->rowCount(); ++r) {
      const double d = std::fabs(sorted_->index(r, 0).data(Qt::UserRole).toDouble() - selected);
      if (d <= best) nearest = r, best = d;
    }
    if (nearest >= 0) table_->selectRow(nearest);
  }
  if (status_->text().isEmpty() || status_->property("counts").toBool()) {
    status_->setText(QStringLiteral("%1 signals in %2 sweeps").arg(signals_.size()).arg(snapshot->sweeps));
    status_->setProperty("counts", true);
  }
}

bool TSignalsPanel::Catchup(std::chrono::milliseconds wait) {
  if (!watch_) return false;
  const bool idle = watch_->WaitIdle(wait);
  Refresh();
  return idle;
}

void TSignalsPanel::Clear() {
  if (watch_) watch_->Clear();
  signals_.clear();
  sweeps_ = 0;
  model_->Set(&signals_);
}

bool TSignalsPanel::ExportCsv(const QString& path) {
  Catchup(std::chrono::milliseconds(0));
  std::string error;
  const bool ok = WriteSignalsCsvFile(path.toLocal8Bit().toStdString(), signals_, &error);
  status_->setProperty("counts", false);
  status_->setText(ok ? QStringLiteral("%1 signals written to %2").arg(signals_.size()).arg(path)
                      : QStringLiteral("%1: %2").arg(path, QString::fromStdString(error)));
  return ok;
}

void TSignalsPanel::ListenAt(double hz, double bandwidthHz) {
  if (!std::isfinite(hz) || hz <= 0) return;
  status_->setProperty("counts", false);
  status_->setText(QStringLiteral("gqrx: tuning to ") + FormatMHz(hz) + QStringLiteral("\u2026"));
  gqrx_->Tune(static_cast<int64_t>(std::llround(hz)), TGqrxRemote::DemodulatorFor(hz, bandwidthHz));
}

void TSignalsPanel::ApplyGqrxAddress(const QString& text) {
  const QString t = text.trimmed();
  const qsizetype colon = t.lastIndexOf(QLatin1Char(':'));
  bool ok = false;
  const int port = colon > 0 ? t.mid(colon + 1).toInt(&ok) : 0;
  if (!ok || port < 1 || port > 65535) {
    // Back to the address in force.
    gqrxAddress_->setText(gqrx_->Host() + QLatin1Char(':') + QString::number(gqrx_->Port()));
    return;
  }
  gqrx_->SetAddress(t.left(colon), static_cast<quint16>(port));
  settings_.SetGqrxAddress(t.toStdString());
}

const TSignal* TSignalsPanel::Selected() const {
  const QModelIndexList rows = table_->selectionModel() ? table_->selectionModel()->selectedRows() : QModelIndexList{};
  if (rows.isEmpty()) return nullptr;
  const int row = sorted_->mapToSource(rows.front()).row();
  return row >= 0 && static_cast<size_t>(row) < signals_.size() ? &signals_[static_cast<size_t>(row)] : nullptr;
}

double TSignalsPanel::SelectedHz() const {
  const TSignal* s = Selected();
  return s ? s->frequency : NAN;
}

void TSignalsPanel::ZoomToRow(int row) {
  if (row < 0 || row >= sorted_->rowCount()) return;
  const QModelIndex source = sorted_->mapToSource(sorted_->index(row, 0));
  const TSignal& s = signals_[static_cast<size_t>(source.row())];
  // The signal and as much again either side, at least 25 kHz each way.
  const double half = std::max(1.5 * s.bandwidth, 25e3);
  chart_.BottomAxis()->SetRange(s.frequency - half, s.frequency + half);
}

}  // namespace wg
