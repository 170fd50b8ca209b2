#include "app/SurveyMode.h"

#include "app/Language.h"
#include "app/Options.h"
#include "app/Settings.h"
#include "app/StartChoice.h"
#include "receiver/RtlTcpDevice.h"
#include "receiver/api_rtl_sdr.h"
#include "record/SignalsCsv.h"
#include "record/SweepRecorder.h"
#include "runtime/NumText.h"
#include "sweep/ReceiverSetup.h"
#include "sweep/QueuedEngine.h"
#include "sweep/SignalWatch.h"
#include "sweep/SweepEngine.h"

#include <QCoreApplication>
#include <QTimer>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace wg {
namespace {

// Signals reach the event loop through a socket pair: the handler only
// writes the signal's number.
int g_signalPipe[2] = {-1, -1};

void OnSignal(int sig) {
  const int saved = errno;
  const char c = static_cast<char>(sig);
  (void)!::write(g_signalPipe[1], &c, 1);
  errno = saved;
}

void Say(const std::string& line) { std::fprintf(stderr, "wideglass: %s\n", line.c_str()); }

std::string MHz(int64_t hz) { return rt::FloatToStr(static_cast<double>(hz) / 1e6); }

std::string Size(uint64_t bytes) {
  char buf[32];
  if (bytes >= 10ull * 1024 * 1024)
    std::snprintf(buf, sizeof buf, "%.0f MB", static_cast<double>(bytes) / 1048576.0);
  else
    std::snprintf(buf, sizeof buf, "%.0f kB", static_cast<double>(bytes) / 1024.0);
  return buf;
}

class Survey {
 public:
  Survey(QCoreApplication& app, const Options& o) : app_(app), options_(o) {}

  int Run() {
    std::string error;
    // A table that cannot be written is known before anything else is done.
    if (options_.signalsFile && !WriteSignalsCsvFile(*options_.signalsFile, {}, &error)) {
      Say(*options_.signalsFile + ": " + error);
      return 1;
    }
    TSweepRecorder::Options ro;
    ro.waitWhenFull = true;  // nobody is waiting on this thread but the receiver
    ro.integration = {options_.binHz.value_or(0), options_.intervalSeconds.value_or(0), options_.peakHold};
    recorder_ = TSweepRecorder::Open(*options_.record, error, [this](const std::string& reason) {
      QMetaObject::invokeMethod(&app_, [this, reason] { Fail("writing " + Where() + ": " + reason); },
                                Qt::QueuedConnection);
    }, ro);
    if (!recorder_) {
      Say(*options_.record + ": " + error);
      return 1;
    }

    engine_ = MakeQueuedEngine(app_, nullptr, [this](const std::string& text) { EngineLine(text); });
    ApplyScanChoice(*engine_, options_, nothingRemembered_);
    engine_->AddSweepListener([this](const SweepPtr& sweep) { OnSweep(sweep); });
    // A stick pulled out is waited for, and said each way; a remote one's
    // connection has lines of its own below. One of several that hangs or
    // fails a read is said once, naming it, while the others sweep on.
    engine_->AddReceiverListener([this](const PoolNote& n) {
      const bool ownLines = FromRemote(n) && (n.kind == PoolNote::Kind::Gone || n.kind == PoolNote::Kind::Back);
      if (!ownLines && !ReceiverAwayLine(n).empty()) Say(ReceiverAwayLine(n));
      // A server that hangs up after its header does so at each try: why the
      // survey keeps connecting is said once.
      if (ownLines && n.result == kRtlTcpNoSamples && !noSamplesSaid_) {
        noSamplesSaid_ = true;
        Say(n.serial + " closed the connection right after its header, before any sample: its stick may be in use or failing");
      }
    });
    if (options_.signalsFile) {
      signalWatch_ = std::make_unique<TSignalWatch>();
      // Rewritten whole at each interval the recording integrates over (each
      // second without one): a reader sees the table as it stood then.
      const int64_t every = options_.intervalSeconds.value_or(0) > 0 ? *options_.intervalSeconds : 1;
      signalsTimer_.setInterval(static_cast<int>(std::min<int64_t>(every, INT_MAX / 1000) * 1000));
      QObject::connect(&signalsTimer_, &QTimer::timeout, &app_, [this] { WriteSignals(); });
      signalsTimer_.start();
    }

    setup_ = std::make_unique<TReceiverSetup>(*engine_);
    if (!OpenReceiver()) {
      recorder_->Close();
      return 1;
    }
    // The rate's points may not reach the stop asked for: the file ends lower.
    if (engine_->RangeCut())
      Say("the scan ends at " + MHz(engine_->StopFrequency()) + " MHz instead of " +
          MHz(engine_->WantedStopFrequency()) + " MHz: at " + std::to_string(engine_->SampleRate()) +
          " Hz a sweep spans at most " + MHz(engine_->WidestRange()) + " MHz");

    // A bin size below the finest bin cannot be had: the finest is written.
    if (options_.binHz && *options_.binHz < engine_->BinWidth())
      Say("BIN " + rt::FloatToStr(*options_.binHz) + " Hz is narrower than the finest bin at " +
          std::to_string(engine_->SampleRate()) + " Hz: bins of " + rt::FloatToStr(engine_->BinWidth()) +
          " Hz are written");

    if (options_.duration)
      QTimer::singleShot(*options_.duration, &app_, [this] { Finish(0); });
    watch_.setInterval(100);
    QObject::connect(&watch_, &QTimer::timeout, &app_, [this] {
      // A remote stick whose connection was lost is waited for: the sweep
      // resumes once it is back.
      const bool reconnecting = setup_->RemoteReconnecting();
      if (reconnecting != reconnecting_) {
        reconnecting_ = reconnecting;
        Say(reconnecting ? "the connection to the remote receiver was lost; connecting again"
                         : "the remote receiver is connected again");
      }
      if (!engine_->Running() && !reconnecting && !engine_->ReceiverAway()) Fail("the receiver stopped" + (lastLine_.empty() ? "" : ": " + lastLine_));
    });
    watch_.start();
    if (::isatty(STDERR_FILENO)) {
      began_ = std::chrono::steady_clock::now();
      progress_.setInterval(1000);
      QObject::connect(&progress_, &QTimer::timeout, &app_, [this] { Progress(); });
      progress_.start();
    }
    ListenForSignals();
    const int rc = app_.exec();
    if (progressShown_) std::fputc('\n', stderr);
    return rc;
  }

