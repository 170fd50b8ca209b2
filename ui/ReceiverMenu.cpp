#include "ui/ReceiverMenu.h"

#include "app/Options.h"
#include "app/Settings.h"
#include "receiver/RtlTcpProtocol.h"
#include "runtime/NumText.h"
#include "sweep/CroppedPlan.h"
#include "sweep/ReceiverSetup.h"

#include "ui/ReceiverReport.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QActionGroup>
#include <QCursor>
#include <QInputDialog>
#include <QMenu>
#include <QVariant>
#include <QWidget>

#include <algorithm>

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
  fast_->setShortcutContext(Qt::WindowShortcut);
  fast_->setShortcutVisibleInContextMenu(true);
  fast_->setCheckable(true);
  fast_->setChecked(receiver_.Fast());
  window->addAction(fast_);
  connect(fast_, &QAction::toggled, this, [this](bool on) { receiver_.SetFast(on); });
  AddCropEntry(menu);
  receiverMenu_ = AddSubmenu(window, menu, QStringLiteral("Receiver"),
                             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D), popUp);
  // The receivers' entries go above this separator as they are found.
  listEnd_ = receiverMenu_->addSeparator();
  addRemote_ = receiverMenu_->addAction(QStringLiteral("Add remote receiver…"));
  connect(addRemote_, &QAction::triggered, this, [this] { AskRemote(); });
  receiverMenu_->addSeparator();
  biasTee_ = receiverMenu_->addAction(QStringLiteral("Bias-T"));
  biasTee_->setCheckable(true);
  connect(biasTee_, &QAction::triggered, this, [this](bool on) { ChooseBiasTee(on); });
  directMenu_ = receiverMenu_->addMenu(QStringLiteral("Direct sampling"));
  auto* branches = new QActionGroup(directMenu_);
  for (const auto& [text, mode] : {std::pair{"Off", 0}, std::pair{"I branch", 1}, std::pair{"Q branch", 2}}) {
    QAction* a = directMenu_->addAction(QString::fromUtf8(text));
    a->setCheckable(true);
    a->setData(mode);
    branches->addAction(a);
    connect(a, &QAction::triggered, this, [this, mode = mode] { ChooseDirectSampling(mode); });
  }
  offset_ = receiverMenu_->addAction(QStringLiteral("Offset tuning"));
  offset_->setCheckable(true);
  connect(offset_, &QAction::triggered, this, [this](bool on) { ChooseOffsetTuning(on); });
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
  // Cropped steps are always mended; unchecked, the centre is mended too.
  dcSpike_ = menu->addAction(QStringLiteral("Show DC spike"));
  dcSpike_->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+X")));
  dcSpike_->setShortcutContext(Qt::WindowShortcut);
  dcSpike_->setShortcutVisibleInContextMenu(true);
  dcSpike_->setCheckable(true);
  window_->addAction(dcSpike_);
  dcSpike_->setChecked(receiver_.KeepDcSpike());
  connect(dcSpike_, &QAction::toggled, this, [this](bool on) {
    receiver_.SetKeepDcSpike(on);
    settings_.SetDcSpike(on);
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
  const GainMode mode = receiver_.CurrentGainMode();
  for (QAction* a : gainMenu_->actions())
    a->setChecked(a->data().isValid() ? mode == GainMode::Manual && receiver_.ManualGain() == a->data().toInt()
                                      : mode == GainMode::Auto);
  for (QAction* a : rateMenu_->actions()) a->setChecked(receiver_.SampleRate() == a->data().toUInt());
  gainMenu_->setEnabled(open);
  rateMenu_->setEnabled(open);
  correction_->setEnabled(open);
  RefreshReceivers();
}

void TReceiverMenu::RefreshReceivers() {
  const ReceiverReport& r = receiver_.Report();
  std::vector<ReceiverChoice> entries;
  std::vector<std::string> texts;
  for (size_t i = 0; i < r.devices.size(); ++i) {
    entries.push_back(ReceiverChoice{static_cast<uint32_t>(i), std::nullopt});
    texts.push_back(std::to_string(i) + ": " + r.devices[i].name + ", " + r.devices[i].serial);
  }
  // The remembered remote receivers, and one chosen on the command line.
  std::vector<std::string> remotes = settings_.Values().remotes;
  for (const ReceiverChoice& c : receiver_.Chosen())
    if (c.remote && std::find(remotes.begin(), remotes.end(), c.remote->Text()) == remotes.end())
      remotes.push_back(c.remote->Text());
  for (const std::string& hostPort : remotes) {
    RtlTcpAddress address;
    if (!RtlTcpAddress::Parse(hostPort, address)) continue;
    entries.push_back(ReceiverChoice{0, address});
    texts.push_back(Named(entries.back()));
  }
  if (texts != builtEntries_) {
    builtEntries_ = texts;
    for (QAction* a : std::exchange(listed_, {})) {
      receiverMenu_->removeAction(a);
      a->deleteLater();
    }
    for (size_t k = 0; k < entries.size(); ++k) {
      auto* a = new QAction(QString::fromStdString(texts[k]), receiverMenu_);
      a->setCheckable(true);
      receiverMenu_->insertAction(listEnd_, a);
      connect(a, &QAction::triggered, this, [this, c = entries[k]](bool on) { TickReceiver(c, on); });
      listed_.push_back(a);
    }
  }
  const std::vector<ReceiverChoice> used = InUseChoices();
  for (size_t k = 0; k < listed_.size() && k < entries.size(); ++k)
    listed_[k]->setChecked(std::any_of(used.begin(), used.end(), [&](const ReceiverChoice& c) {
      return SameReceiver(c, entries[k]);
    }));

  // An option the library lacks stays in sight, disabled, and its missing
  // entry point is said once.
  const bool open = !used.empty();
  const ReceiverAbilities can = receiver_.Abilities();
  const auto offer = [&](QAction* a, bool able, bool& said, const char* entryPoint) {
    a->setEnabled(open && able);
    if (!open || able || std::exchange(said, true)) return;
    log_(tr("В библиотеке приёмника нет функции %1: ").arg(QLatin1String(entryPoint)).toStdString() +
         a->text().toStdString() + tr(" недоступно").toStdString());
  };
  offer(biasTee_, can.biasTee, saidBiasTee_, "rtlsdr_set_bias_tee");
  offer(directMenu_->menuAction(), can.directSampling, saidDirect_, "rtlsdr_set_direct_sampling");
  offer(offset_, can.offsetTuning, saidOffset_, "rtlsdr_set_offset_tuning");
  directMenu_->setEnabled(directMenu_->menuAction()->isEnabled());
  biasTee_->setChecked(receiver_.BiasTee());
  offset_->setChecked(receiver_.OffsetTuning());
  for (QAction* a : directMenu_->actions()) a->setChecked(a->data().toInt() == receiver_.DirectSampling());
}

std::vector<ReceiverChoice> TReceiverMenu::InUseChoices() const {
  std::vector<ReceiverChoice> used;
  if (!receiver_.IsOpen()) return used;
  // As the report has them: a stick chosen on the command line that did not
  // open is not in use.
  const ReceiverReport& r = receiver_.Report();
  const auto add = [&used](uint32_t index, const std::string& servedFrom) {
    ReceiverChoice c{index, std::nullopt};
    RtlTcpAddress address;
    if (!servedFrom.empty() && RtlTcpAddress::Parse(servedFrom, address)) c = ReceiverChoice{0, address};
    used.push_back(c);
  };
  add(r.index, r.servedFrom);
  for (const ReceiverReport::Stick& s : r.others)
    if (s.openResult >= 0) add(s.index, s.servedFrom);
  return used;
}

std::string TReceiverMenu::Named(const ReceiverChoice& c) {
  return c.remote ? RemoteName(c.remote->Text()) : std::to_string(c.index);
}

void TReceiverMenu::KeepForEach(const ReceiverOwn& own, bool firstOnly) {
  for (const std::string& key : receiver_.KeysInUse()) {
    settings_.SetReceiverOwn(key, own);
    if (firstOnly) return;
  }
}

bool TReceiverMenu::Waits(std::function<void(bool, bool)> say) {
  if (!receiver_.LastChangeWaits()) return false;
  waiting_.push_back(std::move(say));
  return true;
}

void TReceiverMenu::Settled(bool taken) {
  if (waiting_.empty()) {  // a change of the start-up: no line
    Refresh();
    return;
  }
  const std::function<void(bool, bool)> say = std::move(waiting_.front());
  waiting_.pop_front();
  say(taken, !taken && receiver_.LastChangeKept());
}

std::string TReceiverMenu::NotTaken(const std::string& refused) const {
  return receiver_.ReceiverLost() ? tr(" — не применено: приёмник не отвечает").toStdString() : refused;
}

std::string TReceiverMenu::Kept(bool kept) const {
  return kept ? tr(" — будет применено, когда приёмник вернётся").toStdString() : std::string();
}

bool TReceiverMenu::ChooseGain(std::optional<int> tenthsDb) {
  const bool ok = receiver_.SetGain(tenthsDb);
  if (Waits([this, tenthsDb](bool taken, bool kept) { SayGain(tenthsDb, taken || kept, kept); })) return false;
  const bool kept = !ok && receiver_.LastChangeKept();
  SayGain(tenthsDb, ok || kept, kept);
  return ok;
}

void TReceiverMenu::SayGain(std::optional<int> tenthsDb, bool ok, bool kept) {
  const std::string value = (tenthsDb ? GainDb(*tenthsDb) : tr("авто")).toStdString();
  const std::string line = tr("Усиление, дБ: ").toStdString() + value;
  log_(ok ? line + Kept(kept) : line + NotTaken(tr(" — не принято приёмником").toStdString()));
  if (ok) {
    const GainChoice g = tenthsDb ? GainChoice{false, *tenthsDb} : GainChoice{true, 0};
    settings_.SetGain(g);
    KeepForEach(ReceiverOwn{.gain = g});
  }
  Refresh();
}

bool TReceiverMenu::ChooseCorrection(int ppm) {
  const bool ok = receiver_.SetFreqCorrection(ppm);
  if (Waits([this, ppm](bool taken, bool kept) { SayCorrection(ppm, taken || kept, kept); })) return false;
  const bool kept = !ok && receiver_.LastChangeKept();
  SayCorrection(ppm, ok || kept, kept);
  return ok;
}

void TReceiverMenu::SayCorrection(int ppm, bool ok, bool kept) {
  if (ok) {
    // Away, the stick has not read the value back yet.
    log_("PPM: " + rt::FormatInt(kept ? ppm : receiver_.Report().freqCorrection) + Kept(kept));
    settings_.SetPpm(ppm);
    KeepForEach(ReceiverOwn{.ppm = ppm}, true);  // the first's own crystal
  } else if (receiver_.ReceiverLost()) {
    log_("PPM: " + rt::FormatInt(ppm) + NotTaken({}));
  } else {
    log_("PPM: " + rt::FormatInt(ppm) + tr(" — не принято приёмником, остаётся ").toStdString() +
         rt::FormatInt(receiver_.FreqCorrection()));
  }
}

bool TReceiverMenu::ChooseRate(uint32_t rate) {
  const bool ok = receiver_.SetSampleRate(rate);
  if (Waits([this, rate](bool taken, bool kept) { SayRate(rate, taken || kept, kept); })) return false;
  const bool kept = !ok && receiver_.LastChangeKept();
  SayRate(rate, ok || kept, kept);
  return ok;
}

void TReceiverMenu::SayRate(uint32_t rate, bool ok, bool kept) {
  const ReceiverReport& r = receiver_.Report();
  if (ok) {
    log_(tr("Полоса: ").toStdString() + rt::FormatInt(r.sampleRate) + tr(" Hz, шаг по частоте, Hz: ").toStdString() +
         rt::FormatFixed(r.binWidth, 2) + Kept(kept));
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
  if (Waits([this, index](bool taken, bool) { SayReceiver(index, taken); })) return false;
  SayReceiver(index, ok);
  return ok;
}

void TReceiverMenu::SayReceiver(uint32_t index, bool ok) {
  const ReceiverReport& r = receiver_.Report();
  if (ok && index < r.devices.size()) {
    const auto& d = r.devices[index];
    log_(tr("Приёмник ").toStdString() + rt::FormatInt(index) + ": " + d.name + tr(", серийник ").toStdString() + d.serial);
    settings_.SetReceiverSerial(d.serial);
    settings_.SetSharedReceivers({});
  } else if (receiver_.IsOpen()) {
    log_(tr("Приёмник ").toStdString() + rt::FormatInt(index) + tr(" не открылся").toStdString() +
         tr(", снова открыт приёмник ").toStdString() + InUse());
  } else {
    log_(tr("Приёмник ").toStdString() + rt::FormatInt(index) + tr(" не открылся").toStdString());
  }
  Refresh();
}

bool TReceiverMenu::TickReceiver(const ReceiverChoice& choice, bool on) {
  std::vector<ReceiverChoice> used = InUseChoices();
  const auto it = std::find_if(used.begin(), used.end(), [&](const ReceiverChoice& c) { return SameReceiver(c, choice); });
  if (on == (it != used.end()) || (!on && used.size() == 1)) {
    // Nothing to change, or the last one in use: the entry shows it again.
    Refresh();
    return false;
  }
  if (on)
    used.push_back(choice);
  else
    used.erase(it);
  const bool ok = receiver_.UseReceivers(used);
  SayTick(choice, on, ok);
  const std::vector<ReceiverChoice> now = InUseChoices();
  const bool inUse = std::any_of(now.begin(), now.end(), [&](const ReceiverChoice& c) { return SameReceiver(c, choice); });
  return ok && inUse == on;
}

void TReceiverMenu::SayTick(const ReceiverChoice& choice, bool on, bool ok) {
  const std::vector<ReceiverChoice> used = InUseChoices();
  // A receiver that did not open says why in its report line.
  const ReceiverReport& r = receiver_.Report();
  if (on && ok) {
    const std::vector<std::string> lines = FormatSharingSticks(r);
    for (size_t k = 0; k < r.others.size() && k < lines.size(); ++k) {
      const ReceiverReport::Stick& s = r.others[k];
      const bool same = choice.remote ? s.servedFrom == choice.remote->Text() : s.servedFrom.empty() && s.index == choice.index;
      if (same) log_(lines[k]);
    }
  } else if (!ok) {
    log_(choice.remote ? RemoteOpenFailedText(choice.remote->Text(), r.openResult)
                       : tr("Приёмник ").toStdString() + Named(choice) + tr(" не открылся").toStdString());
  }
  std::string names;
  for (const ReceiverChoice& c : used) names += (names.empty() ? "" : ", ") + Named(c);
  if (!used.empty()) log_(tr("Приёмники в работе: ").toStdString() + names);
  if (!used.empty() && !used.front().remote && used.front().index < r.devices.size())
    settings_.SetReceiverSerial(r.devices[used.front().index].serial);
  // The next start opens them all again.
  std::vector<std::string> keys;
  for (const ReceiverChoice& c : used)
    if (c.remote)
      keys.push_back(RemoteName(c.remote->Text()));
    else if (c.index < r.devices.size())
      keys.push_back(r.devices[c.index].serial);
  if (!used.empty()) settings_.SetSharedReceivers(keys);
  Refresh();
}

bool TReceiverMenu::AddRemote(const std::string& hostPort) {
  RtlTcpAddress address;
  if (!RtlTcpAddress::Parse(hostPort, address)) return false;
  std::vector<std::string> remotes = settings_.Values().remotes;
  if (std::find(remotes.begin(), remotes.end(), address.Text()) == remotes.end()) {
    remotes.push_back(address.Text());
    settings_.SetRemotes(remotes);
  }
  return TickReceiver(ReceiverChoice{0, address}, true);
}

bool TReceiverMenu::ChooseBiasTee(bool on) {
  return ChooseOption(receiver_.SetBiasTee(on), QStringLiteral("Bias-T"), on ? tr("вкл") : tr("выкл"),
                      ReceiverOwn{.biasTee = on});
}

bool TReceiverMenu::ChooseDirectSampling(int mode) {
  const QString branch = mode == 0 ? tr("выкл") : mode == 1 ? QStringLiteral("I") : QStringLiteral("Q");
  return ChooseOption(receiver_.SetDirectSampling(mode), tr("Прямая выборка"), branch,
                      ReceiverOwn{.directSampling = mode});
}

bool TReceiverMenu::ChooseOffsetTuning(bool on) {
  return ChooseOption(receiver_.SetOffsetTuning(on), tr("Смещённая настройка"), on ? tr("вкл") : tr("выкл"),
                      ReceiverOwn{.offsetTuning = on});
}

bool TReceiverMenu::ChooseOption(bool ok, const QString& name, const QString& value, const ReceiverOwn& own) {
  const auto say = [this, name, value, own](bool taken, bool kept) {
    SayOption(name, value, taken || kept, kept);
    if (taken || kept) KeepForEach(own);
  };
  if (Waits(say)) return false;
  say(ok, !ok && receiver_.LastChangeKept());
  return ok;
}

void TReceiverMenu::SayOption(const QString& name, const QString& value, bool ok, bool kept) {
  const std::string line = (name + QStringLiteral(": ") + value).toStdString();
  log_(ok ? line + Kept(kept) : line + NotTaken(tr(" — не принято приёмником").toStdString()));
  Refresh();
}

std::string TReceiverMenu::InUse() const {
  const ReceiverReport& r = receiver_.Report();
  return r.servedFrom.empty() ? rt::FormatInt(r.index) : RemoteName(r.servedFrom);
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

void TReceiverMenu::AskRemote() {
  auto* dialog = new QDialog(window_);
  dialog->setObjectName(QStringLiteral("RemoteDialog"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(QStringLiteral("Add remote receiver"));
  auto* host = new QLineEdit(dialog);
  host->setObjectName(QStringLiteral("host"));
  host->setPlaceholderText(QStringLiteral("host name or address"));
  auto* port = new QSpinBox(dialog);
  port->setObjectName(QStringLiteral("port"));
  port->setRange(1, 65535);
  port->setValue(RtlTcpAddress::kDefaultPort);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  auto* form = new QFormLayout(dialog);
  form->addRow(QStringLiteral("rtl_tcp server:"), host);
  form->addRow(QStringLiteral("Port:"), port);
  form->addRow(buttons);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  // Only what reads as a host and port can be taken: nothing is connected
  // to but the address the user typed.
  const auto check = [host, port, ok] {
    ok->setEnabled(RemoteAddress(host->text(), QString::number(port->value())).has_value());
  };
  check();
  connect(host, &QLineEdit::textChanged, dialog, check);
  connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::accepted, dialog, [this, dialog, host, port] {
    const auto address = RemoteAddress(host->text(), QString::number(port->value()));
    if (!address) return;
    dialog->accept();
    AddRemote(*address);
  });
  dialog->open();
}

}  // namespace wg
