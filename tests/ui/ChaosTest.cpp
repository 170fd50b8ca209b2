// Random use of the real window on the simulated receiver, as a hurried or
// careless user would: typing and pasting anything into the range editors,
// holding the spin buttons, keys, zooms, pans and wheel on the chart, range
// changes, the receiver's controls, while the simulated stick fails at a
// random read. After every
// action the window must still be sound. Each fault runs in its own process
// (one test each), so a hung read of one cannot touch another.
//
// Replay: the failure message gives the seed and the actions; run the same
// test with WG_CHAOS_SEED=<seed>. Other seeds explore further.
#include "chart/Chart.h"
#include "chart/FastLineSeries.h"
#include "controls/Spin.h"
#include "controls/SpinDouble.h"
#include "sweep/SweepEngine.h"
#include "tests/common/RunQueueWait.h"
#include "tests/common/StallMeter.h"
#include "tests/ui/FormFixture.h"
#include "ui/ReceiverMenu.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The editors' limits and the most points a scan range may need.
constexpr int64_t kLowestHz = 100000;
constexpr int64_t kHighestHz = 4000000000;
constexpr int kMostPoints = 5120000;
// Resident memory the window may use at any time: the widest range's series
// and sweep with room for the sanitizers' bookkeeping.
constexpr long kMostResidentMb = 1536;
// The user-interface thread's longest stall may be at most this
// (WG_CHAOS_STALL_MS sets another limit, 0 only measures). The longest stall
// is printed either way.
constexpr qint64 kLongestStallMs = 100;
// Closing frees the series and the sweep; it must never wait for a worker.
constexpr qint64 kLongestClosingMs = 1000;
// How long one process plays.
constexpr qint64 kPlayMs = 7000;
constexpr uint64_t kDefaultSeed = 20261207;

long ResidentMb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024) / 1024;
}

uint64_t SeedFromEnvironment() {
  const char* s = std::getenv("WG_CHAOS_SEED");
  return s && *s ? std::strtoull(s, nullptr, 10) : kDefaultSeed;
}

using wgtest::RunQueueWaitNs;
using wgtest::StallMeter;

