// One receiver as an object: it owns its stick (through a ReceiverDevice of
// its kind), what the stick's set-up found, and its settings. One long-lived
// thread per receiver opens the stick, takes steps from a StepSource (the
// pool sharing a scan range) and, between steps, applies the changes asked
// for, in order. A watchdog per receiver notices a call that does not return;
// such a thread is left to finish on its own: it closes the stick when the
// call comes back, holding the library (and its own state) until then.
//
// A stick that goes away in a read is looked for by its serial and opened
// again with the same settings when it comes back.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "receiver/ReceiverDevice.h"
#include "receiver/ReceiverSettings.h"

namespace wg {

using ReceiverId = uint64_t;
using SteadyTime = std::chrono::steady_clock::time_point;

// One step as a source hands it out.
struct StepTask {
  int64_t centre = 0;  // Hz; one the library cannot be given is not tuned
  uint32_t rate = 0;   // the sample rate the step runs at
  ReadPlan read;
  uint64_t ticket = 0;  // the source's own
};

struct StepResult {
  enum class Kind {
    Read,     // `bytes` holds what was read
    Untuned,  // the tuner cannot reach the centre; nothing was read
    Failed,   // the read failed; the stick is still there
    Gone,     // the read failed and the stick is gone; it is looked for
    Error,    // a call into the stick threw; `error` says what
  };
  Kind kind = Kind::Read;
  int count = 0, result = 0;       // the read's
  const uint8_t* bytes = nullptr;  // `length` bytes, valid during the call
  int length = 0;
  std::string error;
};

// Where a receiver takes its steps from. Called on the receiver's thread.
class StepSource {
 public:
  virtual ~StepSource() = default;
  // The next step for this receiver; false when it has none now, with the
  // time to ask again in `askAgain` (left as it is: when woken).
  virtual bool NextStep(ReceiverId id, StepTask& task, SteadyTime& askAgain) = 0;
  virtual void StepDone(ReceiverId id, const StepTask& task, const StepResult& result) = 0;
};

enum class ReceiverState {
  Opening,
  Open,
  OpenFailed,  // the first open was refused; nothing more is tried
  Lost,        // gone in a read; looked for until it comes back
  Hung,        // a call did not return; the receiver is lost for good
  Closed,
};

struct ReceiverEvent {
  enum class Kind { Opened, OpenFailed, Gone, Back, Hung };
  ReceiverId id = 0;
  Kind kind = Kind::Opened;
  std::string serial;
  int result = 0;  // the open's or the read's
};
// Called on the receiver's own threads; must not call back into the receiver
// while holding a lock the receiver's owner holds when calling it.
using ReceiverListener = std::function<void(const ReceiverEvent&)>;

class Receiver {
 public:
  // A call into a local stick that has not returned after this long means it
  // no longer responds (fifteen of the longest blocks); a device of another
  // kind may give a longer one (ReceiverDevice::HangTime).
  static constexpr std::chrono::milliseconds kHangTime = ReceiverDevice::kHangTime;
  // How often a stick that went away is looked for.
  static constexpr std::chrono::milliseconds kReturnPoll{250};
  // How long the destructor waits for the thread to close the stick.
  static constexpr std::chrono::milliseconds kCloseWait{300};

  Receiver(std::unique_ptr<ReceiverDevice> device, ReceiverSettings settings, ReceiverListener listener = {});
  ~Receiver();  // Close(kCloseWait)
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;

  ReceiverId Id() const { return id_; }

  // Starts the thread, which opens the stick with the settings and then takes
  // steps from the source. Once; false when no thread could be started.
  bool Start();
  // Waits at most `wait` until the first open has been tried.
  bool WaitOpened(std::chrono::milliseconds wait) const;
  // Who hears of the receiver's events (replacing the one given before).
  void SetListener(ReceiverListener listener);
  // Where steps come from (nullptr: none). The source is held while a call
  // into it is under way.
  void SetSource(std::shared_ptr<StepSource> source);
  // The source has steps again.
  void Wake();

  // Changes, applied on the receiver's thread between steps in the order
  // asked for. `done` gets whether the stick took the value (Taken); refused,
  // the previous one stays in force. While the stick is not open (gone, or
  // not yet open) the value is kept for its next open (Kept); a hung or
  // closed receiver refuses and keeps nothing.
  enum class Answer { Taken, Kept, Refused };
  using Done = std::function<void(Answer)>;
  void SetGain(std::optional<int> tenthsDb, Done done = {});  // nullopt: automatic
  void SetFreqCorrection(int ppm, Done done = {});
  void SetSampleRate(uint32_t rate, Done done = {});
  void SetBiasTee(bool on, Done done = {});
  void SetDirectSampling(int mode, Done done = {});
  void SetOffsetTuning(bool on, Done done = {});

  // Asks the thread to close the stick and end, and waits at most `wait`. A
  // thread still inside a call then ends on its own once the call returns.
  // True when the thread has ended. No event is sent afterwards.
  bool Close(std::chrono::milliseconds wait);

  // Receiver threads, of any receiver, left in a call that has not returned.
  static int HungThreads();
  // Waits at most `wait` until none is left; true then.
  static bool WaitNoHungThreads(std::chrono::milliseconds wait);
  // Waits at most `wait` until every receiver thread, hung or closing, has
  // ended: only then are all sticks closed.
  static bool WaitThreadsEnded(std::chrono::milliseconds wait);

  ReceiverState State() const;
  ReceiverFound Found() const;
  ReceiverSettings Settings() const;
  // The tuner's gain nearest to a wanted one (the wanted one itself before
  // the stick reported its gains).
  int NearestGain(int tenthsDb) const;

  struct Core;

 private:
  using Change = std::function<bool(Core&)>;
  void Ask(Change change, Done done);

  ReceiverId id_;
  std::shared_ptr<Core> core_;
  std::thread thread_;
};

}  // namespace wg
