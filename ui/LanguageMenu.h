// The language of the log as a chart menu entry: "Log in English"
// (Ctrl+Shift+L). The window starts in the language of the command line,
// else the remembered one; a change in the menu is remembered and words the
// lines written from then on (those already in the log stay as they are).
#pragma once

#include <QObject>

class QAction;
class TForm1;

namespace wg {

class TChartMenu;

class TLanguageMenu : public QObject {
  Q_OBJECT

 public:
  // Sets the start-up language; make it before the receiver report and the
  // sweep, so that both are worded in it.
  TLanguageMenu(TForm1& form, TChartMenu& menu);

  QAction* Action() const { return action_; }

 private:
  void Choose(bool english);

  TForm1& form_;
  QAction* action_ = nullptr;
};

}  // namespace wg