 private:
  std::string Where() const { return *options_.record == "-" ? "standard output" : *options_.record; }

  // The receiver the options name, with their gain, correction and rate
  // (the set-up keeps them for the receiver it opens); the sweep starts.
  bool OpenReceiver() {
    ApplyReceiverChoice(*setup_, options_, nothingRemembered_);
    const ReceiverReport r = setup_->Run();
    switch (r.outcome) {
      case ReceiverReport::Outcome::LibraryMissing:
        Say("the receiver library " + r.libraryFile +
            (r.libraryLoaded ? " lacks " + r.missingEntryPoints : std::string(" could not be loaded")));
        return false;
      case ReceiverReport::Outcome::NoReceiver: Say("no receiver found; plug one in"); return false;
      case ReceiverReport::Outcome::OpenFailed:
        if (!r.servedFrom.empty()) {
          Say(RemoteOpenFailedText(r.servedFrom, r.openResult));
          return false;
        }
        Say("receiver " + std::to_string(r.index) + " could not be opened (rtlsdr_open: " +
            std::to_string(r.openResult) + ")");
        return false;
      case ReceiverReport::Outcome::Opened: break;
    }
    for (const std::string& line : OptionsNotInForce(*setup_, options_)) Say(line);
    if (!engine_->Running()) {
      Say("the sweep could not be started" + (lastLine_.empty() ? "" : ": " + lastLine_));
      return false;
    }
    return true;
  }

  void EngineLine(const std::string& text) {
    lastLine_ = text;
    // The frequencies the tuner cannot reach are worth knowing: their steps
    // are not in the file. A range it cannot reach at all has said why already.
    if (text.rfind(EngineText(kUntunedText), 0) == 0 && !finishing_) Say(text);
  }

  void OnSweep(const SweepPtr& sweep) {
    const bool enough = options_.sweeps && static_cast<int64_t>(sweeps_) >= *options_.sweeps;
    if (finishing_ || enough) return;
    // A sweep without one measured step writes nothing: carrying on would
    // leave an empty file behind a survey that seemed to succeed.
    if (!sweep->levels.empty() &&
        std::all_of(sweep->levels.begin(), sweep->levels.end(), [](float v) { return std::isnan(v); })) {
      Fail("the receiver cannot tune to any frequency from " + MHz(sweep->start) + " to " + MHz(sweep->stop) + " MHz");
      return;
    }
    if (recorder_->Add(sweep)) {
      ++sweeps_;
      if (signalWatch_) signalWatch_->Submit(SignalInputOf(sweep));
    }
    if (options_.sweeps && static_cast<int64_t>(sweeps_) >= *options_.sweeps)
      QMetaObject::invokeMethod(&app_, [this] { Finish(0); }, Qt::QueuedConnection);
  }

  void Progress() {
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count();
    std::fprintf(stderr, "\rwideglass: %llu sweeps, %.2f sweeps/s, %s written   ",
                 static_cast<unsigned long long>(sweeps_), secs > 0 ? static_cast<double>(sweeps_) / secs : 0.0,
                 Size(recorder_->BytesWritten()).c_str());
    progressShown_ = true;
  }

