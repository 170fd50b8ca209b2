#include "controls/SpinDouble.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QFontMetrics>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QtWidgets/qdrawutil.h>

#include <algorithm>
#include <functional>
#include <utility>

#include "runtime/Beep.h"
#include "runtime/NumText.h"

namespace wg {

// Opens a stretch in which the text control may change the text; an
// exception OnChange raised meanwhile is parked and comes out of Raise().
class TextChangeScope {
 public:
  explicit TextChangeScope(TSpinEditDouble& editor) : editor_(&editor) { ++editor.scopeDepth_; }
  ~TextChangeScope() {
    if (editor_) --editor_->scopeDepth_;
  }
  TextChangeScope(const TextChangeScope&) = delete;
  TextChangeScope& operator=(const TextChangeScope&) = delete;

  void Raise() {
    if (!editor_) return;
    if (std::exception_ptr e = std::exchange(editor_->parkedError_, nullptr))
      std::rethrow_exception(e);
  }

 private:
  QPointer<TSpinEditDouble> editor_;
};

// Marks a stretch in which text changes are the user's own editing.
class TypingScope {
 public:
  explicit TypingScope(TSpinEditDouble& editor) : editor_(&editor) { ++editor.typingDepth_; }
  ~TypingScope() {
    if (editor_) --editor_->typingDepth_;
  }
  TypingScope(const TypingScope&) = delete;
  TypingScope& operator=(const TypingScope&) = delete;

