#include "app/Language.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QTranslator>

#include <atomic>
#include <cstring>

namespace wg {
namespace {

std::atomic<Language> g_language{Language::Russian};

// Answers from the English translation while English is chosen, and with
// nothing (the source text stands) otherwise.
class SwitchedTranslator : public QTranslator {
 public:
  explicit SwitchedTranslator(QObject* parent) : QTranslator(parent) {
    (void)english_.load(QStringLiteral(":/i18n/wideglass_en.qm"));
  }

  QString translate(const char* context, const char* sourceText, const char* disambiguation, int n) const override {
    if (g_language.load(std::memory_order_relaxed) != Language::English) return {};
    return english_.translate(context, sourceText, disambiguation, n);
  }
  bool isEmpty() const override { return false; }

 private:
  QTranslator english_;
};

}  // namespace

void SetLanguage(Language language) {
  QCoreApplication* app = QCoreApplication::instance();
  // One per application object: a test program may make a new one.
  static QPointer<SwitchedTranslator> installed;
  if (app && !installed) {
    installed = new SwitchedTranslator(app);
    app->installTranslator(installed);
  }
  if (g_language.exchange(language) == language) return;
  if (app) {
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(app, &change);
  }
}

Language CurrentLanguage() { return g_language.load(); }

Language SystemLanguage() {
  QByteArray locale;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    locale = qgetenv(name);
    if (!locale.isEmpty()) break;
  }
  // "ru", "ru_RU.UTF-8", "ru@petr1708": the language comes before the territory.
  qsizetype end = 0;
  while (end < locale.size() && !std::strchr("_.@", locale[end])) ++end;
  return locale.left(end) == "ru" ? Language::Russian : Language::English;
}

}  // namespace wg
