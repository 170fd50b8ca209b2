// The language of the log as a chart menu entry: "Log in English"
// (Ctrl+Shift+L). The window starts in the language of the command line,
// else the remembered one; a change in the menu is remembered and words the
// lines written from then on (those already in the log stay as they are).
#pragma once

#include "app/Options.h"

#include <QObject>

#include <functional>
#include <optional>
#include <string>

class QAction;

namespace wg {

class TChartMenu;
class TSettings;

class TLanguageMenu : public QObject {
  Q_OBJECT

 public:
  // Sets the start-up language (`forThisRun`, else the remembered one); make
  // it before the receiver report and the sweep, so that both are worded in it.
  TLanguageMenu(QObject* parent, TChartMenu& menu, TSettings& settings, std::optional<Language> forThisRun,
                std::function<void(const std::string&)> log);

  QAction* Action() const { return action_; }

 private:
  void Choose(bool english);

  TSettings& settings_;
  std::function<void(const std::string&)> log_;
  QAction* action_ = nullptr;
};

}  // namespace wg