 private:
  QPointer<TSpinEditDouble> editor_;
};

namespace {

// Platform border height in pixels.
constexpr int kBorderHeight = 1;

bool MatchesAny(QKeyEvent* e, std::initializer_list<QKeySequence::StandardKey> keys) {
  return std::any_of(keys.begin(), keys.end(), [e](auto k) { return e->matches(k); });
}

}  // namespace

TSpinEditDouble::TSpinEditDouble(QWidget* parent) : QLineEdit(parent) {
  // The border is ours (its width places the buttons), so the style's frame
  // is off.
  setFrame(false);
  // A single-line edit shows its text at the top of its text area.
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // Dropped text would be a paste that bypasses the editor's rules.
  setAcceptDrops(false);
  setDragEnabled(false);
  setInputMethodHints(Qt::ImhFormattedNumbersOnly);

  button_ = new TSpinButton(this);
  button_->SetBounds(0, 0, 15, 17);
  button_->SetFocusControl(this);
  button_->OnUpClick = [this](QObject*) { StepUp(); };
  button_->OnDownClick = [this](QObject*) { StepDown(); };

  setText(QStringLiteral("0"));
  connect(this, &QLineEdit::textChanged, this, [this] { TextChanged(); });
  UpdateMinimumHeight();
  PlaceButton();
  FitTextArea();
}

TSpinEditDouble::~TSpinEditDouble() {
  // The text control may still change its text while it is torn down; no
  // handler must see a half-destroyed editor.
  OnChange = nullptr;
  OnEditingDone = nullptr;
  disconnect(this, &QLineEdit::textChanged, this, nullptr);
}

// --- value -----------------------------------------------------------------

double TSpinEditDouble::ClampValue(double v) const {
  if (maxValue_ == minValue_) return v;
  if (v < minValue_) return minValue_;
  if (v > maxValue_) return maxValue_;
  return v;
}

double TSpinEditDouble::Value() const {
  double v = 0;
  if (rt::TryStrToFloat(text().toStdString(), v)) return v;
  return minValue_;
}

bool TSpinEditDouble::HoldsNumber() const {
  double v = 0;
  return rt::TryStrToFloat(text().toStdString(), v);
}

void TSpinEditDouble::SetValue(double value) {
  const QString t = QString::fromStdString(rt::FloatToStr(ClampValue(value)));
  if (t == text()) return;
  TextChangeScope scope(*this);
  setText(t);
  scope.Raise();
}

void TSpinEditDouble::StepUp() {
  if (isReadOnly()) {
    rt::Beep();
    return;
  }
  // Read back from the text, so that 138 + ten steps of 0.1 shows 139.
  SetValue(Value() + increment_);
}

void TSpinEditDouble::StepDown() {
  if (isReadOnly()) {
    rt::Beep();
    return;
  }
  SetValue(Value() - increment_);
}

void TSpinEditDouble::TextChanged() {
  const TSenderEvent handler = OnChange;  // the handler may reassign OnChange
  if (!handler) return;
  try {
    handler(this);
  } catch (...) {
    if (scopeDepth_ > 0) {
      if (!parkedError_) parkedError_ = std::current_exception();
    } else {
      HandleException(std::current_exception());
    }
  }
}

// --- typing ------------------------------------------------------------------

bool TSpinEditDouble::AcceptsChar(char32_t c) const {
  const char32_t sep = static_cast<unsigned char>(rt::DecimalSeparator());
  bool ok = c == U'+' || c == U'-' || (c >= U'0' && c <= U'9') || c == sep ||
            (c < 32 && c != 13);
  if (ok && !editorEnabled_ && (c >= 32 || c == 8)) ok = false;
  return ok;
}

void TSpinEditDouble::RefuseChar() { rt::Beep(); }

void TSpinEditDouble::Cut() {
  if (!CanCutPaste()) return;
  TypingScope typing(*this);
  TextChangeScope scope(*this);
  cut();
  scope.Raise();
}

void TSpinEditDouble::Paste() {
  if (!CanCutPaste()) return;
  // Pasted text goes in unfiltered; text that does not parse reads as
  // MinValue.
  TypingScope typing(*this);
  TextChangeScope scope(*this);
  paste();
  scope.Raise();
}

void TSpinEditDouble::KeyPress(QKeyEvent* e) {
  const int key = e->key();
  e->accept();
  if (key == Qt::Key_Up || key == Qt::Key_Down) {
    if (key == Qt::Key_Up)
      StepUp();
    else
      StepDown();
    QLineEdit::keyPressEvent(e);
    e->accept();
    return;
  }
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    RefuseChar();
    EditingDone();
    return;
  }
  TypingScope typing(*this);
  if (e->matches(QKeySequence::Paste)) {
    Paste();
    return;
  }
  if (e->matches(QKeySequence::Cut)) {
    Cut();
    return;
  }
  if (!editorEnabled_) {
    if (key == Qt::Key_Backspace) {
      RefuseChar();
      return;
    }
    if (key == Qt::Key_Delete ||
        MatchesAny(e, {QKeySequence::Delete, QKeySequence::DeleteEndOfWord,
                       QKeySequence::DeleteStartOfWord, QKeySequence::DeleteEndOfLine,
                       QKeySequence::DeleteCompleteLine, QKeySequence::Undo, QKeySequence::Redo}))
      return;
  }
  const QString typed = e->text();
  const bool command = e->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
  if (!typed.isEmpty() && !command && key != Qt::Key_Delete && key != Qt::Key_Backspace) {
    bool printable = false, refused = false;
    for (char32_t c : typed.toUcs4()) {
      if (c < 32 || c == 127) continue;
      printable = true;
      if (!AcceptsChar(c)) refused = true;
    }
    if (printable && refused) {
      for (char32_t c : typed.toUcs4())
        if (c >= 32 && c != 127 && !AcceptsChar(c)) RefuseChar();
      return;
    }
  }
  // Everything else is the text control's; keys it does not use stop here,
  // as they would in a native edit, instead of travelling to the parent.
  QLineEdit::keyPressEvent(e);
  e->accept();
}

void TSpinEditDouble::keyPressEvent(QKeyEvent* e) {
  TextChangeScope scope(*this);
  try {
    KeyPress(e);
    scope.Raise();
  } catch (...) {
    HandleException(std::current_exception());
  }
}

