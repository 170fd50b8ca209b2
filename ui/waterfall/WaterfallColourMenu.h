// The chart menu's choice of the waterfall's colours: automatic (from the
// noise floor to the strongest level shown), the level axis's visible range,
// or fixed ends typed in; remembered.
#pragma once

class QMenu;
class QWidget;

namespace wg {

class TSettings;
class TWaterfall;

// Adds a "Waterfall colours" submenu to `menu` and applies the remembered
// choice. The waterfall and the settings must outlive the menu.
void AddWaterfallColourMenu(QMenu& menu, TWaterfall& waterfall, TSettings& settings);

}  // namespace wg
