// A transparent layer over the chart that draws the cursor readout and the
// markers on the window, after the chart has drawn its image: the chart's
// image itself never holds them. It takes no mouse input.
#pragma once

#include <QPoint>
#include <QWidget>

#include <functional>
#include <vector>

namespace wg {

class TChartOverlay : public QWidget {
  Q_OBJECT

 public:
  // Painter of the layer's content, run after each chart paint; the
  // pointer position is given while it is over the chart.
  using PaintFn = std::function<void(QPainter&, const QPoint* pointer)>;

  TChartOverlay(QWidget* chart, PaintFn paint);
  ~TChartOverlay() override;

  // Another painter, run after the first and those added before it.
  void AddPainter(PaintFn paint);

  // The pointer over the chart, in chart pixels; null when it is elsewhere.
  const QPoint* Pointer() const { return hasPointer_ ? &pointer_ : nullptr; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QWidget* chart_;
  std::vector<PaintFn> paint_;
  QPoint pointer_;
  bool hasPointer_ = false;
};

}  // namespace wg
