#include "ui/waterfall/WaterfallColourMenu.h"

#include "app/Settings.h"
#include "ui/waterfall/Waterfall.h"

#include <QAction>
#include <QActionGroup>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>

namespace wg {

void AddWaterfallColourMenu(QMenu& menu, TWaterfall& waterfall, TSettings& settings) {
  QMenu* sub = menu.addMenu(QStringLiteral("Waterfall colours"));
  sub->setObjectName(QStringLiteral("waterfall-colours"));
  auto* group = new QActionGroup(sub);
  const auto entry = [&](const char* text, const char* name, ColourSpan::Kind kind) {
    QAction* a = sub->addAction(QString::fromUtf8(text));
    a->setObjectName(QLatin1String(name));
    a->setCheckable(true);
    a->setData(static_cast<int>(kind));
    group->addAction(a);
    return a;
  };
  QAction* automatic = entry("Automatic", "colours-automatic", ColourSpan::Kind::Automatic);
  QAction* axis = entry("Level axis", "colours-axis", ColourSpan::Kind::LevelAxis);
  QAction* fixed = entry("Fixed\u2026", "colours-fixed", ColourSpan::Kind::Fixed);
  TWaterfall* w = &waterfall;
  TSettings* st = &settings;
  const auto apply = [w, st, group](const ColourSpan& c) {
    w->SetColours(c);
    st->SetWaterfallColours(c);
    for (QAction* a : group->actions()) a->setChecked(a->data().toInt() == static_cast<int>(c.kind));
  };
  QObject::connect(automatic, &QAction::triggered, sub, [apply] { apply(ColourSpan{}); });
  QObject::connect(axis, &QAction::triggered, sub, [apply] { apply(ColourSpan{ColourSpan::Kind::LevelAxis}); });
  QObject::connect(fixed, &QAction::triggered, sub, [apply, w, st] {
    ColourSpan now = st->Values().waterfallColours;
    if (now.kind != ColourSpan::Kind::Fixed) now = {ColourSpan::Kind::Fixed, w->ColourLow(), w->ColourHigh()};
    bool ok = false;
    const QString text = QInputDialog::getText(
        w->window(), QStringLiteral("Waterfall colours"), QStringLiteral("Lowest and highest level, dB:"),
        QLineEdit::Normal,
        QString::number(now.low, 'f', 0) + QLatin1Char(' ') + QString::number(now.high, 'f', 0), &ok);
    const auto chosen = ok ? TSettings::ParseColours(text) : std::nullopt;
    // Cancelled or not two levels, low first: the choice in force stays.
    apply(chosen && chosen->kind == ColourSpan::Kind::Fixed ? *chosen : st->Values().waterfallColours);
  });
  apply(settings.Values().waterfallColours);
}

}  // namespace wg
