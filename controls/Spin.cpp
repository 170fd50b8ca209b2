#include "controls/Spin.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QtWidgets/qdrawutil.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>

// Qt's resource initialiser lives in the global namespace; calling it pulls
// the glyphs into programs that link this static library.
static void InitSpinGlyphResources() { Q_INIT_RESOURCE(SpinGlyphs); }

namespace wg {
namespace {

void PrintException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Wideglass: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Wideglass: unknown exception\n");
  }
}

std::atomic<TExceptionSink> g_exceptionSink{&PrintException};

QImage LoadGlyph(const char* path) {
  static std::once_flag once;
  std::call_once(once, InitSpinGlyphResources);
  return QImage(QString::fromLatin1(path));
}

bool CanFocus(const QWidget* w) { return w->isVisible() && w->isEnabled(); }

// The image with the glyph's transparent colour (its bottom-left pixel)
// knocked out.
QImage Transparent(const QImage& img) {
  QImage out = img.convertToFormat(QImage::Format_ARGB32);
  if (out.isNull()) return out;
  const QRgb key = out.pixel(0, out.height() - 1);
  for (int y = 0; y < out.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x)
      if (line[x] == key) line[x] = qRgba(0, 0, 0, 0);
  }
  return out;
}

// A grey glyph with a white shadow, for a disabled button whose bitmap has
// no image of its own for that state.
QImage Embossed(const QImage& glyph, const QPalette& pal) {
  QImage out(glyph.width() + 1, glyph.height() + 1, QImage::Format_ARGB32);
  out.fill(Qt::transparent);
  const QRgb light = pal.color(QPalette::Light).rgb();
  const QRgb shadow = pal.color(QPalette::Dark).rgb();
  for (int pass = 0; pass < 2; ++pass) {
    const int d = pass == 0 ? 1 : 0;
    for (int y = 0; y < glyph.height(); ++y)
      for (int x = 0; x < glyph.width(); ++x)
        if (qAlpha(glyph.pixel(x, y)) != 0) out.setPixel(x + d, y + d, pass == 0 ? light : shadow);
  }
  return out;
}

// Dotted rectangle of alternate pixels, like the platform's focus mark.
void DrawFocusRect(QPainter& p, const QRect& r, const QColor& color) {
  if (r.width() <= 0 || r.height() <= 0) return;
  p.setPen(color);
  auto dot = [&](int x, int y) {
    if (((x + y) & 1) == 0) p.drawPoint(x, y);
  };
  for (int x = r.left(); x <= r.right(); ++x) {
    dot(x, r.top());
    dot(x, r.bottom());
  }
  for (int y = r.top(); y <= r.bottom(); ++y) {
    dot(r.left(), y);
    dot(r.right(), y);
  }
}

}  // namespace

void SetExceptionSink(TExceptionSink sink) { g_exceptionSink.store(sink ? sink : &PrintException); }

void HandleException(std::exception_ptr error) {
  if (error) g_exceptionSink.load()(error);
}

// ---------------------------------------------------------------------------

TTimerSpeedButton::TTimerSpeedButton(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::NoFocus);
}

TTimerSpeedButton::~TTimerSpeedButton() = default;  // the timer is a child

void TTimerSpeedButton::SetRepeatState(TTimeBtnStates state) {
  if (state == repeatState_) return;
  repeatState_ = state;
  update();
}

void TTimerSpeedButton::SetGlyph(const QImage& glyph) {
  glyph_ = glyph;
  update();
}

void TTimerSpeedButton::SetNumGlyphs(int n) {
  n = std::clamp(n, 1, 4);
  if (n == numGlyphs_) return;
  numGlyphs_ = n;
  update();
}

void TTimerSpeedButton::Click() {
  const TSenderEvent handler = OnClick;  // the handler may reassign OnClick
  if (handler) handler(this);
}

void TTimerSpeedButton::RepeatTimerExpired() {
  if (!repeatTimer_) return;
  repeatTimer_->setInterval(kRepeatIntervalMs);
  if (!(isDown() && captured_)) return;
  QPointer<QTimer> timer(repeatTimer_);
  try {
    Click();
  } catch (...) {
    // A failing handler must not be called again every 100 ms.
    if (timer) timer->stop();
    throw;
  }
}

bool TTimerSpeedButton::hitButton(const QPoint& pos) const {
  // The bottom edge counts as inside, as it always has for these buttons.
  return pos.x() >= 0 && pos.x() < width() && pos.y() >= 0 && pos.y() <= height();
}

