#include "ui/waterfall/Waterfall.h"

#include "chart/Chart.h"
#include "ui/TraceReadout.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace wg {
namespace {

constexpr int kBarWidth = 6;
constexpr int kBarGap = 4;  // between the bar and the plot frame
constexpr QRgb kFrameColour = 0xFF000000u;

// Automatic colours: the noise floor is the level this share of the visible
// columns stays below, and the first colour goes kAboveFloor dB above it, so
// that most of the noise is dark and anything standing out of it is not; the
// span is never narrower than kLeastSpan dB, so that a band of noise alone is
// not stretched over every colour. Each row moves the span kFollow of the
// way to its own, and the rows are drawn anew only once the span has moved
// kRedrawStep dB.
constexpr double kFloorShare = 0.25;
constexpr double kAboveFloor = 1;
constexpr double kLeastSpan = 20;
constexpr double kFollow = 0.25;
constexpr double kRedrawStep = 1;

QFont SmallFont(const QFont& base) {
  QFont f = base;
  f.setPixelSize(9);
  return f;
}

// The next label step of a 1-2-5 progression.
double NextStep(double s) {
  const double decade = std::pow(10.0, std::floor(std::log10(s)));
  const double m = s / decade;
  return (m < 1.5 ? 2 : m < 3.5 ? 5 : 10) * decade;
}

}  // namespace