  // Ends the survey: the sweep under way is dropped (as rtl_power drops an
  // unfinished integration), the finished ones are written and flushed.
  void Finish(int rc) {
    if (finishing_) return;
    finishing_ = true;
    watch_.stop();
    progress_.stop();
    engine_->Stop();
    recorder_->Close();
    if (setup_) setup_->Close();
    if (rc == 0 && recorder_->Failed()) {
      Say("writing " + Where() + ": " + recorder_->FailureReason());
      rc = 1;
    }
    // Sweeps are written once an interval of them is complete: a survey
    // shorter than one wrote nothing, which is not a success.
    const int64_t interval = options_.intervalSeconds.value_or(0);
    if (rc == 0 && interval > 0 && recorder_->BytesWritten() == 0) {
      Say("no interval of " + std::to_string(interval) + " s completed before the survey ended (" +
          std::to_string(sweeps_) + (sweeps_ == 1 ? " sweep" : " sweeps") + " taken): nothing was written");
      rc = 1;
    }
    signalsTimer_.stop();
    // The table of every sweep written, whatever the end.
    if (signalWatch_) {
      signalWatch_->WaitIdle(std::chrono::seconds(10));
      if (!WriteSignals() && rc == 0) rc = 1;
    }
    if (progressShown_) Progress();
    app_.exit(rc);
  }

  bool WriteSignals() {
    std::string error;
    if (WriteSignalsCsvFile(*options_.signalsFile, signalWatch_->Snapshot()->found, &error)) return true;
    if (!signalsFailed_) Say("writing " + *options_.signalsFile + ": " + error);
    signalsFailed_ = true;
    return false;
  }

  void Fail(const std::string& line) {
    if (finishing_) return;
    Say(line);
    Finish(1);
  }

  // A thread of its own waits for the signals, so that a second one is heard
  // even while the first one's finish waits for a writer.
  void ListenForSignals() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    signalThread_ = std::thread([this] {
      int heard = 0;
      for (char c = 0; ::read(g_signalPipe[0], &c, 1) == 1 || errno == EINTR;) {
        if (c == 0) return;  // the survey is over
        if (++heard == 1) {
          QMetaObject::invokeMethod(&app_, [this] { Finish(0); }, Qt::QueuedConnection);
          continue;
        }
        // Nothing new is written, the line under way is finished: bytes in
        // a pipe cannot be taken back, and a reader must not take a cut
        // line for data. A reader that never reads again keeps that line
        // waiting; a third signal then ends it whatever is left.
        const int status = 128 + static_cast<unsigned char>(c);
        while (!recorder_->StopWriting(std::chrono::milliseconds(20))) {
          pollfd more{g_signalPipe[0], POLLIN, 0};
          if (::poll(&more, 1, 0) != 1 || ::read(g_signalPipe[0], &c, 1) != 1) continue;
          // The finish got there first: still the second signal's status.
          std::_Exit(c == 0 ? status : 128 + static_cast<unsigned char>(c));
        }
        std::_Exit(status);
      }
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
  }

 public:
  ~Survey() {
    if (!signalThread_.joinable()) return;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    const char end = 0;
    (void)!::write(g_signalPipe[1], &end, 1);
    signalThread_.join();
  }

 private:
  QCoreApplication& app_;
  const Options& options_;
  // The survey reads no remembered settings: the options or the written values.
  TSettings nothingRemembered_;
  std::unique_ptr<TSweepRecorder> recorder_;
  std::unique_ptr<TSweepEngine> engine_;
  std::unique_ptr<TReceiverSetup> setup_;  // after the engine: goes first
  std::thread signalThread_;
  QTimer watch_, progress_, signalsTimer_;
  std::unique_ptr<TSignalWatch> signalWatch_;
  bool signalsFailed_ = false;
  std::chrono::steady_clock::time_point began_;
  uint64_t sweeps_ = 0;
  int signals_ = 0;
  bool finishing_ = false;
  bool reconnecting_ = false;
  bool noSamplesSaid_ = false;
  bool progressShown_ = false;
  std::string lastLine_;
};

}  // namespace

int RunSurvey(int argc, char** argv, const Options& options) {
  // A reader that goes away is a failed write, not a silent death.
  std::signal(SIGPIPE, SIG_IGN);
  QCoreApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("Wideglass"));
  // The survey reads no remembered settings: its language is the option's.
  SetLanguage(options.language.value_or(SystemLanguage()));
  int rc;
  {
    Survey survey(app, options);
    rc = survey.Run();
  }
  return rc;
}

}  // namespace wg
