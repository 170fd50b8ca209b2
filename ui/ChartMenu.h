// The chart's context menu: opened by a right-click that does not move (a
// right-drag still pans the chart), holding the window's features, each
// with its keyboard shortcut shown and live in the whole window.
//
// Features add their QActions to Menu() with the shortcut set; the menu
// hands every added action to the window as well, so that its shortcut
// works while the menu is closed.
#pragma once

#include <QKeySequence>
#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>
#include <string>

class QAction;
class QMenu;
class QWidget;

namespace wg {

class TChartMenu : public QObject {
  Q_OBJECT

 public:
  // window: where the shortcuts live (the main window); chart: the widget
  // whose right-clicks open the menu.
  TChartMenu(QWidget* window, QWidget* chart);
  ~TChartMenu() override;

  QMenu* Menu() const { return menu_; }

  // A menu entry that runs `run` when chosen or when its shortcut is
  // pressed. An exception from run goes to `OnError` with its log line.
  QAction* AddEntry(const QString& text, const QKeySequence& shortcut, std::function<void()> run);

  // Opens the menu at a global screen position.
  void Popup(QPoint globalPos);

  // The pointer position (chart pixels) of the click that opened the menu.
  QPoint ClickPos() const { return clickPos_; }

  // Where errors of menu entries are said (the log pane).
  std::function<void(const std::string&)> OnError;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* window_;
  QWidget* chart_;
  QMenu* menu_;
  bool rightDown_ = false;
  bool rightMoved_ = false;
  QPoint pressPos_;
  QPoint clickPos_;
};

}  // namespace wg
