#include "ui/ReceiverMenu.h"

#include "app/Options.h"
#include "app/Settings.h"
#include "runtime/NumText.h"
#include "sweep/CroppedPlan.h"
#include "sweep/ReceiverSetup.h"

#include <QAction>
#include <QActionGroup>
#include <QCursor>
#include <QInputDialog>
#include <QMenu>
#include <QVariant>
#include <QWidget>

namespace wg {
namespace {

QString RateText(uint32_t rate) { return QString::number(rate / 1e6, 'g', 6) + QStringLiteral(" MS/s"); }
QString GainDb(int tenths) { return QString::fromStdString(rt::FormatFixed(tenths / 10.0, 1)); }

// A submenu whose title shows the key that opens it at the pointer.
QMenu* AddSubmenu(QWidget* window, QMenu* menu, const QString& title, const QKeySequence& key,
                  std::function<void(QMenu*)> popUp) {
  auto* sub = new QMenu(title + QLatin1Char('\t') + key.toString(QKeySequence::NativeText), menu);
  menu->addMenu(sub);
  auto* shortcut = new QAction(sub);
  shortcut->setShortcut(key);
  shortcut->setShortcutContext(Qt::WindowShortcut);
  window->addAction(shortcut);
  QObject::connect(shortcut, &QAction::triggered, sub, [sub, popUp] { popUp(sub); });
  return sub;
}

}  // namespace

TReceiverMenu::TReceiverMenu(QWidget* window, QMenu* menu, TReceiverSetup& receiver, TSettings& settings,
                             std::function<void(const std::string&)> log)
    : QObject(window), window_(window), receiver_(receiver), settings_(settings), log_(std::move(log)) {
  menu->addSeparator();
  const auto popUp = [this](QMenu* m) { PopUp(m); };
  gainMenu_ = AddSubmenu(window, menu, QStringLiteral("Gain"), QKeySequence(Qt::Key_F6), popUp);
  correction_ = menu->addAction(QStringLiteral("Frequency correction…"));
  correction_->setShortcut(QKeySequence(Qt::Key_F7));
  correction_->setShortcutContext(Qt::WindowShortcut);
  correction_->setShortcutVisibleInContextMenu(true);
  window->addAction(correction_);
  connect(correction_, &QAction::triggered, this, [this] { AskCorrection(); });
  rateMenu_ = AddSubmenu(window, menu, QStringLiteral("Sample rate"), QKeySequence(Qt::Key_F8), popUp);
  fast_ = menu->addAction(QStringLiteral("Fast sweep"));
  fast_->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+F")));
  fast_->setCheckable(true);
  fast_->setChecked(receiver_.Fast());
  connect(fast_, &QAction::toggled, this, [this](bool on) { receiver_.SetFast(on); });
  AddCropEntry(menu);
  receiverMenu_ = AddSubmenu(window, menu, QStringLiteral("Receiver"),
                             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D), popUp);
  // A change the receiver applies later says its line then.
  receiver_.SetChangeSettled([this](bool taken) { Settled(taken); });
  Refresh();
}

TReceiverMenu::~TReceiverMenu() { receiver_.SetChangeSettled(nullptr); }

void TReceiverMenu::AddCropEntry(QMenu* menu) {
  // The share -c gave, else the one rtl_power users start with.
  cropShare_ = receiver_.Crop() > 0 ? receiver_.Crop() : kUsualCrop;
  crop_ = menu->addAction(QStringLiteral("Crop step edges"));
  crop_->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+C")));
  crop_->setShortcutContext(Qt::WindowShortcut);
  crop_->setShortcutVisibleInContextMenu(true);
  crop_->setCheckable(true);
  crop_->setChecked(receiver_.Crop() > 0);
  window_->addAction(crop_);
  connect(crop_, &QAction::toggled, this, [this](bool on) {
    receiver_.SetCrop(on ? cropShare_ : 0);
    settings_.SetCrop(receiver_.Crop());
  });
}

void TReceiverMenu::PopUp(QMenu* m) {
  if (m->isEnabled() && !m->actions().isEmpty()) m->popup(QCursor::pos());
}

// Actions are made anew only when the lists change (another receiver), and
// the old ones deleted later: the action being triggered may be among them.
static void Empty(QMenu* m) {
  for (QAction* a : m->actions()) {
    m->removeAction(a);
    a->deleteLater();
  }
}

