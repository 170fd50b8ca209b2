// Mouse events sent straight to a widget (no event loop in between), and a
// shown, active top-level window that can hold the keyboard focus.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>

#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace wgtest {

inline void SendMouse(QWidget* w, QEvent::Type type, Qt::MouseButton b, QPoint pos,
                      Qt::MouseButtons held) {
  QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), b, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}
inline void Press(QWidget* w, QPoint pos = {5, 4}, Qt::MouseButton b = Qt::LeftButton) {
  SendMouse(w, QEvent::MouseButtonPress, b, pos, b);
}
inline void Move(QWidget* w, QPoint pos) {
  SendMouse(w, QEvent::MouseMove, Qt::NoButton, pos, Qt::LeftButton);
}
inline void Release(QWidget* w, QPoint pos = {5, 4}, Qt::MouseButton b = Qt::LeftButton) {
  SendMouse(w, QEvent::MouseButtonRelease, b, pos, Qt::NoButton);
}
inline void Click(QWidget* w) {
  Press(w);
  Release(w);
}

// Runs the event loop until cond holds; the deadline only guards a hang.
inline bool WaitFor(const std::function<bool()>& cond) {
  QElapsedTimer t;
  t.start();
  while (!cond() && t.elapsed() < 10000) QTest::qWait(10);
  return cond();
}

struct Window {
  QWidget w;
  Window() {
    w.resize(300, 120);
    w.show();
    w.activateWindow();
    (void)QTest::qWaitForWindowActive(&w);
  }
};

// Collects the messages of exceptions that reach the controls' sink.
inline std::vector<std::string> g_sunk;
inline void Sink(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& x) {
    g_sunk.push_back(x.what());
  }
}

}  // namespace wgtest