class Chaos : public FormTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    seed_ = SeedFromEnvironment();
    rng_.seed(seed_ ^ std::hash<std::string>{}(GetParam()));
    ::setenv("RTLSDR_SIM_FAULT", GetParam(), 1);
    // A sweep of the initial range is 5 reads; the fault comes within the
    // first few dozen sweeps of whatever range is being swept.
    faultAfter_ = std::uniform_int_distribution<int>(0, 150)(rng_);
    ::setenv("RTLSDR_SIM_FAULT_AFTER", std::to_string(faultAfter_).c_str(), 1);
    if (const char* limit = std::getenv("WG_CHAOS_STALL_MS"); limit && *limit) stallLimitMs_ = std::atoll(limit);
    // Remembered settings go to a folder of this run's own: never the
    // user's, and no run starts from what another left.
    char tmpl[] = "/tmp/wg-chaos-config-XXXXXX";
    config_ = ::mkdtemp(tmpl);
    ::setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("RTLSDR_SIM_FAULT");
    ::unsetenv("RTLSDR_SIM_FAULT_AFTER");
    FormTest::TearDown();
    std::filesystem::remove_all(config_);
  }

  int Pick(int from, int to) { return std::uniform_int_distribution<int>(from, to)(rng_); }
  bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }

  wg::TSpinEditDouble* AnEditor() { return Chance(0.5) ? form_->StartFreqEdit : form_->StopFreqEdit; }
  static const char* Name(const wg::TSpinEditDouble* e, const MainWindow& f) {
    return e == f.StartFreqEdit ? "start" : "stop";
  }

  // Text a user might type or paste: numbers good and bad, huge and signed,
  // with stray letters and points.
  std::string SomeText() {
    static const char* const kWild[] = {"99999999", "-5", "0", "4000", "4000.5", "1e9", "0.1",
                                        "146.52", "..", "12a", "-", "+3", "0000000000000000000001",
                                        "88,6", "1766", "24", "3999.999999999"};
    if (Chance(0.4)) return kWild[Pick(0, static_cast<int>(std::size(kWild)) - 1)];
    static const char kChars[] = "0123456789012345678901234567890123456789.-+eaZ ";
    std::string s;
    const int n = Pick(1, Chance(0.2) ? 40 : 6);
    for (int i = 0; i < n; ++i) s += kChars[Pick(0, static_cast<int>(sizeof kChars) - 2)];
    return s;
  }

  QPoint OnChart() {
    const QRect r = form_->Chart1->rect();
    return {Pick(r.width() / 8, r.width() * 7 / 8), Pick(r.height() / 8, r.height() * 7 / 8)};
  }
  QPoint Away(QPoint from, int sx, int sy) {
    return from + QPoint(sx * Pick(15, 120), sy * Pick(15, 120));
  }

  // One input event (or a small gesture) as a step of its own, then the
  // event loop turns for a moment and the invariants are checked.
  void Step(const std::string& what, const std::function<void()>& act) {
    actions_.push_back(what);
    QElapsedTimer took;
    took.start();
    try {
      act();
    } catch (const std::exception& e) {
      Fail(std::string("an exception escaped: ") + e.what());
    } catch (...) {
      Fail("an exception escaped");
    }
    if (const qint64 ms = took.elapsed(); ms >= 20) actions_.back() += " (" + std::to_string(ms) + " ms)";
    if (failed_) return;
    QTest::qWait(Pick(0, 3) == 0 ? Pick(20, 250) : 5);
    Check();
  }

  void Check() {
    const MainWindow& f = *form_;
    wg::TSweepEngine& s = form_->Sweep();
    const int workers = (s.Running() ? 1 : 0) + wg::TSweepEngine::AbandonedWorkersAlive();
    if (workers > 1) return Fail(std::to_string(workers) + " workers alive on the receiver");
    const int64_t start = s.StartFrequency(), stop = s.StopFrequency();
    if (start < kLowestHz || stop > kHighestHz || start >= stop)
      return Fail("scan range " + std::to_string(start) + ".." + std::to_string(stop) + " Hz");
    const int points = f.Series1->PointCount();
    if (points != s.SeriesPointCount() || points > kMostPoints)
      return Fail("series has " + std::to_string(points) + " points, the range needs " +
                  std::to_string(s.SeriesPointCount()));
    if (const long mb = ResidentMb(); mb > kMostResidentMb)
      return Fail(std::to_string(mb) + " MB resident");
    if (const qint64 stall = stalls_->TakeLongest(); stall > longestStall_) {
      longestStall_ = stall;
      longestStallAfter_ = actions_.empty() ? "start" : actions_.back();
      if (stallLimitMs_ > 0 && stall > stallLimitMs_)
        return Fail("the user-interface thread stalled " + std::to_string(stall) + " ms");
    }
  }

  void Fail(const std::string& why) {
    failed_ = true;
    std::ostringstream out;
    out << why << "\nseed " << seed_ << " (WG_CHAOS_SEED), fault " << GetParam() << " after "
        << faultAfter_ << " reads; actions:\n";
    for (size_t i = 0; i < actions_.size(); ++i) out << "  " << i + 1 << ". " << actions_[i] << "\n";
    ADD_FAILURE() << out.str();
  }

  void Type(wg::TSpinEditDouble* e, const std::string& text) {
    const std::string name = Name(e, *form_);
    Step("click into " + name, [&] { QTest::mouseClick(e, Qt::LeftButton, {}, {5, 5}); });
    if (Chance(0.5)) Step("select all", [&] { QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier); });
    for (char c : text) {
      if (failed_) return;
      Step(std::string("type '") + c + "' into " + name, [&] { QTest::keyClick(e, c); });
    }
    if (Chance(0.3)) Step("Backspace in " + name, [&] { QTest::keyClick(e, Qt::Key_Backspace); });
  }

  void Paste(wg::TSpinEditDouble* e, const std::string& text) {
    const std::string name = Name(e, *form_);
    QApplication::clipboard()->setText(QString::fromStdString(text));
    Step("click into " + name, [&] { QTest::mouseClick(e, Qt::LeftButton, {}, {5, 5}); });
    Step("select all", [&] { QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier); });
    Step("paste '" + text + "' into " + name, [&] { QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier); });
  }

  void Spin(wg::TSpinEditDouble* e, bool up, int holdMs) {
    wg::TSpinButton* b = e->Button();
    const QPoint at(b->width() / 2, up ? b->height() / 4 : b->height() * 3 / 4);
    const std::string what = std::string(up ? "up" : "down") + " on " + Name(e, *form_);
    if (holdMs == 0) {
      Step("click " + what, [&] { QTest::mouseClick(b, Qt::LeftButton, {}, at); });
      return;
    }
    Step("press " + what, [&] { QTest::mousePress(b, Qt::LeftButton, {}, at); });
    // The held button repeats from its own timer while the loop turns.
    const qint64 until = QDateTime::currentMSecsSinceEpoch() + holdMs;
    while (!failed_ && QDateTime::currentMSecsSinceEpoch() < until) {
      QTest::qWait(20);
      Check();
    }
    Step("release " + what + " after " + std::to_string(holdMs) + " ms",
         [&] { QTest::mouseRelease(b, Qt::LeftButton, {}, at); });
  }

  void Drag(Qt::MouseButton button, QPoint from, QPoint to, const std::string& what) {
    wg::TChart* c = form_->Chart1;
    std::ostringstream d;
    d << what << " from (" << from.x() << "," << from.y() << ") to (" << to.x() << "," << to.y() << ")";
    Step(d.str(), [&] {
      QTest::mousePress(c, button, {}, from);
      QTest::mouseMove(c, (from + to) / 2);
      QTest::mouseMove(c, to);
      QTest::mouseRelease(c, button, {}, to);
    });
  }

  void Wheel(int delta) {
    wg::TChart* c = form_->Chart1;
    const QPoint at = OnChart();
    Step("wheel " + std::to_string(delta), [&] {
      QWheelEvent e(at, c->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
      QApplication::sendEvent(c, &e);
    });
  }

  void Key() {
    static const struct {
      Qt::Key key;
      const char* name;
    } kKeys[] = {{Qt::Key_Left, "Left"}, {Qt::Key_Right, "Right"}, {Qt::Key_Up, "Up"},
                 {Qt::Key_Down, "Down"}, {Qt::Key_Plus, "+"},      {Qt::Key_Minus, "-"}};
    const auto& k = kKeys[Pick(0, static_cast<int>(std::size(kKeys)) - 1)];
    const int times = Chance(0.2) ? Pick(5, 30) : 1;
    // A held key repeats as events of their own, each with a turn of the
    // event loop after it (at most 30 a second); pressed back to back they
    // would be one stall of the test's own making.
    Step(std::string("key ") + k.name + " x" + std::to_string(times), [&] {
      for (int i = 0; i < times; ++i) {
        if (i > 0) QTest::qWait(1);
        QWidget* to = QApplication::focusWidget();
        QTest::keyClick(to ? to : static_cast<QWidget*>(form_.get()), k.key);
      }
    });
  }

  // The receiver's controls of the chart menu, as its entries call them.
  void ReceiverControl() {
    auto* menu = form_->findChild<wg::TReceiverMenu*>();
    if (!menu) return;
    static const uint32_t kRates[] = {3200000, 2400000, 2048000, 1800000, 1024000};
    switch (Pick(0, 2)) {
      case 0: {
        const int tenths = Pick(0, 496);
        const bool automatic = Chance(0.3);
        Step(std::string("gain ") + (automatic ? "auto" : std::to_string(tenths)),
             [&] { menu->ChooseGain(automatic ? std::nullopt : std::optional<int>(tenths)); });
        break;
      }
      case 1: {
        const int ppm = Pick(-3000, 3000);
        Step("correction " + std::to_string(ppm), [&] { menu->ChooseCorrection(ppm); });
        break;
      }
      case 2: {
        const uint32_t rate = kRates[Pick(0, 4)];
        Step("sample rate " + std::to_string(rate), [&] { menu->ChooseRate(rate); });
        break;
      }
    }
  }

  void RangeChange() {
    static const double kValues[] = {0.1, 0.2, 24, 88, 108, 138, 146, 153, 1766, 3999, 4000};
    wg::TSpinEditDouble* e = AnEditor();
    const double v = Chance(0.5) ? kValues[Pick(0, static_cast<int>(std::size(kValues)) - 1)]
                                 : Pick(1, 40000) / 10.0;
    std::ostringstream d;
    d << "set " << Name(e, *form_) << " to " << v;
    Step(d.str(), [&] { e->SetValue(v); });
  }

  void Play() {
    QElapsedTimer played;
    played.start();
    while (!failed_ && played.elapsed() < kPlayMs) {
      switch (Pick(0, 12)) {
        case 0: case 1: Type(AnEditor(), SomeText()); break;
        case 2: Paste(AnEditor(), Chance(0.5) ? SomeText() : std::string(Pick(8, 200), '9')); break;
        case 3: Spin(AnEditor(), Chance(0.5), 0); break;
        case 4: Spin(AnEditor(), Chance(0.5), Pick(150, 1200)); break;
        case 5: case 6: Key(); break;
        case 7: {
          const QPoint from = OnChart();
          if (Chance(0.6)) Drag(Qt::LeftButton, from, Away(from, 1, 1), "zoom");
          else Drag(Qt::LeftButton, from, Away(from, -1, -1), "undo zoom");
          break;
        }
        case 8: {
          const QPoint from = OnChart();
          Drag(Qt::RightButton, from, Away(from, Chance(0.5) ? 1 : -1, Chance(0.5) ? 1 : -1), "pan");
          break;
        }
        case 9: Wheel((Chance(0.5) ? 1 : -1) * 120 * Pick(1, 5)); break;
        case 10: RangeChange(); break;
        case 11: Step("wait", [&] { QTest::qWait(Pick(50, 600)); }); break;
        case 12: ReceiverControl(); break;
      }
    }
  }

  uint64_t seed_ = 0;
  int faultAfter_ = 0;
  std::string config_;
  std::mt19937_64 rng_;
  std::vector<std::string> actions_;
  bool failed_ = false;
  std::unique_ptr<StallMeter> stalls_;
  qint64 stallLimitMs_ = kLongestStallMs;  // 0: measured, not checked
  qint64 longestStall_ = 0;
  std::string longestStallAfter_;
};

