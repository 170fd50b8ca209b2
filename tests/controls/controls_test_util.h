// Mouse events sent straight to a widget, without the event loop running in
// between, and a top-level window that can hold the keyboard focus.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>

#include <functional>

namespace wgtest {

inline void SendMouse(QWidget* w, QEvent::Type type, Qt::MouseButton button, QPoint pos,
                      Qt::MouseButtons held) {
  QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}
inline void Press(QWidget* w, QPoint pos, Qt::MouseButton b = Qt::LeftButton) {
  SendMouse(w, QEvent::MouseButtonPress, b, pos, b);
}
inline void Move(QWidget* w, QPoint pos, Qt::MouseButtons held = Qt::LeftButton) {
  SendMouse(w, QEvent::MouseMove, Qt::NoButton, pos, held);
}
inline void Release(QWidget* w, QPoint pos, Qt::MouseButton b = Qt::LeftButton) {
  SendMouse(w, QEvent::MouseButtonRelease, b, pos, Qt::NoButton);
}

// Runs the event loop until cond holds or a generous deadline passes.
inline bool WaitFor(const std::function<bool()>& cond, int deadlineMs = 10000) {
  QElapsedTimer t;
  t.start();
  while (!cond()) {
    if (t.elapsed() > deadlineMs) return false;
    QTest::qWait(10);
  }
  return true;
}

// A shown, active top-level window.
struct Window {
  QWidget w;
  Window() {
    w.resize(300, 120);
    w.show();
    w.activateWindow();
    (void)QTest::qWaitForWindowActive(&w);
  }
};

}  // namespace wgtest