void TTimerSpeedButton::mousePressEvent(QMouseEvent* e) {
  e->accept();
  QPointer<TTimerSpeedButton> self(this);
  const TMouseEvent handler = OnMouseDown;
  if (handler) {
    try {
      handler(this, e->button(), e->modifiers(), e->position().toPoint());
    } catch (...) {
      HandleException(std::current_exception());
      return;
    }
    if (!self) return;
  }
  if (e->button() == Qt::LeftButton && isEnabled()) {
    captured_ = true;
    setDown(true);
  }
  if (repeatState_ & AllowRepeat) {
    if (!repeatTimer_) {
      repeatTimer_ = new QTimer(this);
      repeatTimer_->setTimerType(Qt::PreciseTimer);
      connect(repeatTimer_, &QTimer::timeout, this, [this] {
        try {
          RepeatTimerExpired();
        } catch (...) {
          HandleException(std::current_exception());
        }
      });
    }
    repeatTimer_->setInterval(kRepeatFirstDelayMs);
    repeatTimer_->start();
  }
}

void TTimerSpeedButton::mouseDoubleClickEvent(QMouseEvent* e) {
  // The second press of a double click is a press like any other.
  mousePressEvent(e);
}

void TTimerSpeedButton::mouseMoveEvent(QMouseEvent* e) {
  e->accept();
  if (!captured_) return;
  const bool inside = hitButton(e->position().toPoint());
  if (inside != isDown()) setDown(inside);
}

void TTimerSpeedButton::mouseReleaseEvent(QMouseEvent* e) {
  e->accept();
  bool click = false;
  if (e->button() == Qt::LeftButton && captured_) {
    captured_ = false;
    click = hitButton(e->position().toPoint());
    setDown(false);
  }
  QPointer<QTimer> timer(repeatTimer_);
  if (click) {
    try {
      Click();
    } catch (...) {
      // Stop first: a timer left running would outlive the gesture.
      if (timer) timer->stop();
      HandleException(std::current_exception());
      return;
    }
  }
  if (timer) timer->stop();
}

void TTimerSpeedButton::LoseCapture() {
  captured_ = false;
  if (isDown()) setDown(false);
  if (repeatTimer_) repeatTimer_->stop();
}

void TTimerSpeedButton::changeEvent(QEvent* e) {
  // A release that will never come (the window lost the mouse, the button
  // was disabled) must not leave the button repeating.
  if (e->type() == QEvent::EnabledChange && !isEnabled()) LoseCapture();
  if (e->type() == QEvent::ActivationChange && window() && !window()->isActiveWindow() &&
      captured_)
    LoseCapture();
  QAbstractButton::changeEvent(e);
}

void TTimerSpeedButton::hideEvent(QHideEvent* e) {
  LoseCapture();
  QAbstractButton::hideEvent(e);
}

bool TTimerSpeedButton::event(QEvent* e) {
  if (e->type() == QEvent::UngrabMouse) LoseCapture();
  return QAbstractButton::event(e);
}

QPixmap TTimerSpeedButton::FacePixmap() const {
  if (glyph_.isNull()) return {};
  const int n = numGlyphs_;
  const int w = glyph_.width() / n;
  if (w <= 0) return {};
  int index = 0;
  bool emboss = false;
  if (!isEnabled()) {
    if (n >= 2)
      index = 1;
    else
      emboss = true;
  } else if (isDown() && n >= 3) {
    index = 2;
  }
  QImage img = Transparent(glyph_.copy(index * w, 0, w, glyph_.height()));
  if (emboss) img = Embossed(img, palette());
  return QPixmap::fromImage(img);
}

void TTimerSpeedButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QBrush face = palette().brush(QPalette::Button);
  qDrawWinButton(&p, rect(), palette(), isDown(), &face);
  const int shift = isDown() ? 1 : 0;
  const QPixmap pm = FacePixmap();
  if (!pm.isNull()) {
    const int x = (width() - pm.width() + 1) / 2 + shift;
    const int y = (height() - pm.height() + 1) / 2 + shift;
    p.drawPixmap(x, y, pm);
  }
  if (repeatState_ & ShowFocusRect) {
    QRect r = rect().adjusted(3, 3, -3, -3);
    r.translate(shift, shift);
    DrawFocusRect(p, r, palette().color(QPalette::ButtonText));
  }
}

// ---------------------------------------------------------------------------

QImage TSpinButton::DefaultUpGlyph() { return LoadGlyph(":/wg/controls/SpinUp.bmp"); }
QImage TSpinButton::DefaultDownGlyph() { return LoadGlyph(":/wg/controls/SpinDown.bmp"); }

