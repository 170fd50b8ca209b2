#include "ui/ChartMenu.h"

#include "ui/HandlerGuard.h"

#include <QAction>
#include <QActionEvent>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>

namespace wg {

TChartMenu::TChartMenu(QWidget* window, QWidget* chart)
    : QObject(window), window_(window), chart_(chart), menu_(new QMenu(window)) {
  menu_->setObjectName(QStringLiteral("ChartMenu"));
  menu_->installEventFilter(this);
  chart_->installEventFilter(this);
}

// The event filter goes with this object; the chart may be gone first.
TChartMenu::~TChartMenu() = default;

QAction* TChartMenu::AddEntry(const QString& text, const QKeySequence& shortcut, std::function<void()> run) {
  auto* a = new QAction(text, menu_);
  a->setShortcut(shortcut);
  QPointer<TChartMenu> self(this);
  connect(a, &QAction::triggered, this, [self, run = std::move(run)] {
    if (!self) return;
    RunReported(QT_TRANSLATE_NOOP("HandlerGuard", "выполнении команды меню"), run, self->OnError);
  });
  menu_->addAction(a);
  return a;
}

void TChartMenu::Popup(QPoint globalPos) { menu_->popup(globalPos); }

bool TChartMenu::eventFilter(QObject* watched, QEvent* event) {
  if (watched == menu_) {
    // Whoever adds an entry, its shortcut is shown and works in the whole
    // window, not only while the menu is open.
    if (event->type() == QEvent::ActionAdded) {
      QAction* a = static_cast<QActionEvent*>(event)->action();
      a->setShortcutVisibleInContextMenu(true);
      a->setShortcutContext(Qt::WindowShortcut);
      window_->addAction(a);
    } else if (event->type() == QEvent::ActionRemoved) {
      window_->removeAction(static_cast<QActionEvent*>(event)->action());
    }
    return false;
  }
  if (watched != chart_) return false;
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* m = static_cast<QMouseEvent*>(event);
      if (m->button() == Qt::RightButton) {
        rightDown_ = true;
        rightMoved_ = false;
        pressPos_ = m->position().toPoint();
      }
      break;
    }
    case QEvent::MouseMove: {
      auto* m = static_cast<QMouseEvent*>(event);
      if (rightDown_ && (m->position().toPoint() - pressPos_).manhattanLength() >= QApplication::startDragDistance())
        rightMoved_ = true;
      break;
    }
    case QEvent::MouseButtonRelease: {
      auto* m = static_cast<QMouseEvent*>(event);
      if (m->button() != Qt::RightButton || !rightDown_) break;
      rightDown_ = false;
      // A press that stayed put is a click: the menu. One that travelled was
      // a pan, which the chart has done by now.
      if (!rightMoved_ && (m->position().toPoint() - pressPos_).manhattanLength() < QApplication::startDragDistance()) {
        clickPos_ = m->position().toPoint();
        Popup(m->globalPosition().toPoint());
      }
      break;
    }
    case QEvent::ContextMenu: {
      // The mouse's own context request is replaced by the click rule above;
      // the keyboard's menu key opens the menu where the pointer is.
      auto* c = static_cast<QContextMenuEvent*>(event);
      if (c->reason() == QContextMenuEvent::Keyboard) {
        QPoint local = chart_->mapFromGlobal(QCursor::pos());
        if (!chart_->rect().contains(local)) local = chart_->rect().center();
        clickPos_ = local;
        Popup(chart_->mapToGlobal(local));
      }
      return true;
    }
    default:
      break;
  }
  return false;
}

}  // namespace wg