void TReceiverMenu::Refresh() {
  const ReceiverReport& r = receiver_.Report();
  const bool open = r.outcome == ReceiverReport::Outcome::Opened;

  std::vector<std::string> devices;
  for (const auto& d : r.devices) devices.push_back(d.name + ", " + d.serial);
  if (r.gains != builtGains_ || gainMenu_->actions().isEmpty()) {
    builtGains_ = r.gains;
    Empty(gainMenu_);
    auto* group = new QActionGroup(gainMenu_);
    const auto addGain = [&](const QString& text, std::optional<int> tenths) {
      QAction* a = gainMenu_->addAction(text);
      a->setCheckable(true);
      a->setData(tenths ? QVariant(*tenths) : QVariant());
      group->addAction(a);
      connect(a, &QAction::triggered, this, [this, tenths] { ChooseGain(tenths); });
    };
    addGain(QStringLiteral("Auto"), std::nullopt);
    for (int g : r.gains) addGain(GainDb(g) + QStringLiteral(" dB"), g);
  }
  if (rateMenu_->actions().isEmpty()) {
    auto* group = new QActionGroup(rateMenu_);
    for (uint32_t rate : kSampleRates) {
      QAction* a = rateMenu_->addAction(RateText(rate));
      a->setCheckable(true);
      a->setData(rate);
      group->addAction(a);
      connect(a, &QAction::triggered, this, [this, rate] { ChooseRate(rate); });
    }
  }
  if (devices != builtDevices_) {
    builtDevices_ = devices;
    Empty(receiverMenu_);
    auto* group = new QActionGroup(receiverMenu_);
    for (size_t i = 0; i < devices.size(); ++i) {
      QAction* a = receiverMenu_->addAction(QString::number(i) + QStringLiteral(": ") + QString::fromStdString(devices[i]));
      a->setCheckable(true);
      a->setData(static_cast<uint>(i));
      group->addAction(a);
      connect(a, &QAction::triggered, this, [this, i] { ChooseReceiver(static_cast<uint32_t>(i)); });
    }
  }

  // The checks show what is in force, also after a refused choice.
  const GainMode mode = receiver_.CurrentGainMode();
  for (QAction* a : gainMenu_->actions())
    a->setChecked(a->data().isValid() ? mode == GainMode::Manual && receiver_.ManualGain() == a->data().toInt()
                                      : mode == GainMode::Auto);
  for (QAction* a : rateMenu_->actions()) a->setChecked(receiver_.SampleRate() == a->data().toUInt());
  for (QAction* a : receiverMenu_->actions()) a->setChecked(open && r.index == a->data().toUInt());
  gainMenu_->setEnabled(open);
  rateMenu_->setEnabled(open);
  correction_->setEnabled(open);
  // Only a choice when there is one to make.
  receiverMenu_->menuAction()->setVisible(devices.size() > 1);
  receiverMenu_->setEnabled(devices.size() > 1);
}

bool TReceiverMenu::Waits(std::function<void(bool)> say) {
  if (!receiver_.LastChangeWaits()) return false;
  waiting_.push_back(std::move(say));
  return true;
}

void TReceiverMenu::Settled(bool taken) {
  if (waiting_.empty()) {  // a change of the start-up: no line
    Refresh();
    return;
  }
  const std::function<void(bool)> say = std::move(waiting_.front());
  waiting_.pop_front();
  say(taken);
}

std::string TReceiverMenu::NotTaken(const std::string& refused) const {
  return receiver_.ReceiverLost() ? tr(" — не применено: приёмник не отвечает").toStdString() : refused;
}

bool TReceiverMenu::ChooseGain(std::optional<int> tenthsDb) {
  const bool ok = receiver_.SetGain(tenthsDb);
  if (Waits([this, tenthsDb](bool taken) { SayGain(tenthsDb, taken); })) return false;
  SayGain(tenthsDb, ok);
  return ok;
}

void TReceiverMenu::SayGain(std::optional<int> tenthsDb, bool ok) {
  const std::string value = (tenthsDb ? GainDb(*tenthsDb) : tr("авто")).toStdString();
  const std::string line = tr("Усиление, дБ: ").toStdString() + value;
  log_(ok ? line : line + NotTaken(tr(" — не принято приёмником").toStdString()));
  if (ok) settings_.SetGain(tenthsDb ? GainChoice{false, *tenthsDb} : GainChoice{true, 0});
  Refresh();
}

