#include "sweep/ReceiverSetup.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include <QCoreApplication>

#include "receiver/LocalRtlSdr.h"
#include "receiver/RtlSdrLibrary.h"
#include "receiver/RtlTcpDevice.h"
#include "receiver/api_rtl_sdr.h"
#include "sweep/FftLevels.h"
#include "sweep/SweepEngine.h"

namespace wg {
namespace {

namespace api = api_rtl_sdr;

// Names of the entry points that the set-up and the sweep call but the
// library did not provide.
std::string MissingEntryPoints() {
  const struct {
    const char* name;
    bool present;
  } needed[] = {
      {"rtlsdr_get_device_count", api::rtlsdr_get_device_count != nullptr},
      {"rtlsdr_get_device_name", api::rtlsdr_get_device_name != nullptr},
      {"rtlsdr_get_device_usb_strings", api::rtlsdr_get_device_usb_strings != nullptr},
      {"rtlsdr_open", api::rtlsdr_open != nullptr},
      {"rtlsdr_set_center_freq", api::rtlsdr_set_center_freq != nullptr},
      {"rtlsdr_set_freq_correction", api::rtlsdr_set_freq_correction != nullptr},
      {"rtlsdr_get_freq_correction", api::rtlsdr_get_freq_correction != nullptr},
      {"rtlsdr_get_tuner_type", api::rtlsdr_get_tuner_type != nullptr},
      {"rtlsdr_get_tuner_gains", api::rtlsdr_get_tuner_gains != nullptr},
      {"rtlsdr_set_tuner_gain_mode", api::rtlsdr_set_tuner_gain_mode != nullptr},
      {"rtlsdr_set_sample_rate", api::rtlsdr_set_sample_rate != nullptr},
      {"rtlsdr_get_sample_rate", api::rtlsdr_get_sample_rate != nullptr},
      {"rtlsdr_reset_buffer", api::rtlsdr_reset_buffer != nullptr},
      {"rtlsdr_read_sync", api::rtlsdr_read_sync != nullptr},
  };
  std::string missing;
  for (const auto& n : needed) {
    if (n.present) continue;
    if (!missing.empty()) missing += ", ";
    missing += n.name;
  }
  return missing;
}

// Fills the receiver list of the record.
void ListReceivers(ReceiverReport& r) {
  r.devices.clear();
  if (const auto library = RtlSdrLibrary::FromLoader())
    for (ListedReceiver& l : library->List())
      r.devices.push_back({std::move(l.name), std::move(l.manufacturer), std::move(l.product), std::move(l.serial)});
  r.deviceCount = static_cast<uint32_t>(r.devices.size());
}

bool LibraryComplete(ReceiverReport& r) {
  const std::string missing = MissingEntryPoints();
  if (missing.empty()) return true;
  r = ReceiverReport{};
  r.outcome = ReceiverReport::Outcome::LibraryMissing;
  r.libraryFile = ReceiverLibraryFile();
  r.libraryLoaded = api::Loaded();
  if (api::Failure() == api::LoadFailure::Unloadable) r.loadFailure = api::FailureReason();
  if (r.libraryLoaded) r.missingEntryPoints = missing;
  return false;
}

// The device of a choice, and the serial its remembered settings go by;
// nullptr for a local stick without the library.
std::unique_ptr<ReceiverDevice> MakeDevice(const ReceiverChoice& c, const ReceiverReport& r, std::string& serial) {
  if (c.remote) {
    auto remote = std::make_unique<RtlTcpDevice>(*c.remote);
    serial = remote->Serial();
    return remote;
  }
  serial = c.index < r.devices.size() ? r.devices[c.index].serial : std::string();
  std::shared_ptr<const RtlSdrLibrary> library = RtlSdrLibrary::FromLoader();
  if (!library) return nullptr;
  return std::make_unique<LocalRtlSdr>(library, c.index, serial);
}

}  // namespace

bool SameReceiver(const ReceiverChoice& a, const ReceiverChoice& b) {
  if (a.remote || b.remote) return a.remote && b.remote && a.remote->Text() == b.remote->Text();
  return a.index == b.index;
}

std::string RemoteOpenFailedText(const std::string& servedFrom, int openResult) {
  const char* reason = nullptr;
  switch (openResult) {
    case kRtlTcpUnresolved: reason = QT_TRANSLATE_NOOP("SweepEngine", "такое имя узла не найдено"); break;
    case kRtlTcpRefused: reason = QT_TRANSLATE_NOOP("SweepEngine", "там никто не слушает"); break;
    case kRtlTcpUnreachable: reason = QT_TRANSLATE_NOOP("SweepEngine", "нет ответа"); break;
    case kRtlTcpNoHeader:
      reason = QT_TRANSLATE_NOOP("SweepEngine", "сервер не прислал заголовок (занят другим клиентом или не rtl_tcp)");
      break;
    case kRtlTcpNotRtlTcp: reason = QT_TRANSLATE_NOOP("SweepEngine", "это не сервер rtl_tcp"); break;
    case kRtlTcpNotDue: reason = QT_TRANSLATE_NOOP("SweepEngine", "следующая попытка позже"); break;
    default: break;
  }
  std::string text = EngineText(QT_TRANSLATE_NOOP("SweepEngine", "Не удалось подключиться к приёмнику ")) +
                     RemoteName(servedFrom) + ": ";
  return text + (reason ? EngineText(reason) : std::to_string(openResult));
}

// Where a change's outcome waits for the user-interface thread. The receiver
// answers on its own thread; nothing is posted once the set-up is gone.
struct TReceiverSetup::Mailbox {
  std::mutex m;
  std::condition_variable cv;
  bool open = true;
  PostToUi post;
};

namespace {

struct Answer {
  bool have = false, taken = false, later = false;
  size_t left = 0;  // sticks yet to answer
  bool kept = false;  // every one that did not take it keeps it for its return
  std::function<void()> settleLater;  // posted once the caller stopped waiting
};

}  // namespace

TReceiverSetup::TReceiverSetup(TSweepEngine& engine) : engine_(engine), mailbox_(std::make_shared<Mailbox>()) {
  mailbox_->post = engine_.Poster();
  noteListener_ = engine_.AddReceiverListener([this](const PoolNote&) { Advance(); });
}

TReceiverSetup::~TReceiverSetup() {
  engine_.RemoveReceiverListener(noteListener_);
  Close();
  std::lock_guard lk(mailbox_->m);
  mailbox_->open = false;
}

Receiver* TReceiverSetup::Open() const { return receiver_ ? engine_.FindReceiver(receiver_) : nullptr; }

bool TReceiverSetup::IsOpen() const {
  const Receiver* r = Open();
  return r && r->State() == ReceiverState::Open;
}

bool TReceiverSetup::ReceiverLost() const { return engine_.WorkerAbandoned(); }

bool TReceiverSetup::RemoteReconnecting() const {
  return std::any_of(remotes_.begin(), remotes_.end(), [this](ReceiverId id) {
    const Receiver* r = engine_.FindReceiver(id);
    return r && r->State() == ReceiverState::Lost;
  });
}

bool TReceiverSetup::ReceiverAway() const { return engine_.ReceiverAway(); }

void TReceiverSetup::SetConnectInBackground(std::function<void(const ReceiverReport&)> reported) {
  reported_ = std::move(reported);
}

void TReceiverSetup::KeepWhileAway(const std::function<void(Receiver&)>& keep, bool firstOnly) {
  lastChangeKept_ = ReceiverAway();
  // Those away keep it; the others sharing the range apply it between steps.
  for (ReceiverId id : receivers_)
    if (Receiver* r = engine_.FindReceiver(id); r && (!firstOnly || id == receiver_)) keep(*r);
}

bool TReceiverSetup::Change(std::function<void(Receiver&, Receiver::Done)> ask, std::function<void(bool)> settle,
                            bool firstOnly) {
  lastChangeWaits_ = false;
  std::vector<Receiver*> all;
  for (ReceiverId id : receivers_)
    if (Receiver* r = engine_.FindReceiver(id); r && (!firstOnly || id == receiver_)) all.push_back(r);
  if (!Open() || engine_.WorkerAbandoned()) return false;
  // One away keeps the value for its return; the change is the open ones'.
  std::erase_if(all, [&](Receiver* r) {
    if (r->State() != ReceiverState::Lost) return false;
    ask(*r, {});
    return true;
  });
  if (all.empty()) return false;
  auto answer = std::make_shared<Answer>();
  answer->taken = true;
  answer->left = all.size();
  std::shared_ptr<Mailbox> box = mailbox_;
  // Every stick is asked; the change is taken when each took it.
  answer->kept = true;
  for (Receiver* r : all)
    ask(*r, [answer, box](Receiver::Answer a) {
      std::lock_guard lk(box->m);
      answer->taken = answer->taken && a == Receiver::Answer::Taken;
      if (a != Receiver::Answer::Taken) answer->kept = answer->kept && a == Receiver::Answer::Kept;
      if (--answer->left > 0) return;
      answer->have = true;
      box->cv.notify_all();
      if (answer->later && box->open && box->post) box->post(std::move(answer->settleLater));
    });
  std::unique_lock lk(box->m);
  if (box->cv.wait_for(lk, kChangeWait, [&] { return answer->have; })) {
    lk.unlock();
    lastChangeKept_ = !answer->taken && answer->kept && !engine_.WorkerAbandoned();
    settle(answer->taken || lastChangeKept_);
    return answer->taken;
  }
  // Settled on this thread once the receiver has answered; the set-up may be
  // gone by then.
  answer->later = true;
  answer->settleLater = [this, box, answer, settle] {
    {
      std::lock_guard lk2(box->m);
      if (!box->open) return;
    }
    lastChangeKept_ = !answer->taken && answer->kept && !engine_.WorkerAbandoned();
    settle(answer->taken || lastChangeKept_);
    if (settled_) settled_(answer->taken);
  };
  lastChangeWaits_ = true;
  return false;
}

void TReceiverSetup::Close() {
  engine_.Stop();
  receiver_ = 0;
  remotes_.clear();
  // An open still under way (a remote one connecting) ends on its own thread.
  phase_ = Phase::Idle;
  for (const Opening& o : std::exchange(opening_, {}))
    if (o.id) engine_.RemoveReceiver(o.id, std::chrono::milliseconds(0));
  if (const ReceiverId id = std::exchange(first_, Opening{}).id) engine_.RemoveReceiver(id, std::chrono::milliseconds(0));
  // A read that is merely slow is waited out, so that the next open finds
  // the stick free; one that hung is not waited for at all.
  for (ReceiverId id : std::exchange(receivers_, {}))
    engine_.RemoveReceiver(id, engine_.WorkerAbandoned() ? std::chrono::milliseconds(0) : kOpenWait);
}

void TReceiverSetup::SetFast(bool on) {
  if (on == engine_.Fast()) return;
  engine_.SetFast(on);
  if (IsOpen()) Restart(false);
}

bool TReceiverSetup::Fast() const { return engine_.Fast(); }

void TReceiverSetup::SetKeepDcSpike(bool keep) {
  if (keep == engine_.KeepDcSpike()) return;
  engine_.SetKeepDcSpike(keep);
  if (IsOpen()) Restart(false);
}

bool TReceiverSetup::KeepDcSpike() const { return engine_.KeepDcSpike(); }

void TReceiverSetup::SetCrop(double share) {
  const double before = engine_.Crop();
  engine_.SetCrop(share);
  if (engine_.Crop() != before && IsOpen()) Restart(true);
}

double TReceiverSetup::Crop() const { return engine_.Crop(); }

void TReceiverSetup::ChooseReceivers(std::vector<uint32_t> indices) {
  std::vector<ReceiverChoice> chosen;
  for (uint32_t i : indices) chosen.push_back(ReceiverChoice{i, std::nullopt});
  ChooseReceivers(std::move(chosen));
}

void TReceiverSetup::ChooseReceivers(std::vector<ReceiverChoice> chosen) {
  if (chosen.empty()) return;
  index_ = chosen.front().index;
  remote_ = chosen.front().remote;
  others_.assign(chosen.begin() + 1, chosen.end());
}

ReceiverSettings TReceiverSetup::SettingsFor(const std::string& key) const {
  ReceiverSettings settings;
  settings.gainMode = gainMode_;
  settings.gainTenths = gain_;
  settings.freqCorrection = ppm_;
  settings.sampleRate = rate_;
  settings.biasTee = biasTee_;
  settings.directSampling = directSampling_;
  settings.offsetTuning = offsetTuning_;
  if (byKey_ && !key.empty()) {
    settings = byKey_(key, settings);
    settings.sampleRate = rate_;  // one step width for the whole range
  }
  return settings;
}

void TReceiverSetup::OpenOthers() {
  BeginOthers();
  for (const Opening& o : opening_)
    if (Receiver* r = o.id ? engine_.FindReceiver(o.id) : nullptr) r->WaitOpened(kOpenWait);
  FinishOthers();
}

void TReceiverSetup::BeginOthers() {
  report_.others.clear();
  opening_.clear();
  for (const ReceiverChoice& choice : others_) {
    if (!choice.remote && !remote_ && choice.index == index_) continue;
    if (choice.remote && remote_ && choice.remote->Text() == remote_->Text()) continue;
    ReceiverReport::Stick stick;
    stick.index = choice.index;
    if (choice.remote) stick.servedFrom = choice.remote->Text();
    stick.openResult = -1;
    std::unique_ptr<ReceiverDevice> device = MakeDevice(choice, report_, stick.serial);
    report_.others.push_back(stick);
    if (!device || (!choice.remote && choice.index >= report_.deviceCount)) continue;
    ReceiverSettings settings = SettingsFor(stick.serial);
    settings.sampleRate = rate_;  // one step width for the whole range
    // They open at the same time, each on its own thread.
    if (const ReceiverId id = engine_.AddReceiver(std::make_unique<Receiver>(std::move(device), settings)))
      opening_.push_back(Opening{id, choice.remote.has_value(), report_.others.size() - 1});
  }
}

void TReceiverSetup::FinishOthers() {
  for (const Opening& o : std::exchange(opening_, {})) {
    Receiver* r = engine_.FindReceiver(o.id);
    if (!r) continue;
    ReceiverReport::Stick& stick = report_.others[o.stick];
    const ReceiverFound found = r->Found();
    stick.openResult = found.openResult;
    if (r->State() != ReceiverState::Open) {
      if (stick.openResult >= 0) stick.openResult = -1;
      engine_.RemoveReceiver(o.id, std::chrono::milliseconds(0));
      continue;
    }
    stick.tuner = static_cast<uint8_t>(found.tuner);
    stick.freqCorrection = found.freqCorrection;
    receivers_.push_back(o.id);
    if (o.remote) remotes_.push_back(o.id);
  }
}

bool TReceiverSetup::Settled(ReceiverId id) const {
  const Receiver* r = engine_.FindReceiver(id);
  return !r || r->State() != ReceiverState::Opening;
}

void TReceiverSetup::Advance() {
  if (phase_ == Phase::First) {
    if (!Settled(first_.id)) return;
    if (!FinishFirst()) {
      phase_ = Phase::Idle;
      report_.pending = false;
      if (reported_) reported_(report_);
      return;
    }
    BeginOthers();
    phase_ = Phase::Others;
  }
  if (phase_ != Phase::Others) return;
  for (const Opening& o : opening_)
    if (!Settled(o.id)) return;
  phase_ = Phase::Idle;
  FinishOthers();
  Restart(true);
  report_.pending = false;
  if (reported_) reported_(report_);
}

ReceiverReport TReceiverSetup::Run() {
  Close();
  const bool remote =
      remote_ || std::any_of(others_.begin(), others_.end(), [](const ReceiverChoice& c) { return c.remote.has_value(); });
  if (reported_ && remote) {
    if (!ListChosen()) return report_;
    // The window goes on; the report comes once the receivers have opened.
    if (!BeginFirst(ReceiverChoice{index_, remote_})) return report_;
    phase_ = Phase::First;
    report_.pending = true;
    return report_;
  }
  OpenChosen();
  return report_;
}

void TReceiverSetup::ChooseReceiver(uint32_t index) {
  index_ = index;
  remote_.reset();
}

std::vector<ReceiverChoice> TReceiverSetup::Chosen() const {
  std::vector<ReceiverChoice> chosen{ReceiverChoice{index_, remote_}};
  chosen.insert(chosen.end(), others_.begin(), others_.end());
  return chosen;
}

bool TReceiverSetup::OpenReceiver(uint32_t index) { return UseReceivers({ReceiverChoice{index, std::nullopt}}); }

bool TReceiverSetup::UseReceivers(std::vector<ReceiverChoice> chosen) {
  lastChangeWaits_ = false;
  if (chosen.empty()) return false;
  const std::vector<ReceiverChoice> previous = Chosen();
  const bool wasOpen = IsOpen();
  Close();
  ChooseReceivers(std::move(chosen));
  if (OpenChosen()) {
    // One that did not open is no longer chosen: its entry shows it not in
    // use, and the next set-up does not try it again.
    std::vector<ReceiverChoice> kept;
    for (size_t k = 0; k < others_.size() && k < report_.others.size(); ++k)
      if (report_.others[k].openResult >= 0) kept.push_back(others_[k]);
    others_ = std::move(kept);
    return true;
  }
  // Left with none open, every range edit would say so: the receivers that
  // worked are opened again instead.
  ChooseReceivers(previous);
  if (wasOpen) OpenChosen();
  return false;
}

bool TReceiverSetup::ListChosen() {
  // Without every entry point it calls, the set-up says which file it looked
  // for and stops before touching the library; a remote stick first needs
  // none, and the local ones are listed only when there is one.
  const bool library = LibraryComplete(report_);
  if (!library && !remote_) return false;
  report_ = ReceiverReport{};
  if (library) ListReceivers(report_);
  if (report_.deviceCount == 0 && !remote_) {
    report_.outcome = ReceiverReport::Outcome::NoReceiver;
    return false;
  }
  return true;
}

bool TReceiverSetup::OpenChosen() {
  if (!ListChosen()) return false;
  if (!OpenAndConfigure(ReceiverChoice{index_, remote_})) return false;
  // Each once, so that the report's sticks follow the choices one for one.
  std::vector<ReceiverChoice> once;
  for (const ReceiverChoice& c : others_)
    if (!SameReceiver(c, ReceiverChoice{index_, remote_}) &&
        std::none_of(once.begin(), once.end(), [&](const ReceiverChoice& o) { return SameReceiver(o, c); }))
      once.push_back(c);
  others_ = std::move(once);
  OpenOthers();
  Restart(true);
  return true;
}

bool TReceiverSetup::OpenAndConfigure(const ReceiverChoice& choice) {
  if (!BeginFirst(choice)) return false;
  // The stick opens and is set up on its own thread; the sweep starts once
  // it has, as it always did.
  if (Receiver* r = engine_.FindReceiver(first_.id)) r->WaitOpened(kOpenWait);
  return FinishFirst();
}

bool TReceiverSetup::BeginFirst(const ReceiverChoice& choice) {
  ReceiverReport& r = report_;
  r.index = choice.index;
  r.servedFrom = choice.remote ? choice.remote->Text() : std::string();
  r.outcome = ReceiverReport::Outcome::OpenFailed;
  r.sweepStarted = false;
  r.openResult = -1;
  std::string serial;
  std::unique_ptr<ReceiverDevice> device = MakeDevice(choice, r, serial);
  if (!device) return false;
  const ReceiverSettings settings = SettingsFor(serial);
  first_ = Opening{engine_.AddReceiver(std::make_unique<Receiver>(std::move(device), settings)),
                   choice.remote.has_value()};
  return first_.id != 0;
}

bool TReceiverSetup::FinishFirst() {
  ReceiverReport& r = report_;
  const Opening first = std::exchange(first_, Opening{});
  Receiver* opened = engine_.FindReceiver(first.id);
  if (!opened) return false;
  const ReceiverFound found = opened->Found();
  r.openResult = found.openResult;
  if (opened->State() != ReceiverState::Open) {
    engine_.RemoveReceiver(first.id, std::chrono::milliseconds(0));
    return false;
  }
  receiver_ = first.id;
  receivers_.push_back(first.id);
  if (first.remote) remotes_.push_back(first.id);
  r.outcome = ReceiverReport::Outcome::Opened;
  r.tuner = static_cast<uint8_t>(found.tuner);
  const ReceiverSettings inForce = opened->Settings();
  rate_ = inForce.sampleRate;
  gainMode_ = inForce.gainMode;
  gain_ = inForce.gainTenths;
  ppm_ = inForce.freqCorrection;
  biasTee_ = inForce.biasTee;
  directSampling_ = inForce.directSampling;
  offsetTuning_ = inForce.offsetTuning;
  engine_.SetSampleRate(static_cast<int32_t>(rate_));
  r.sampleRate = found.sampleRate;
  r.gains = found.gains;
  r.freqCorrection = found.freqCorrection;
  r.binWidth = r.sampleRate / static_cast<double>(kPointsPerStep);
  engine_.SetBinWidth(r.binWidth);
  r.fftSize = kFftSize;
  return true;
}

void TReceiverSetup::Restart(bool newLayout) {
  engine_.Stop();
  engine_.Reset();
  if (newLayout) engine_.PrepareSeries();
  report_.sweepStarted = engine_.Start();
  report_.scanStart = engine_.StartFrequency();
  report_.scanStop = engine_.StopFrequency();
}

}  // namespace wg