TWaterfall::TWaterfall(TCustomChart* chart, QWidget* parent) : QWidget(parent), chart_(chart) {
  setObjectName(QStringLiteral("Waterfall1"));
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

bool TWaterfall::ChartReady() const {
  const TChartAxis* bottom = chart_->BottomAxis();
  return bottom->AxisLength > 0 && chart_->PlotRect().Width() > 1;
}

TWaterfall::View TWaterfall::CurrentView() const {
  View v;
  // Apart from the chart (not in one window) the two share their left edge.
  const QWidget* top = window();
  if (chart_->window() == top) v.dx = chart_->mapTo(top, QPoint(0, 0)).x() - mapTo(top, QPoint(0, 0)).x();
  // The trace is clipped to the inside of the plot frame.
  v.x0 = chart_->PlotRect().Left + 1;
  v.x1 = std::max(v.x0, chart_->PlotRect().Right);
  const TChartAxis* bottom = chart_->BottomAxis();
  v.startPixel = bottom->StartPixel;
  v.endPixel = bottom->EndPixel;
  v.minimum = bottom->EffectiveMinimum;
  v.maximum = bottom->EffectiveMaximum;
  v.inverted = bottom->Inverted();
  v.levelLow = chart_->LeftAxis()->EffectiveMinimum;
  v.levelHigh = chart_->LeftAxis()->EffectiveMaximum;
  v.height = height();
  return v;
}

void TWaterfall::SyncWithChart() {
  if (!ChartReady()) return;
  if (!dirty_ && CurrentView() == view_) return;
  dirty_ = true;
  update();
}

void TWaterfall::AddSweep(const double* x, const double* y, std::ptrdiff_t stride, std::size_t count,
                          Clock::time_point finished) {
  if (count == 0) return;
  RowAdded(history_.AddSweep(x, y, stride, count, finished));
}

void TWaterfall::AddReduced(TWaterfallHistory::Reduced row) {
  if (row.levels.empty()) return;
  RowAdded(history_.Add(std::move(row)));
}

void TWaterfall::SetColours(const ColourSpan& c) {
  if (c == colours_) return;
  colours_ = c;
  dirty_ = true;
  update();
}

std::pair<double, double> TWaterfall::ColourRange() const {
  if (colours_.kind == ColourSpan::Kind::Fixed) return {colours_.low, colours_.high};
  if (colours_.kind == ColourSpan::Kind::Automatic && followed_) return {autoLow_, autoHigh_};
  return {chart_->LeftAxis()->EffectiveMinimum, chart_->LeftAxis()->EffectiveMaximum};
}

// The levels as drawn: a pixel shows the strongest of the columns in it, so
// its noise lies higher than a column's.
void TWaterfall::FollowLevels(const TWaterfallHistory::Level* pixels, int count) {
  if (colours_.kind != ColourSpan::Kind::Automatic) return;
  visible_.clear();
  for (int i = 0; i < count; ++i)
    if (pixels[i] > TWaterfallHistory::kUntuned) visible_.push_back(pixels[i]);
  if (visible_.empty()) return;
  const auto floorAt = visible_.begin() + static_cast<std::ptrdiff_t>(kFloorShare * static_cast<double>(visible_.size() - 1));
  std::nth_element(visible_.begin(), floorAt, visible_.end());
  const double floor = TWaterfallHistory::Decode(*floorAt) + kAboveFloor;
  const double top = std::max(TWaterfallHistory::Decode(*std::max_element(floorAt, visible_.end())), floor + kLeastSpan);
  if (!followed_) {
    followed_ = true;
    autoLow_ = floor;
    autoHigh_ = top;
    dirty_ = true;
    return;
  }
  autoLow_ += kFollow * (floor - autoLow_);
  autoHigh_ += kFollow * (top - autoHigh_);
  if (std::fabs(autoLow_ - palette_.Low()) >= kRedrawStep || std::fabs(autoHigh_ - palette_.High()) >= kRedrawStep)
    dirty_ = true;
}

void TWaterfall::RowAdded(bool cleared) {
  // A new range's levels are its own.
  if (cleared) followed_ = false;
  // A new layout needs new spans; hidden or not yet laid out, the next paint
  // renders everything.
  if (cleared || history_.RowCount() == 1 || image_.isNull() || isHidden()) {
    dirty_ = true;
  } else if (fill_ && (stretched_ > 0 || history_.RowCount() < static_cast<std::size_t>(image_.height()))) {
    // Stretched rows all move when one comes: they are drawn anew, and the
    // colours follow the newest row as they do row by row.
    if (!dirty_) {
      const TWaterfallHistory::Level* newest = history_.Row(0);
      TWaterfallHistory::Level* levels = rowLevels_.data();
      spans_.Render(&newest, &levels, 1);
      FollowLevels(levels, image_.width());
    }
    dirty_ = true;
  } else if (!dirty_) {
    top_ = (top_ + image_.height() - 1) % image_.height();
    RenderRows(0, top_, 1);
    // RenderRows left the row's levels per pixel at the start of rowLevels_.
    FollowLevels(rowLevels_.data(), image_.width());
  }
  update();
}

void TWaterfall::SetFillHeight(bool fill) {
  if (fill == fill_) return;
  fill_ = fill;
  dirty_ = true;
  update();
}

std::size_t TWaterfall::AgeAt(int y) const {
  if (stretched_ == 0 || image_.height() <= 0) return static_cast<std::size_t>(y);
  return static_cast<std::size_t>(y) * stretched_ / static_cast<std::size_t>(image_.height());
}

void TWaterfall::Clear() {
  history_.Clear();
  followed_ = false;
  dirty_ = true;
  update();
}

void TWaterfall::RenderRows(std::size_t age, int imageRow, int count) {
  const int w = image_.width();
  const std::size_t held = history_.ColumnCount() > 0 ? history_.RowCount() : 0;
  while (count > 0) {
    const int n = std::min(count, kRowBlock);
    const TWaterfallHistory::Level* rows[kRowBlock];
    TWaterfallHistory::Level* outs[kRowBlock];
    int stored = 0;
    for (int r = 0; r < n && age + static_cast<std::size_t>(r) < held; ++r, ++stored) {
      rows[r] = history_.Row(age + static_cast<std::size_t>(r));
      outs[r] = rowLevels_.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(w);
    }
    if (stored > 0) spans_.Render(rows, outs, stored);
    for (int r = 0; r < n; ++r) {
      auto* line = reinterpret_cast<QRgb*>(image_.scanLine(imageRow + r));
      if (r >= stored) {
        std::fill(line, line + w, kWaterfallNoData);
        continue;
      }
      const TWaterfallHistory::Level* levels = outs[r];
      const TWaterfallRgb* colour = palette_.Codes();
      for (int i = 0; i < w; ++i) line[i] = colour[levels[i]];
    }
    age += static_cast<std::size_t>(n);
    imageRow += n;
    count -= n;
  }
}

void TWaterfall::RenderAll() {
  dirty_ = false;
  view_ = CurrentView();
  // No more image rows than the history can hold: a tall window must not
  // hold a screenful of rows that can never be drawn.
  const int w = view_.x1 - view_.x0;
  const int h = static_cast<int>(std::min<std::size_t>(std::max(0, view_.height), history_.RowLimit()));
  if (w <= 0 || h <= 0) {
    image_ = QImage();
    return;
  }
  if (image_.width() != w || image_.height() != h) image_ = QImage(w, h, QImage::Format_RGB32);
  rowLevels_.assign(static_cast<std::size_t>(w) * kRowBlock, TWaterfallHistory::kNoData);
  const TChartAxis* bottom = chart_->BottomAxis();
  const double scale = bottom->AxisLength / bottom->EffectiveRange, origin = bottom->EffectiveMinimum;
  const int start = bottom->Inverted() ? bottom->EndPixel : bottom->StartPixel, x0 = view_.x0, x1 = view_.x1;
  const double sign = bottom->Inverted() ? -1 : 1;
  // A plain rounding for the boundaries between columns, and the axis's own
  // for the points wherever the two could differ (near a half pixel), so
  // that a point lands where the trace draws it. Far outside the view the
  // axis would answer with its centre pixel: such columns are put beyond the
  // edge they lie past.
  auto nearPixel = [=](double f) {
    const double t = (f - origin) * scale * sign;
    if (!(std::fabs(t) < 1e8)) return t > 0 ? INT_MAX / 4 : INT_MIN / 4;
    return start + static_cast<int>(std::floor(t + 0.5));
  };
  auto toPixel = [=](double f) {
    const double t = (f - origin) * scale * sign;
    if (!(std::fabs(t) < 1e8)) return t > 0 ? INT_MAX / 4 : INT_MIN / 4;
    const double r = std::floor(t + 0.5);
    const int near = start + static_cast<int>(r);
    if (near < x0 - 2 || near > x1 + 2 || std::fabs(t - r) < 0.5 - 1e-6) return near;
    return bottom->ValueToPixel(f);
  };
  spans_.Compute(history_, toPixel, nearPixel, x0, x1);
  if (colours_.kind == ColourSpan::Kind::Automatic && !followed_ && history_.RowCount() > 0) {
    const TWaterfallHistory::Level* newest = history_.Row(0);
    TWaterfallHistory::Level* levels = rowLevels_.data();
    spans_.Render(&newest, &levels, 1);
    FollowLevels(levels, w);
    dirty_ = false;
  }
  const auto [low, high] = ColourRange();
  palette_.SetRange(low, high);
  top_ = 0;
  const std::size_t rows = history_.ColumnCount() > 0 ? history_.RowCount() : 0;
  stretched_ = fill_ && rows > 0 && rows < static_cast<std::size_t>(h) ? rows : 0;
  if (stretched_ == 0) {
    RenderRows(0, 0, h);
    return;
  }
  RenderRows(0, 0, static_cast<int>(rows));
  // From the bottom up each pixel row takes the row it shows, which lies at
  // or above it and is not overwritten yet.
  uchar* bits = image_.bits();
  const auto line = static_cast<std::size_t>(image_.bytesPerLine());
  for (int y = h - 1; y > 0; --y)
    if (const auto from = AgeAt(y); from != static_cast<std::size_t>(y))
      std::memcpy(bits + static_cast<std::size_t>(y) * line, bits + from * line, line);
}

std::size_t TWaterfall::MemoryBytes() const {
  return history_.MemoryBytes() + spans_.MemoryBytes() + palette_.MemoryBytes() +
         rowLevels_.capacity() * sizeof(TWaterfallHistory::Level) + static_cast<std::size_t>(image_.sizeInBytes()) +
         static_cast<std::size_t>(bar_.sizeInBytes());
}

void TWaterfall::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  dirty_ = true;
}