bool TReceiverMenu::ChooseCorrection(int ppm) {
  const bool ok = receiver_.SetFreqCorrection(ppm);
  if (Waits([this, ppm](bool taken) { SayCorrection(ppm, taken); })) return false;
  SayCorrection(ppm, ok);
  return ok;
}

void TReceiverMenu::SayCorrection(int ppm, bool ok) {
  if (ok) {
    log_("PPM: " + rt::FormatInt(receiver_.Report().freqCorrection));
    settings_.SetPpm(ppm);
  } else if (receiver_.ReceiverLost()) {
    log_("PPM: " + rt::FormatInt(ppm) + NotTaken({}));
  } else {
    log_("PPM: " + rt::FormatInt(ppm) + tr(" — не принято приёмником, остаётся ").toStdString() +
         rt::FormatInt(receiver_.FreqCorrection()));
  }
}

bool TReceiverMenu::ChooseRate(uint32_t rate) {
  const bool ok = receiver_.SetSampleRate(rate);
  if (Waits([this, rate](bool taken) { SayRate(rate, taken); })) return false;
  SayRate(rate, ok);
  return ok;
}

void TReceiverMenu::SayRate(uint32_t rate, bool ok) {
  const ReceiverReport& r = receiver_.Report();
  if (ok) {
    log_(tr("Полоса: ").toStdString() + rt::FormatInt(r.sampleRate) + tr(" Hz, шаг по частоте, Hz: ").toStdString() +
         rt::FormatFixed(r.binWidth, 2));
    settings_.SetSampleRate(rate);
  } else if (receiver_.ReceiverLost()) {
    log_(tr("Полоса: ").toStdString() + rt::FormatInt(rate) + " Hz" + NotTaken({}));
  } else {
    log_(tr("Полоса: ").toStdString() + rt::FormatInt(rate) + tr(" Hz — не принята приёмником, остаётся ").toStdString() +
         rt::FormatInt(receiver_.SampleRate()) + " Hz");
  }
  Refresh();
}

bool TReceiverMenu::ChooseReceiver(uint32_t index) {
  const bool ok = receiver_.OpenReceiver(index);
  if (Waits([this, index](bool taken) { SayReceiver(index, taken); })) return false;
  SayReceiver(index, ok);
  return ok;
}

void TReceiverMenu::SayReceiver(uint32_t index, bool ok) {
  const ReceiverReport& r = receiver_.Report();
  if (ok && index < r.devices.size()) {
    const auto& d = r.devices[index];
    log_(tr("Приёмник ").toStdString() + rt::FormatInt(index) + ": " + d.name + tr(", серийник ").toStdString() + d.serial);
    settings_.SetReceiverSerial(d.serial);
  } else if (receiver_.IsOpen()) {
    log_(tr("Приёмник ").toStdString() + rt::FormatInt(index) + tr(" не открылся").toStdString() +
         tr(", снова открыт приёмник ").toStdString() + InUse());
  } else {
    log_(tr("Приёмник ").toStdString() + rt::FormatInt(index) + tr(" не открылся").toStdString());
  }
  Refresh();
}

std::string TReceiverMenu::InUse() const {
  const ReceiverReport& r = receiver_.Report();
  return r.servedFrom.empty() ? rt::FormatInt(r.index) : "rtl_tcp=" + r.servedFrom;
}

void TReceiverMenu::AskCorrection() {
  if (!correction_->isEnabled()) return;
  auto* dialog = new QInputDialog(window_);
  dialog->setObjectName(QStringLiteral("CorrectionDialog"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(QStringLiteral("Frequency correction"));
  dialog->setLabelText(QStringLiteral("Correction, ppm (%1 to %2):").arg(kMinPpm).arg(kMaxPpm));
  dialog->setInputMode(QInputDialog::IntInput);
  dialog->setIntRange(kMinPpm, kMaxPpm);
  dialog->setIntValue(receiver_.FreqCorrection());
  connect(dialog, &QInputDialog::intValueSelected, this, [this](int ppm) { ChooseCorrection(ppm); });
  dialog->open();
}

}  // namespace wg