TSpinButton::TSpinButton(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  setAutoFillBackground(true);
  setCursor(Qt::ArrowCursor);
  setMinimumWidth(kMinWidth);
  up_ = new TTimerSpeedButton(this);
  down_ = new TTimerSpeedButton(this);
  for (TTimerSpeedButton* half : {up_, down_}) {
    half->SetRepeatState(TTimerSpeedButton::AllowRepeat);
    half->OnClick = [this, half](QObject*) { HalfClick(half); };
    half->OnMouseDown = [this, half](QObject*, Qt::MouseButton button, Qt::KeyboardModifiers,
                                     QPoint) { HalfMouseDown(half, button); };
    half->show();
  }
  up_->SetGlyph(DefaultUpGlyph());
  down_->SetGlyph(DefaultDownGlyph());
  focused_ = up_;
  SetBounds(0, 0, 20, 25);
}

TSpinButton::~TSpinButton() = default;

void TSpinButton::SetUpGlyph(const QImage& glyph) {
  up_->SetGlyph(glyph.isNull() ? DefaultUpGlyph() : glyph);
}

void TSpinButton::SetDownGlyph(const QImage& glyph) {
  down_->SetGlyph(glyph.isNull() ? DefaultDownGlyph() : glyph);
}

void TSpinButton::SetTabStop(bool on) {
  tabStop_ = on;
  // Tab only: a click reaches the focus through the press handling below.
  setFocusPolicy(on ? Qt::TabFocus : Qt::NoFocus);
}

void TSpinButton::SetBounds(int left, int top, int width, int height) {
  width = std::max(width, kMinWidth);
  setGeometry(left, top, width, height);
  LayoutHalves(width, height);
}

void TSpinButton::LayoutHalves(int width, int height) {
  width = std::max(width, kMinWidth);
  const int upHeight = height / 2;
  // The halves share one row so that their bevels meet in a single line.
  up_->setGeometry(0, 0, width, upHeight);
  down_->setGeometry(0, upHeight - 1, width, height - upHeight + 1);
}

void TSpinButton::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  LayoutHalves(this->width(), this->height());
}

void TSpinButton::FocusButton(TTimerSpeedButton* button) {
  if (!button || !tabStop_ || !CanFocus(this) || button == focused_) return;
  focused_->SetRepeatState(focused_->RepeatState() & ~TTimerSpeedButton::ShowFocusRect);
  focused_ = button;
  if (hasFocus()) {
    focused_->SetRepeatState(focused_->RepeatState() | TTimerSpeedButton::ShowFocusRect);
    update();
  }
}

void TSpinButton::HalfMouseDown(TTimerSpeedButton* half, Qt::MouseButton button) {
  if (button != Qt::LeftButton) return;
  FocusButton(half);
  QWidget* control = focusControl_;
  if (control && (control->focusPolicy() & Qt::TabFocus) && CanFocus(control) &&
      QApplication::focusWidget() != control) {
    control->setFocus(Qt::MouseFocusReason);
    return;
  }
  if (tabStop_ && !hasFocus() && CanFocus(this)) setFocus(Qt::MouseFocusReason);
}

void TSpinButton::HalfClick(TTimerSpeedButton* half) {
  const TSenderEvent handler = half == up_ ? OnUpClick : OnDownClick;
  if (handler) handler(this);
}

void TSpinButton::keyPressEvent(QKeyEvent* e) {
  TTimerSpeedButton* target = nullptr;
  switch (e->key()) {
    case Qt::Key_Space:
      target = focused_;
      break;
    case Qt::Key_Up:
      FocusButton(up_);
      target = up_;
      break;
    case Qt::Key_Down:
      FocusButton(down_);
      target = down_;
      break;
    default:
      QWidget::keyPressEvent(e);
      return;
  }
  e->accept();
  try {
    target->Click();
  } catch (...) {
    HandleException(std::current_exception());
  }
}

void TSpinButton::SetFocusMark(bool on) {
  auto state = focused_->RepeatState();
  if (on)
    state |= TTimerSpeedButton::ShowFocusRect;
  else
    state &= ~TTimerSpeedButton::ShowFocusRect;
  focused_->SetRepeatState(state);
  focused_->update();
}

void TSpinButton::focusInEvent(QFocusEvent* e) {
  SetFocusMark(true);
  QWidget::focusInEvent(e);
}

void TSpinButton::focusOutEvent(QFocusEvent* e) {
  SetFocusMark(false);
  QWidget::focusOutEvent(e);
}

}  // namespace wg