void TWaterfall::paintEvent(QPaintEvent* /*event*/) {
  QPainter p(this);
  if (ChartReady() && (dirty_ || CurrentView() != view_)) RenderAll();
  if (!ChartReady() || image_.isNull()) {
    p.fillRect(rect(), Qt::white);
    return;
  }
  const int left = DataLeft();
  const int h = image_.height();
  // White round the rows; the rows themselves are opaque. Below the rows the
  // history can hold there is no data, as in rows not yet swept.
  p.fillRect(QRect(0, 0, left - 1, height()), Qt::white);
  p.fillRect(QRect(DataRight() + 1, 0, width(), height()), Qt::white);
  if (h < height()) p.fillRect(QRect(left, h, image_.width(), height() - h), QColor::fromRgb(kWaterfallNoData));
  // The ring's newest row is drawn at the top, the rest below it in age order.
  p.drawImage(QPoint(left, 0), image_, QRect(0, top_, image_.width(), h - top_));
  if (top_ > 0) p.drawImage(QPoint(left, h - top_), image_, QRect(0, 0, image_.width(), top_));
  // The plot frame carried on from the chart above.
  p.setPen(QColor::fromRgb(kFrameColour));
  p.drawLine(left - 1, 0, left - 1, height() - 1);
  p.drawLine(DataRight(), 0, DataRight(), height() - 1);
  DrawColourBar(p);
  DrawReadout(p);
}