TEST_P(Chaos, TheWindowStaysSound) {
  MainWindow& f = Open();
  f.resize(900, 560);
  f.activateWindow();
  QApplication::processEvents();
  std::printf("chaos: seed %llu, fault %s after %d reads\n", static_cast<unsigned long long>(seed_),
              GetParam(), faultAfter_);
  stalls_ = std::make_unique<StallMeter>();
  Check();
  Play();
  stalls_.reset();
  std::printf("chaos: %zu actions, longest stall %lld ms (limit %lld ms), after: %s\n", actions_.size(),
              static_cast<long long>(longestStall_), static_cast<long long>(stallLimitMs_),
              longestStallAfter_.c_str());
  if (failed_) return;
  // Closing never waits for a worker, hung or not (the engine would wait
  // seconds for one).
  actions_.push_back("close the window");
  QElapsedTimer closing;
  closing.start();
  const int64_t waitedBefore = RunQueueWaitNs();
  form_.reset();
  const qint64 took = closing.elapsed() - (RunQueueWaitNs() - waitedBefore) / 1000000;
  if (took > kLongestClosingMs)
    Fail("closing took " + std::to_string(took) + " ms");
}

INSTANTIATE_TEST_SUITE_P(Faults, Chaos, ::testing::Values("none", "short", "error", "unplug", "hang"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