void TSpinEditDouble::inputMethodEvent(QInputMethodEvent* e) {
  TypingScope typing(*this);
  const QString commit = e->commitString();
  QString kept;
  for (char32_t c : commit.toUcs4()) {
    if (AcceptsChar(c) && c != 8)
      kept += QString::fromUcs4(&c, 1);
    else
      RefuseChar();
  }
  if (kept == commit) {
    QLineEdit::inputMethodEvent(e);
    return;
  }
  QInputMethodEvent filtered(e->preeditString(), e->attributes());
  filtered.setCommitString(kept, e->replacementStart(), e->replacementLength());
  QLineEdit::inputMethodEvent(&filtered);
  e->accept();
}

// --- focus and mouse -----------------------------------------------------------

void TSpinEditDouble::focusInEvent(QFocusEvent* e) {
  QLineEdit::focusInEvent(e);
  const Qt::FocusReason reason = e->reason();
  // Window activation and popups do not move the focus between controls.
  if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) return;
  if (reason == Qt::MouseFocusReason) {
    // The toolkit hands the focus over before it delivers the press, and a
    // press on the button pair reaches the editor the same way; only a left
    // press in the text keeps the caret where it falls.
    mouseFocusPending_ = true;
    QTimer::singleShot(0, this, [this] {
      if (!mouseFocusPending_) return;
      mouseFocusPending_ = false;
      if (autoSelect_ && hasFocus()) selectAll();
    });
    return;
  }
  if (autoSelect_) selectAll();
}

void TSpinEditDouble::focusOutEvent(QFocusEvent* e) {
  mouseFocusPending_ = false;
  QLineEdit::focusOutEvent(e);
  const Qt::FocusReason reason = e->reason();
  if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) return;
  // A typed number beyond the limits becomes the nearest limit; a number
  // within them keeps its text as typed, and text that is no number stays.
  TextChangeScope scope(*this);
  try {
    const double v = Value();
    if (!(ClampValue(v) == v)) SetValue(v);
    scope.Raise();
  } catch (...) {
    HandleException(std::current_exception());
  }
  EditingDone();
}

void TSpinEditDouble::EditingDone() {
  const TSenderEvent handler = OnEditingDone;
  if (!handler) return;
  try {
    handler(this);
  } catch (...) {
    HandleException(std::current_exception());
  }
}

void TSpinEditDouble::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) mouseFocusPending_ = false;
  QLineEdit::mousePressEvent(e);
}

