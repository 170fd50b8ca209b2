// The up/down button pair that sits at the right edge of a numeric editor.
// Each half is a flat push button that keeps clicking by itself while it is
// held down (TTimerSpeedButton); TSpinButton stacks two of them and reports
// their clicks as OnUpClick and OnDownClick.
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <exception>
#include <functional>

class QTimer;

namespace wg {

// Event handler taking the control that raised the event.
using TSenderEvent = std::function<void(QObject* sender)>;
using TMouseEvent = std::function<void(QObject* sender, Qt::MouseButton button,
                                       Qt::KeyboardModifiers shift, QPoint pos)>;

// The event loop cannot carry a C++ exception, so an exception raised by an
// event handler ends where the toolkit called us: it is handed to this sink.
// The default prints the message on stderr and the program carries on; the
// window may route it elsewhere. nullptr restores the default.
using TExceptionSink = void (*)(std::exception_ptr);
void SetExceptionSink(TExceptionSink sink);
void HandleException(std::exception_ptr error);

// Auto-repeat intervals of a held spin button.
inline constexpr int kRepeatFirstDelayMs = 400;
inline constexpr int kRepeatIntervalMs = 100;

class TTimerSpeedButton : public QAbstractButton {
  Q_OBJECT

 public:
  enum TTimeBtnState : unsigned {
    ShowFocusRect = 1u << 0,  // draw the dotted focus rectangle on the face
    AllowRepeat = 1u << 1,    // keep clicking while held
  };
  using TTimeBtnStates = unsigned;

  explicit TTimerSpeedButton(QWidget* parent = nullptr);
  ~TTimerSpeedButton() override;

  TTimeBtnStates RepeatState() const { return repeatState_; }
  void SetRepeatState(TTimeBtnStates state);

  // Null until the first press.
  QTimer* RepeatTimer() const { return repeatTimer_; }
  // Expiry of RepeatTimer. Rethrows what the click raised, after stopping
  // the timer.
  void RepeatTimerExpired();

  // Raises OnClick. Exceptions from the handler propagate.
  void Click();

  // Whether the face shows pressed, and whether the left button press that
  // pressed it is still being tracked (released neither by the user nor by
  // the window losing the mouse).
  bool Pressed() const { return isDown(); }
  bool HasMouseCapture() const { return captured_; }

  // Glyph bitmap: NumGlyphs images side by side (up, disabled, down); the
  // colour of its bottom-left pixel is transparent.
  QImage Glyph() const { return glyph_; }
  void SetGlyph(const QImage& glyph);
  int NumGlyphs() const { return numGlyphs_; }
  void SetNumGlyphs(int n);

  TSenderEvent OnClick;
  TMouseEvent OnMouseDown;

  QSize sizeHint() const override { return {15, 9}; }

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void changeEvent(QEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  bool event(QEvent* e) override;
  bool hitButton(const QPoint& pos) const override;

 private:
  void LoseCapture();
  QPixmap FacePixmap() const;

  QTimer* repeatTimer_ = nullptr;
  TTimeBtnStates repeatState_ = 0;
  bool captured_ = false;
  QImage glyph_;
  int numGlyphs_ = 1;
};

class TSpinButton : public QWidget {
  Q_OBJECT

 public:
  explicit TSpinButton(QWidget* parent = nullptr);
  ~TSpinButton() override;

  TTimerSpeedButton* UpButton() const { return up_; }
  TTimerSpeedButton* DownButton() const { return down_; }
  TTimerSpeedButton* FocusedButton() const { return focused_; }

  // Moves the focus mark to Button (only when the spin button itself is a
  // tab stop that can take the focus).
  void FocusButton(TTimerSpeedButton* button);

  // The control that takes the keyboard focus when a half is pressed; not
  // owned, and forgotten when it is destroyed.
  QWidget* FocusControl() const { return focusControl_; }
  void SetFocusControl(QWidget* control) { focusControl_ = control; }

  bool TabStop() const { return tabStop_; }
  void SetTabStop(bool on);

  QImage UpGlyph() const { return up_->Glyph(); }
  void SetUpGlyph(const QImage& glyph);  // a null image restores "SpinUp"
  QImage DownGlyph() const { return down_->Glyph(); }
  void SetDownGlyph(const QImage& glyph);  // a null image restores "SpinDown"
  int UpNumGlyphs() const { return up_->NumGlyphs(); }
  void SetUpNumGlyphs(int n) { up_->SetNumGlyphs(n); }
  int DownNumGlyphs() const { return down_->NumGlyphs(); }
  void SetDownNumGlyphs(int n) { down_->SetNumGlyphs(n); }

  // Moves and resizes in one step through the layout rule, and lays the
  // halves out at once (a hidden widget's resize event waits for show).
  void SetBounds(int left, int top, int width, int height);

  TSenderEvent OnUpClick;
  TSenderEvent OnDownClick;

  // The built-in glyphs "SpinUp" and "SpinDown".
  static QImage DefaultUpGlyph();
  static QImage DefaultDownGlyph();

  static constexpr int kMinWidth = 15;

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  void LayoutHalves(int width, int height);
  void HalfMouseDown(TTimerSpeedButton* half, Qt::MouseButton button);
  void HalfClick(TTimerSpeedButton* half);
  void SetFocusMark(bool on);

  TTimerSpeedButton* up_ = nullptr;
  TTimerSpeedButton* down_ = nullptr;
  TTimerSpeedButton* focused_ = nullptr;
  QPointer<QWidget> focusControl_;
  bool tabStop_ = false;
};

}  // namespace wg
