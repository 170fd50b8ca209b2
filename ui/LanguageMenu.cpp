#include "ui/LanguageMenu.h"

#include "app/Language.h"
#include "app/Settings.h"
#include "ui/ChartMenu.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>

namespace wg {

TLanguageMenu::TLanguageMenu(QObject* parent, TChartMenu& menu, TSettings& settings,
                             std::optional<Language> forThisRun, std::function<void(const std::string&)> log)
    : QObject(parent), settings_(settings), log_(std::move(log)) {
  const Language start = forThisRun.value_or(settings.Values().language.value_or(SystemLanguage()));
  SetLanguage(start);
  menu.Menu()->addSeparator();
  // The menu reads the same in both languages, so the entry says what it does.
  action_ = menu.AddEntry(QStringLiteral("Log in English"), QKeySequence(QStringLiteral("Ctrl+Shift+L")),
                          [this] { Choose(action_->isChecked()); });
  action_->setObjectName(QStringLiteral("log-in-english"));
  action_->setCheckable(true);
  action_->setChecked(start == Language::English);
}

void TLanguageMenu::Choose(bool english) {
  const Language language = english ? Language::English : Language::Russian;
  settings_.SetLanguage(language);
  if (language == CurrentLanguage()) return;
  SetLanguage(language);
  log_((english ? tr("Язык журнала: английский") : tr("Язык журнала: русский")).toStdString());
}

}  // namespace wg