void TWaterfall::DrawColourBar(QPainter& p) {
  const int right = DataLeft() - 1 - kBarGap;
  const int left = right - kBarWidth;
  const int top = 2, bottom = height() - 3;
  const double lo = palette_.Low(), hi = palette_.High();
  if (left < 0 || bottom - top < 8 || !(hi > lo)) return;
  if (bar_.height() != bottom - top + 1) {
    const auto& scale = WaterfallScale();
    bar_ = QImage(kBarWidth, bottom - top + 1, QImage::Format_RGB32);
    for (int y = 0; y < bar_.height(); ++y) {
      const int i = static_cast<int>(255.0 * (bar_.height() - 1 - y) / (bar_.height() - 1) + 0.5);
      std::fill_n(reinterpret_cast<QRgb*>(bar_.scanLine(y)), kBarWidth, scale[static_cast<std::size_t>(i)]);
    }
  }
  p.drawImage(left, top, bar_);
  p.setFont(SmallFont(font()));
  const QFontMetrics fm(p.font());
  const int fit = std::max(1, (bottom - top) / (fm.height() * 2));
  double step = 1;
  while ((hi - lo) / step > fit) step = NextStep(step);
  p.setPen(QColor(0x80, 0x80, 0x80));
  for (double v = std::ceil(lo / step) * step; v <= hi + 1e-9; v += step) {
    const int y = bottom - static_cast<int>(std::lround((v - lo) / (hi - lo) * (bottom - top)));
    const QString text = QString::number(v, 'g', 6);
    const QRect r(0, y - fm.height() / 2, left - 2, fm.height());
    p.drawText(r, Qt::AlignRight | Qt::AlignVCenter, text);
  }
}

QString TWaterfall::ReadoutAt(QPoint at) const {
  if (dirty_ || image_.isNull()) return {};
  const int cx = at.x() - view_.dx;
  if (cx < view_.x0 || cx >= view_.x1 || at.y() < 0 || at.y() >= image_.height()) return {};
  const std::size_t age = AgeAt(at.y());
  if (age >= history_.RowCount()) return {};
  const double hz = chart_->BottomAxis()->PixelToValue(cx);
  const TWaterfallHistory::Level v = spans_.LevelAt(history_.Row(age), cx);
  const QString level = FormatDb(v > TWaterfallHistory::kUntuned ? TWaterfallHistory::Decode(v) : std::nan(""));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(history_.RowTime(age).time_since_epoch());
  const QString time = QDateTime::fromMSecsSinceEpoch(ms.count()).toString(QStringLiteral("HH:mm:ss.zzz"));
  return FormatMHz(hz) + QStringLiteral("  ") + level + QStringLiteral("  ") + time;
}

void TWaterfall::DrawReadout(QPainter& p) {
  const QString text = ReadoutAt(hover_);
  if (text.isEmpty()) return;
  p.setFont(SmallFont(font()));
  const QFontMetrics fm(p.font());
  QRect box(0, 0, fm.horizontalAdvance(text) + 8, fm.height() + 4);
  // Beside the pointer, never over the pixel read; inside the rows.
  box.moveTopLeft(hover_ + QPoint(12, 12));
  if (box.right() >= DataRight()) box.moveRight(hover_.x() - 12);
  if (box.bottom() >= height()) box.moveBottom(hover_.y() - 12);
  box.moveLeft(std::max(box.left(), DataLeft()));
  box.moveTop(std::max(box.top(), 0));
  p.fillRect(box, QColor(255, 255, 255, 230));
  p.setPen(Qt::black);
  p.drawRect(box.adjusted(0, 0, -1, -1));
  p.drawText(box, Qt::AlignCenter, text);
}

void TWaterfall::mouseMoveEvent(QMouseEvent* event) {
  hover_ = event->position().toPoint();
  update();
  QWidget::mouseMoveEvent(event);
}

void TWaterfall::leaveEvent(QEvent* event) {
  hover_ = {-1, -1};
  update();
  QWidget::leaveEvent(event);
}

}  // namespace wg
