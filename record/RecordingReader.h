// Recordings in rtl_power's CSV format (RtlPowerCsv.h), written by Wideglass
// or by rtl_power itself, plain or gzip-compressed, of any size.
//
// A sweep is a run of lines with one date and time and rising frequencies;
// the next line with another time or a frequency not above the last one
// starts the next sweep. One pass (Scan) goes through the whole file and
// keeps, every 64 kB or so, where a sweep starts; any sweep is then read on
// demand from the nearest such place. Memory stays bounded whatever the file
// holds: the index grows by a few bytes per 64 kB, every line, step and sweep
// has a size limit, and a compressed file keeps at most 64 MB for seeking.
//
// Lines that do not read are left out and told once per kind (with the first
// such line's number and how many there were); everything that reads is kept.
// A level that is infinite or beyond any receiver's reach is taken as not
// measured (and counted), so that one bad number cannot stretch a colour scale.
// Reading can be stopped at any time (Cancel): it checks between chunks of
// data, not only between sweeps, so a file of endless empty lines or an
// endless line stops too.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace wg {

class TRecordingFile;

// One line of the file: a step of a sweep.
struct RecordedStep {
  int64_t low = 0, high = 0;  // Hz, as written: the first bin's frequency and the band's top
  double binWidth = 0;        // Hz
  int64_t samples = 0;
  uint32_t first = 0, bins = 0;  // its levels in RecordedSweep::levels
  double BinHz(uint32_t i) const { return static_cast<double>(low) + binWidth * i; }
  bool SameBins(const RecordedStep& o) const {
    return low == o.low && high == o.high && binWidth == o.binWidth && bins == o.bins;
  }
};

struct RecordedSweep {
  uint64_t number = 0;  // from 0, in file order
  uint64_t line = 0;    // its first line, from 1
  uint64_t offset = 0;  // of its first line in the (decompressed) data
  // The date and time as written, as seconds since 1970-01-01 00:00:00 of the
  // same clock: no time zone is applied, so that it reads back as written.
  int64_t time = 0;
  std::vector<RecordedStep> steps;
  // dB, the steps' bins in order; NaN where a level did not read, was written
  // as not measured (nan, -inf) or was out of range (BadLevels)
  std::vector<float> levels;

  // The outer edges of its bins, Hz (bin i of a step is centred at BinHz(i)).
  double LowHz() const;
  double HighHz() const;
  void Clear();
};

struct RecordingProblem {
  enum class Kind {
    CutLine,        // the last line ends early (no line feed, levels missing)
    BadLine,        // a line that is not a line of the format
    OtherLayout,    // a sweep whose steps or bins differ from the first sweep's
    TooLarge,       // a line or sweep beyond the limits, cut there
    NotARecording,  // nothing in the first lines reads: reading gave up
    ReadError,      // the file could not be read on (also damaged compressed data)
    BadLevels,      // levels infinite or beyond kMostRecordedLevelDb, taken as not measured (count: levels)
    Empty,          // no data at all, or nothing but empty lines
  };
  Kind kind;
  uint64_t line = 0;   // of the first one, from 1
  uint64_t count = 0;  // how many lines or sweeps it happened to
  std::string detail;  // English, without the file and line
};

// "FILE, line N: what (K in all)", in English.
std::string DescribeProblem(const std::string& path, const RecordingProblem& p);

// Reading limits; what exceeds one is cut and told.
inline constexpr size_t kMostRecordingLineBytes = 32u << 20;
inline constexpr uint32_t kMostLevelsPerLine = (1u << 21) + 1;  // rtl_power's largest transform, plus the repeat
inline constexpr uint32_t kMostStepsPerSweep = 65536;
inline constexpr size_t kMostLevelsPerSweep = 8u << 20;
// A level beyond this many dB either way is no measurement.
inline constexpr float kMostRecordedLevelDb = 200;
// Whether a level read from a file is one to show (not NaN, finite, within range).
inline bool UsableLevel(float v) { return v >= -kMostRecordedLevelDb && v <= kMostRecordedLevelDb; }

class TRecording {
 public:
  // Null, with the reason in `error`, when the file cannot be opened.
  static std::unique_ptr<TRecording> Open(const std::string& path, std::string& error);
  ~TRecording();
  TRecording(const TRecording&) = delete;
  TRecording& operator=(const TRecording&) = delete;

  // Called with each sweep in file order, its levels read; false stops the scan.
  using SweepFn = std::function<bool(const RecordedSweep&)>;
  // Called now and then with the part of the file read (0..1); false stops.
  using ProgressFn = std::function<bool(double)>;
  // The one pass through the file that finds its sweeps (and its problems).
  // Without `each` the levels are only counted, which is quicker. True when
  // the whole file was read; call it once.
  bool Scan(const SweepFn& each = {}, const ProgressFn& progress = {});

  // Reads sweep n (below SweepCount()) with its levels. May be called from
  // another thread while Scan runs. False when it is no longer there (the
  // file was changed) or reading failed.
  bool ReadSweep(uint64_t n, RecordedSweep& out);
  // Reads the sweeps from `first` on, in order, with their levels, as far as
  // the scan had found them when it was called, or until `each` says stop.
  // Also from another thread. False when not all of them could be read.
  bool ReadSweeps(uint64_t first, const SweepFn& each);

  // Stops the scan and every reading, under way or to come, from any thread:
  // each returns false after at most the chunk it is reading. For good.
  void Cancel() { cancelled_ = true; }

  // What the scan found so far; callable from any thread.
  uint64_t SweepCount() const;
  bool Scanned() const;
  std::vector<RecordingProblem> Problems() const;
  struct Extent {
    double lowHz = 0, highHz = 0;         // the outer edges of all sweeps' bins
    int64_t firstTime = 0, lastTime = 0;  // of the first and last sweep, as RecordedSweep::time
  };
  Extent Span() const;
  size_t MemoryBytes() const;  // the index, the seek points and the buffers

  const std::string& Path() const { return path_; }
  bool Compressed() const;

 private:
  struct Checkpoint {
    uint64_t offset, line, number;
  };
  TRecording(std::string path, std::unique_ptr<TRecordingFile> file);
  void Note(RecordingProblem::Kind kind, uint64_t line, std::string detail, uint64_t count = 1);

  const std::string path_;
  std::unique_ptr<TRecordingFile> scanFile_;
  std::atomic<bool> cancelled_{false};
  mutable std::mutex m_;  // guards what the scan found
  std::vector<Checkpoint> index_;
  std::vector<RecordingProblem> problems_;
  uint64_t sweeps_ = 0;
  bool scanned_ = false;
  Extent extent_;

  std::mutex readM_;  // guards the random reader
  std::unique_ptr<TRecordingFile> readFile_;
  RecordedSweep readSweep_;
};

// Parses "YYYY-MM-DD" and "HH:MM:SS" into RecordedSweep::time; false when
// either is not a real date or time.
bool ParseRecordingTime(std::string_view date, std::string_view time, int64_t& out);
// "YYYY-MM-DD HH:MM:SS" back from such a time.
std::string RecordingTimeText(int64_t time);

}  // namespace wg
