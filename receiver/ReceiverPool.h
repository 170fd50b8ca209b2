// Several receivers sweeping one scan range together. Each sweep the steps of
// the plan are split into contiguous shares, one per receiver that is open,
// each swept low to high by its receiver's thread; once every share has
// finished the pool hands the whole sweep over at once. A receiver that fails
// leaves the rest of its share unmeasured (NaN) and the others go on; one that
// went away takes part again from the sweep after it came back.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "receiver/Receiver.h"

namespace wg {

// What the receivers sweep.
struct ScanPlan {
  std::vector<int64_t> centres;  // in sweep order
  uint32_t rate = 0;
  ReadPlan read;
  int pointsPerStep = 4096;
  // Steps that throw this many times in a row on one receiver leave it out.
  int mostFailedSteps = 8;
  // What a sweep of the plan is, as its owner describes it: the scan range
  // (Hz), the width of a level and how many transforms each level averages.
  int64_t start = 0, stop = 0;
  double binWidth = 0;
  int transformsAveraged = 1;
  // The transform's bins below the first level a step keeps (its edges cut
  // off), and whether the transform mended the centre's DC spike.
  int firstBin = 0;
  bool centreMended = false;
  uint64_t tag = 0;  // the owner's, handed back with each sweep
  // Turns the `length` bytes of one step, `count` of them read, into
  // pointsPerStep levels. Called on the receivers' threads, several at once.
  std::function<void(const uint8_t* bytes, size_t length, long count, double* out)> transform;
};

enum class StepMark : uint8_t {
  Gap,       // not measured: its receiver failed or went away
  Measured,
  Untuned,   // the tuner cannot reach it
  Skipped,   // its work threw: it is no part of the sweep
};

// One finished sweep: pointsPerStep levels per step of the plan, in its order.
struct PooledSweep {
  std::shared_ptr<const ScanPlan> plan;  // the one it was measured with
  uint64_t planNumber = 0;  // the SetPlan it was measured for (1, 2, ...)
  uint64_t sequence = 0;    // 1, 2, ... in the order handed over
  int pointsPerStep = 0;
  std::vector<float> levels;  // NaN wherever a step is not Measured
  std::vector<StepMark> marks;
  std::chrono::system_clock::time_point started, finished;
};

// What happened to a receiver of the pool, or to the pool.
struct PoolNote {
  enum class Kind {
    Opened, OpenFailed, Gone, Back, Hung,  // as the receiver's events
    ReadFailed,  // a read failed on a stick still there: left out until Restart
    StepFailed,  // its steps kept throwing (`error`): left out until Restart
    Stalled,     // no receiver is left to sweep; the sweep under way is dropped
  };
  Kind kind = Kind::Opened;
  ReceiverId id = 0;
  std::string serial;
  int result = 0;             // the open's or the read's
  int count = 0, length = 0;  // ReadFailed: bytes read of those asked for
  std::string error;          // StepFailed
  // Hung, ReadFailed: receivers of the pool still sweeping without this one.
  // With none the pool is left without a sweeper; with some, the one that
  // failed leaves a gap in the sweep under way and the others take it over.
  int othersSweeping = 0;
};

class ReceiverPool {
 public:
  struct Listener {
    // Both are called on the receivers' threads, never after Close returned.
    // A finished sweep is not handed over while the pool is stopped: it
    // waits for Resume, and a new plan drops it.
    std::function<void(std::shared_ptr<PooledSweep>)> sweep;
    std::function<void(const PoolNote&)> note;
  };

  explicit ReceiverPool(Listener listener);
  ~ReceiverPool();  // Close(Receiver::kCloseWait)
  ReceiverPool(const ReceiverPool&) = delete;
  ReceiverPool& operator=(const ReceiverPool&) = delete;

  // Takes a receiver that has not been started, starts it, and has it sweep
  // from the first sweep that begins after it opened. 0 when it could not
  // start.
  ReceiverId Add(std::unique_ptr<Receiver> receiver);
  // Closes one receiver (waiting at most `wait`) and takes it out; the
  // sweep under way leaves the rest of its share unmeasured.
  void Remove(ReceiverId id, std::chrono::milliseconds wait);
  Receiver* Find(ReceiverId id) const;
  std::vector<ReceiverId> Ids() const;  // in the order added: the order of the shares

  // Sweeps with this plan from its start, with receivers left out after a
  // failure; a sweep under way is dropped.
  void SetPlan(ScanPlan plan);
  // Starts the plan over, with receivers left out after a failed read.
  void Restart();
  // No more steps are handed out and nothing is handed over once Stop has
  // returned; the sweep under way waits for Resume. Not from the listener.
  void Stop();
  void Resume();
  // Lets go of the sweep under way (stopped); Resume then begins a new one.
  void Discard();
  // Handing out steps, with a receiver to take them.
  bool Running() const;
  // No receiver is left to sweep (failed, gone or hung).
  bool Stalled() const;
  // Waits at most `wait` until no receiver is inside a step.
  bool WaitQuiet(std::chrono::milliseconds wait) const;
  // Steps of the sweep under way done so far, and the levels it holds room for.
  size_t StepsDone() const;
  size_t HeldCapacity() const;

  // Closes every receiver, waiting at most `wait` in all; a receiver inside a
  // call then finishes on its own.
  void Close(std::chrono::milliseconds wait);

  struct Core;

 private:
  std::shared_ptr<Core> core_;
  std::vector<std::unique_ptr<Receiver>> receivers_;
};

}  // namespace wg
