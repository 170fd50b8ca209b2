// One-line numeric editor for a floating-point value with an up/down button
// pair at its right edge. The value lives in the text: reading Value parses
// it, writing Value clamps and formats into it, and every change of the text
// raises OnChange.
#pragma once

#include "controls/Spin.h"

#include <QLineEdit>
#include <QString>

#include <exception>

class QMenu;

namespace wg {

class TSpinEditDouble : public QLineEdit {
  Q_OBJECT

 public:
  explicit TSpinEditDouble(QWidget* parent = nullptr);
  ~TSpinEditDouble() override;

  // The parsed text, or MinValue when the text is not a number. Never
  // clamps, never touches the text.
  double Value() const;
  // Whether the text reads as a number, so that Value is what it says.
  bool HoldsNumber() const;
  // Clamps, then writes the shortest 15-digit form. Raises OnChange (and
  // lets its exceptions through) only when the text changes.
  void SetValue(double value);

  double MinValue() const { return minValue_; }
  void SetMinValue(double v) { minValue_ = v; }
  // Equal limits mean no limit at all.
  double MaxValue() const { return maxValue_; }
  void SetMaxValue(double v) { maxValue_ = v; }
  double Increment() const { return increment_; }
  void SetIncrement(double v) { increment_ = v; }
  double ClampValue(double v) const;

  // Off: the text cannot be typed into, cut or pasted; the buttons still
  // step.
  bool EditorEnabled() const { return editorEnabled_; }
  void SetEditorEnabled(bool on) { editorEnabled_ = on; }
  bool ReadOnly() const { return isReadOnly(); }
  void SetReadOnly(bool on) { setReadOnly(on); }
  // Select the whole text when the focus comes other than by a left press
  // in the text.
  bool AutoSelect() const { return autoSelect_; }
  void SetAutoSelect(bool on) { autoSelect_ = on; }
  // On: a sunken two-pixel border; off: a one-pixel line.
  bool Ctl3D() const { return ctl3D_; }
  void SetCtl3D(bool on);

  // Background and text colours.
  void SetColor(const QColor& c);
  void SetFontColor(const QColor& c);
  // Stored for whoever shows hints; the editor itself shows none.
  QString Hint() const { return hint_; }
  void SetHint(const QString& text) { hint_ = text; }

  // Value +/- Increment, read back from the text each time; beeps instead
  // while ReadOnly.
  void StepUp();
  void StepDown();

  // Whether a typed character (its code) may go into the text.
  bool AcceptsChar(char32_t c) const;

  // Clipboard operations under the editor's rules.
  void Cut();
  void Paste();

  int MinimumHeight() const;
  // Keeps the text clear of the button pair.
  void FitTextArea();
  // Border width in pixels: 2 with Ctl3D, 1 without.
  int BorderWidth() const { return ctl3D_ ? 2 : 1; }

  TSpinButton* Button() const { return button_; }

  // The editing menu, with the entries the editor's rules forbid turned
  // off. Owned by the editor until the caller takes it.
  QMenu* CreateContextMenu();

  TSenderEvent OnChange;
  // Enter was pressed, or the focus left for another control (after the
  // clamp of a number beyond the limits): the user is done with the text.
  TSenderEvent OnEditingDone;

  // True while the text changes by the user's own editing (typed keys,
  // paste, cut, undo, the input method), not by a step or a write of Value.
  bool Typing() const { return typingDepth_ > 0; }

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void inputMethodEvent(QInputMethodEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  friend class TextChangeScope;
  friend class TypingScope;

  bool CanCutPaste() const { return editorEnabled_ && !isReadOnly(); }
  void TextChanged();
  void PlaceButton();
  void UpdateMinimumHeight();
  void RefuseChar();
  void KeyPress(QKeyEvent* e);
  void EditingDone();

  TSpinButton* button_ = nullptr;
  double minValue_ = 0;
  double maxValue_ = 0;
  double increment_ = 1.0;
  bool editorEnabled_ = true;
  bool autoSelect_ = true;
  bool ctl3D_ = true;
  QString hint_;
  // Focus came by a mouse press; the whole text is selected unless that
  // press turns out to be a left press in the text itself.
  bool mouseFocusPending_ = false;
  // OnChange runs inside the text control's own signal, which cannot carry
  // an exception: it is parked here and raised again once the text control
  // has returned (scopeDepth_ > 0), or handed to the exception sink.
  int scopeDepth_ = 0;
  std::exception_ptr parkedError_;
  int typingDepth_ = 0;
};

}  // namespace wg
