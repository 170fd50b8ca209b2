#include "ui/VirtualKeys.h"

#include <QKeyEvent>

namespace vk {

int FromQt(const QKeyEvent& e) {
  const bool keypad = e.modifiers().testFlag(Qt::KeypadModifier);
  switch (e.key()) {
    case Qt::Key_Left: return Left;
    case Qt::Key_Up: return Up;
    case Qt::Key_Right: return Right;
    case Qt::Key_Down: return Down;
    // The main keyboard's plus is the "=" key, with or without Shift.
    case Qt::Key_Plus: return keypad ? Add : OemPlus;
    case Qt::Key_Equal: return OemPlus;
    case Qt::Key_Minus: return keypad ? Subtract : OemMinus;
    case Qt::Key_Underscore: return OemMinus;
    default: return 0;
  }
}

}  // namespace vk
