#include "ui/LanguageMenu.h"

#include "app/Language.h"
#include "app/Settings.h"
#include "ui/ChartMenu.h"
#include "ui/Unit1.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>

namespace wg {

TLanguageMenu::TLanguageMenu(TForm1& form, TChartMenu& menu) : QObject(&form), form_(form) {
  const Language start = form.RunOptions().language.value_or(form.Settings().Values().language);
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
  form_.Settings().SetLanguage(language);
  if (language == CurrentLanguage()) return;
  SetLanguage(language);
  form_.LogAppend((english ? tr("Язык журнала: английский") : tr("Язык журнала: русский")).toStdString());
}

}  // namespace wg