void TSpinEditDouble::mouseReleaseEvent(QMouseEvent* e) {
  // The middle button pastes the selection on X11.
  if (e->button() == Qt::MiddleButton && !CanCutPaste()) {
    e->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(e);
}

QMenu* TSpinEditDouble::CreateContextMenu() {
  // Built here rather than taken from the text control, whose entries call
  // its own cut and paste past the editor's rules.
  auto* menu = new QMenu(this);
  const bool editable = CanCutPaste();
  const bool selected = hasSelectedText();
  auto add = [&](const char* name, const char* label, QKeySequence::StandardKey key, bool enabled,
                 std::function<void()> run) {
    QAction* a = menu->addAction(QCoreApplication::translate("QLineEdit", label));
    a->setObjectName(QLatin1String(name));
    a->setShortcut(QKeySequence(key));
    a->setEnabled(enabled);
    QPointer<TSpinEditDouble> self(this);
    connect(a, &QAction::triggered, this, [self, run = std::move(run)] {
      if (!self) return;
      try {
        run();
      } catch (...) {
        HandleException(std::current_exception());
      }
    });
  };
  add("edit-undo", "&Undo", QKeySequence::Undo, editable && isUndoAvailable(), [this] {
    TypingScope typing(*this);
    TextChangeScope scope(*this);
    undo();
    scope.Raise();
  });
  add("edit-redo", "&Redo", QKeySequence::Redo, editable && isRedoAvailable(), [this] {
    TypingScope typing(*this);
    TextChangeScope scope(*this);
    redo();
    scope.Raise();
  });
  menu->addSeparator();
  add("edit-cut", "Cu&t", QKeySequence::Cut, editable && selected, [this] { Cut(); });
  add("edit-copy", "&Copy", QKeySequence::Copy, selected, [this] { copy(); });
  const QClipboard* clipboard = QGuiApplication::clipboard();
  add("edit-paste", "&Paste", QKeySequence::Paste,
      editable && clipboard && !clipboard->text().isEmpty(), [this] { Paste(); });
  add("edit-delete", "Delete", QKeySequence::UnknownKey, editable && selected, [this] {
    if (!CanCutPaste() || !hasSelectedText()) return;
    TypingScope typing(*this);
    TextChangeScope scope(*this);
    del();
    scope.Raise();
  });
  menu->addSeparator();
  add("select-all", "Select All", QKeySequence::SelectAll,
      !text().isEmpty() && selectedText() != text(), [this] { selectAll(); });
  return menu;
}

void TSpinEditDouble::contextMenuEvent(QContextMenuEvent* e) {
  if (QMenu* menu = CreateContextMenu()) {
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(e->globalPos());
  }
  e->accept();
}

// --- geometry ------------------------------------------------------------------

int TSpinEditDouble::MinimumHeight() const {
  const int f = QFontMetrics(font()).height();
  const int s = QFontMetrics(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).height();
  return f + std::min(s, f) / 4 + 4 * kBorderHeight + 2;
}

void TSpinEditDouble::UpdateMinimumHeight() {
  // Also resizes at once when the editor is lower, even while hidden.
  setMinimumHeight(MinimumHeight());
}

void TSpinEditDouble::SetCtl3D(bool on) {
  if (on == ctl3D_) return;
  ctl3D_ = on;
  PlaceButton();
  FitTextArea();
  update();
}

void TSpinEditDouble::SetColor(const QColor& c) {
  QPalette pal = palette();
  pal.setColor(QPalette::Base, c);
  setPalette(pal);
}

void TSpinEditDouble::SetFontColor(const QColor& c) {
  QPalette pal = palette();
  pal.setColor(QPalette::Text, c);
  setPalette(pal);
}

void TSpinEditDouble::PlaceButton() {
  // Positions are in the client area, inside the border.
  const int b = BorderWidth();
  const int bw = button_->width();
  int left, top, h;
  if (ctl3D_) {
    left = width() - bw - 5;
    top = 0;
    h = height() - 5;
  } else {
    left = width() - bw;
    top = 1;
    h = height() - 3;
  }
  button_->SetBounds(left + b, top + b, bw, h);
  // A child window is clipped to its parent's client area; without a 3-D
  // border the pair reaches past it on the right.
  const QRect client(b, b, width() - 2 * b, height() - 2 * b);
  const QRect visible = client.intersected(button_->geometry());
  if (visible == button_->geometry())
    button_->clearMask();
  else
    button_->setMask(QRegion(visible.translated(-button_->pos())));
}

void TSpinEditDouble::FitTextArea() {
  // Text area in client coordinates: left 0, top 0, right = client width -
  // button width - 2, bottom = client height + 1.
  const int b = BorderWidth();
  const int clientW = width() - 2 * b;
  const int clientH = height() - 2 * b;
  const int right = b + clientW - button_->width() - 2;
  const int bottom = b + clientH + 1;
  setTextMargins(b, b, std::max(0, width() - right), std::max(0, height() - bottom));
}

void TSpinEditDouble::resizeEvent(QResizeEvent* e) {
  QLineEdit::resizeEvent(e);
  if (height() < MinimumHeight()) {
    resize(width(), MinimumHeight());
    return;
  }
  PlaceButton();
  FitTextArea();
}

void TSpinEditDouble::changeEvent(QEvent* e) {
  QLineEdit::changeEvent(e);
  if (e->type() == QEvent::FontChange) {
    UpdateMinimumHeight();
    FitTextArea();
  }
}

void TSpinEditDouble::paintEvent(QPaintEvent* e) {
  QLineEdit::paintEvent(e);
  QPainter p(this);
  if (ctl3D_) {
    qDrawWinPanel(&p, rect(), palette(), /*sunken=*/true, nullptr);
  } else {
    p.setPen(QColor(Qt::black));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
  }
}

}  // namespace wg
