#include "record/RecordingReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "record/RecordingFile.h"

namespace wg {
namespace {

// An index entry at the first sweep that starts this far past the last one.
constexpr uint64_t kIndexStride = 64 * 1024;
// A file with no line that reads within this much is no recording.
constexpr uint64_t kGiveUpBytes = 1 << 20;
constexpr uint64_t kGiveUpLines = 100;
// Frequencies beyond any receiver by far, and safely inside 64 bits.
constexpr int64_t kMostHz = 1000000000000LL;

using Kind = RecordingProblem::Kind;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The next comma-separated field from `pos` on, trimmed; pos moves past its comma.
bool NextField(std::string_view s, size_t& pos, std::string_view& field) {
  if (pos > s.size()) return false;
  const size_t comma = s.find(',', pos);
  const size_t end = comma == std::string_view::npos ? s.size() : comma;
  field = Trim(s.substr(pos, end - pos));
  pos = end + 1;
  return true;
}

template <typename T>
bool Whole(std::string_view f, T& v) {
  if (f.empty()) return false;
  const auto r = std::from_chars(f.data(), f.data() + f.size(), v);
  return r.ec == std::errc() && r.ptr == f.data() + f.size();
}

// What a line says before its levels.
struct LineHead {
  int64_t time = 0;
  int64_t low = 0, high = 0;
  double step = 0;
  int64_t samples = 0;
  size_t levelsAt = 0;  // where the first level's field starts
  uint32_t bins = 0;    // levels less the repeated last one
};

bool ParseHead(std::string_view s, LineHead& h, std::string& why) {
  size_t pos = 0;
  std::string_view f[6];
  for (auto& x : f) {
    if (!NextField(s, pos, x)) {
      why = "not a line of an rtl_power recording";
      return false;
    }
  }
  if (!ParseRecordingTime(f[0], f[1], h.time)) {
    why = "no date and time where a line starts";
    return false;
  }
  if (!Whole(f[2], h.low) || !Whole(f[3], h.high) || !Whole(f[4], h.step) || !Whole(f[5], h.samples) ||
      h.low < -kMostHz || h.low > kMostHz || h.high < -kMostHz || h.high > kMostHz || h.high <= h.low ||
      !std::isfinite(h.step) ||
      h.step <= 0 || h.samples < 0) {
    why = "its band, bin width or samples do not read";
    return false;
  }
  const double bins = std::round(static_cast<double>(h.high - h.low) / h.step);
  if (bins < 1 || bins >= kMostLevelsPerLine) {
    why = "its band holds too many bins";
    return false;
  }
  if (pos > s.size()) {
    why = "it has no levels";
    return false;
  }
  h.levelsAt = pos;
  const size_t fields = 1 + static_cast<size_t>(std::count(s.begin() + static_cast<ptrdiff_t>(pos), s.end(), ','));
  // rtl_power writes one level more than its band has bins; cropping may
  // make the band's rounding a bin off.
  if (fields < 2 || std::abs(static_cast<double>(fields - 1) - bins) > 1) {
    why = std::to_string(fields) + " levels for a band of " + std::to_string(static_cast<int64_t>(bins)) + " bins";
    return false;
  }
  h.bins = static_cast<uint32_t>(fields - 1);
  return true;
}

// The levels of a line whose head read; the repeated last one is left out.
// Returns how many were out of range (infinite, or beyond kMostRecordedLevelDb):
// those, like levels that do not read and those written as not measured (nan,
// and rtl_power's -inf for a bin without power), are NaN.
uint32_t ParseLevels(std::string_view s, const LineHead& h, float* out) {
  constexpr float kNone = std::numeric_limits<float>::quiet_NaN();
  const char* p = s.data() + h.levelsAt;
  const char* end = s.data() + s.size();
  uint32_t bad = 0;
  for (uint32_t i = 0; i < h.bins; ++i) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    float v = 0;
    const auto r = std::from_chars(p, end, v);
    const char* comma = static_cast<const char*>(std::memchr(p, ',', static_cast<size_t>(end - p)));
    const bool whole = !(comma && r.ptr < comma && *r.ptr != ' ' && *r.ptr != '\t');
    if (r.ec == std::errc::result_out_of_range && whole) {
      v = kNone;
      ++bad;
    } else if (r.ec != std::errc() || !whole) {
      v = kNone;
    } else if (!UsableLevel(v) && !std::isnan(v)) {
      if (!(std::isinf(v) && v < 0)) ++bad;
      v = kNone;
    }
    out[i] = v;
    p = comma ? comma + 1 : end;
  }
  return bad;
}

// Whether the levels of a line may hold one out of range: an infinity, an
// exponent, or a whole number of 200 or more. The scan that keeps no levels
// parses only such lines to count them.
bool MayHoldBadLevel(std::string_view levels) {
  int run = 0;
  char lead = 0;
  for (const char c : levels) {
    if (c >= '0' && c <= '9') {
      if (run++ == 0) lead = c;
      if (run > 3 || (run == 3 && lead >= '2')) return true;
    } else {
      if (c == 'i' || c == 'I' || c == 'e' || c == 'E') return true;
      run = 0;
    }
  }
  return false;
}

// The lines of the data, one after another, without their line feeds.
class LineReader {
 public:
  LineReader(TRecordingFile& file, size_t chunk, const std::atomic<bool>& cancelled)
      : file_(file), buf_(chunk), cancelled_(cancelled) {}

  struct Line {
    std::string_view text;
    bool fed = false;      // ended by a line feed (not by the end of the data)
    bool tooLong = false;  // over kMostRecordingLineBytes: the text is left out, and reading ends there
    uint64_t offset = 0;
  };

  // After the file was moved to another offset.
  void Restart() {
    pos_ = len_ = 0;
    eof_ = false;
    offset_ = file_.Offset();
  }

  // False at the end of the data, after a line too long, or once cancelled.
  bool Next(Line& l) {
    long_.clear();
    bool spanning = false;
    l.tooLong = false;
    l.offset = offset_;
    for (;;) {
      if (pos_ == len_) {
        if (eof_) break;
        // Checked per chunk: a run of empty lines or an endless line holds
        // no sweep to stop at.
        if (cancelled_.load(std::memory_order_relaxed)) return false;
        len_ = file_.Read(buf_.data(), buf_.size());
        pos_ = 0;
        if (len_ == 0) {
          eof_ = true;
          break;
        }
      }
      const char* b = buf_.data() + pos_;
      const size_t avail = len_ - pos_;
      const char* nl = static_cast<const char*>(std::memchr(b, '\n', avail));
      const size_t take = nl ? static_cast<size_t>(nl - b) : avail;
      const size_t used = take + (nl ? 1 : 0);
      pos_ += used;
      offset_ += used;
      if (nl && !spanning) {
        l.text = Strip({b, take});
        l.fed = true;
        return true;
      }
      spanning = true;
      if (long_.size() + take > kMostRecordingLineBytes) {
        // Given up as it is read: the data may have no end (/dev/zero).
        l.tooLong = true;
        l.fed = nl != nullptr;
        l.text = {};
        pos_ = len_;
        eof_ = true;
        return true;
      }
      long_.append(b, take);
      if (nl) {
        l.fed = true;
        l.text = Strip(long_);
        return true;
      }
    }
    if (!spanning) return false;
    l.fed = false;
    l.text = Strip(long_);
    return true;
  }

  bool Cancelled() const { return cancelled_.load(std::memory_order_relaxed); }

  size_t MemoryBytes() const { return buf_.capacity() + long_.capacity(); }

 private:
  static std::string_view Strip(std::string_view s) {
    if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
    return s;
  }

  TRecordingFile& file_;
  std::vector<char> buf_;
  size_t pos_ = 0, len_ = 0;
  uint64_t offset_ = 0;  // of buf_[pos_] in the data
  bool eof_ = false;
  std::string long_;  // a line that spans reads
  const std::atomic<bool>& cancelled_;
};

}  // namespace

// Splits the lines into sweeps; the scan and the random reader share it so
// that both count sweeps alike.
class SweepSplitter {
 public:
  using NoteFn = std::function<void(Kind, uint64_t line, std::string, uint64_t count)>;
  SweepSplitter(TRecordingFile& file, size_t chunk, const std::atomic<bool>& cancelled, NoteFn note)
      : lines_(file, chunk, cancelled), note_(std::move(note)) {}

  // After the file was moved to the start of sweep `number`, which starts at `line`.
  void Restart(uint64_t line, uint64_t number) {
    lines_.Restart();
    line_ = line - 1;
    number_ = number;
    building_ = false;
    next_.Clear();
  }

  // The next sweep; levels are read for sweeps numbered levelsFrom and on.
  // False at the end of the data (or when a file that is no recording was
  // given up), and once reading was cancelled.
  bool Next(RecordedSweep& out, uint64_t levelsFrom) {
    LineReader::Line l;
    while (!gaveUp_ && lines_.Next(l)) {
      ++line_;
      if (l.tooLong) {
        Note(Kind::TooLarge, "a line longer than 32 MB; read no further");
        continue;
      }
      if (l.text.empty()) {
        // A run of empty lines as long as its start that reads is no recording either.
        if (note_ && goodLines_ == 0 && badLines_ == 0 && l.offset >= kGiveUpBytes) {
          note_(Kind::NotARecording, 0, "not an rtl_power recording (nothing but empty lines in its first megabyte)", 1);
          gaveUp_ = true;
        }
        continue;
      }
      LineHead h;
      std::string why;
      if (!ParseHead(l.text, h, why)) {
        ++badLines_;
        if (!l.fed)
          Note(Kind::CutLine, "the last line is cut short (" + why + ")");
        else
          Note(Kind::BadLine, why);
        if (firstBad_ == 0) firstBad_ = line_, firstWhy_ = why;
        if (note_ && goodLines_ == 0 && (badLines_ >= kGiveUpLines || l.offset >= kGiveUpBytes)) {
          note_(Kind::NotARecording, 0,
                "not an rtl_power recording (line " + std::to_string(firstBad_) + ": " + firstWhy_ + ")", 1);
          gaveUp_ = true;
        }
        continue;
      }
      ++goodLines_;
      bool ends = false;
      if (building_) {
        const bool full = next_.steps.size() >= kMostStepsPerSweep || levelCount_ + h.bins > kMostLevelsPerSweep;
        if (full && h.time == next_.time && h.low > next_.steps.back().low)
          Note(Kind::TooLarge, "a sweep with more steps or levels than can be read, cut into parts");
        ends = full || h.time != next_.time || h.low <= next_.steps.back().low;
      }
      if (ends) {
        std::swap(out, next_);
        building_ = false;
        Add(l, h, levelsFrom);
        return true;
      }
      Add(l, h, levelsFrom);
    }
    if (!building_ || lines_.Cancelled()) return false;
    std::swap(out, next_);
    building_ = false;
    return true;
  }

  size_t MemoryBytes() const {
    return lines_.MemoryBytes() + next_.levels.capacity() * sizeof(float) + next_.steps.capacity() * sizeof(RecordedStep);
  }

 private:
  void Note(Kind kind, std::string detail, uint64_t count = 1) {
    if (note_) note_(kind, line_, std::move(detail), count);
  }

  void Add(const LineReader::Line& l, const LineHead& h, uint64_t levelsFrom) {
    if (!building_) {
      next_.Clear();
      next_.number = number_++;
      next_.line = line_;
      next_.offset = l.offset;
      next_.time = h.time;
      levelCount_ = 0;
      building_ = true;
    }
    RecordedStep st;
    st.low = h.low;
    st.high = h.high;
    st.binWidth = h.step;
    st.samples = h.samples;
    st.first = static_cast<uint32_t>(levelCount_);
    st.bins = h.bins;
    next_.steps.push_back(st);
    levelCount_ += h.bins;
    uint32_t bad = 0;
    if (next_.number >= levelsFrom) {
      next_.levels.resize(levelCount_);
      bad = ParseLevels(l.text, h, next_.levels.data() + st.first);
    } else if (note_ && MayHoldBadLevel(l.text.substr(h.levelsAt))) {
      scratch_.resize(h.bins);
      bad = ParseLevels(l.text, h, scratch_.data());
    }
    if (bad > 0)
      Note(Kind::BadLevels, "a level infinite or beyond " + std::to_string(static_cast<int>(kMostRecordedLevelDb)) +
                                " dB either way, taken as not measured", bad);
  }

  LineReader lines_;
  NoteFn note_;
  uint64_t line_ = 0;    // lines read
  uint64_t number_ = 0;  // of the next sweep
  bool building_ = false;
  RecordedSweep next_;
  size_t levelCount_ = 0;
  uint64_t goodLines_ = 0, badLines_ = 0, firstBad_ = 0;
  std::string firstWhy_;
  bool gaveUp_ = false;
  std::vector<float> scratch_;  // levels counted, not kept
};

double RecordedSweep::LowHz() const {
  if (steps.empty()) return 0;
  return static_cast<double>(steps.front().low) - steps.front().binWidth / 2;
}

double RecordedSweep::HighHz() const {
  if (steps.empty()) return 0;
  const RecordedStep& s = steps.back();
  return s.BinHz(s.bins) - s.binWidth / 2;
}

void RecordedSweep::Clear() {
  steps.clear();
  levels.clear();
  number = line = offset = 0;
  time = 0;
}

std::string DescribeProblem(const std::string& path, const RecordingProblem& p) {
  std::string s = path;
  if (p.line) s += ", line " + std::to_string(p.line);
  s += ": " + p.detail;
  if (p.kind == RecordingProblem::Kind::BadLine || p.kind == RecordingProblem::Kind::CutLine) s += ", left out";
  if (p.count > 1) s += " (" + std::to_string(p.count) + " in all)";
  return s;
}

std::unique_ptr<TRecording> TRecording::Open(const std::string& path, std::string& error) {
  auto file = TRecordingFile::Open(path, error);
  if (!file) return nullptr;
  return std::unique_ptr<TRecording>(new TRecording(path, std::move(file)));
}

TRecording::TRecording(std::string path, std::unique_ptr<TRecordingFile> file)
    : path_(std::move(path)), scanFile_(std::move(file)) {}

TRecording::~TRecording() = default;

bool TRecording::Compressed() const { return scanFile_->Compressed(); }

void TRecording::Note(Kind kind, uint64_t line, std::string detail, uint64_t count) {
  std::lock_guard lk(m_);
  // Said once, in place of the lines that led to it.
  if (kind == Kind::NotARecording) problems_.clear();
  for (RecordingProblem& p : problems_) {
    if (p.kind == kind) {
      p.count += count;
      return;
    }
  }
  problems_.push_back({kind, line, count, std::move(detail)});
}

bool TRecording::Scan(const SweepFn& each, const ProgressFn& progress) {
  SweepSplitter splitter(*scanFile_, 1 << 20, cancelled_,
                         [this](Kind k, uint64_t line, std::string d, uint64_t n) { Note(k, line, std::move(d), n); });
  splitter.Restart(1, 0);
  RecordedSweep s;
  std::vector<RecordedStep> layout;  // the first sweep's
  uint64_t shortLast = 0;            // line of a sweep that stopped early, told unless it was the last
  uint64_t progressAt = 0;
  const uint64_t size = std::max<uint64_t>(1, scanFile_->FileSize());
  const uint64_t levelsFrom = each ? 0 : std::numeric_limits<uint64_t>::max();
  while (splitter.Next(s, levelsFrom)) {
    if (shortLast) Note(Kind::OtherLayout, shortLast, "a sweep with other steps or bins than the first one");
    shortLast = 0;
    if (layout.empty()) {
      layout = s.steps;
    } else if (s.steps.size() != layout.size() ||
               !std::equal(s.steps.begin(), s.steps.end(), layout.begin(),
                           [](const RecordedStep& a, const RecordedStep& b) { return a.SameBins(b); })) {
      const bool prefix = s.steps.size() < layout.size() &&
                          std::equal(s.steps.begin(), s.steps.end(), layout.begin(),
                                     [](const RecordedStep& a, const RecordedStep& b) { return a.SameBins(b); });
      if (prefix)
        shortLast = s.line;
      else
        Note(Kind::OtherLayout, s.line, "a sweep with other steps or bins than the first one");
    }
    {
      std::lock_guard lk(m_);
      if (index_.empty() || s.offset - index_.back().offset >= kIndexStride) index_.push_back({s.offset, s.line, s.number});
      if (sweeps_ == 0) extent_ = {s.LowHz(), s.HighHz(), s.time, s.time};
      extent_.lowHz = std::min(extent_.lowHz, s.LowHz());
      extent_.highHz = std::max(extent_.highHz, s.HighHz());
      extent_.lastTime = s.time;
      sweeps_ = s.number + 1;
    }
    if (each && !each(s)) return false;
    const uint64_t at = scanFile_->FilePosition();
    if (progress && at - progressAt >= (4u << 20)) {
      progressAt = at;
      if (!progress(static_cast<double>(at) / static_cast<double>(size))) return false;
    }
  }
  // Stopped: what was found stays, but nothing is concluded from it.
  if (cancelled_) return false;
  if (!scanFile_->Error().empty()) Note(Kind::ReadError, 0, scanFile_->Error() + "; read up to there");
  if (shortLast) {
    std::lock_guard lk(m_);
    const bool cut = std::any_of(problems_.begin(), problems_.end(), [](const RecordingProblem& p) { return p.kind == Kind::CutLine; });
    if (!cut) problems_.push_back({Kind::CutLine, shortLast, 1, "the last sweep ends early"});
  }
  {
    std::lock_guard lk(m_);
    // Nothing read at all: the lines that did not read say why in one line.
    const bool lines = std::any_of(problems_.begin(), problems_.end(), [](const RecordingProblem& p) {
      return p.kind == Kind::BadLine || p.kind == Kind::CutLine || p.kind == Kind::TooLarge;
    });
    if (sweeps_ == 0 && lines) {
      const RecordingProblem first = *std::min_element(
          problems_.begin(), problems_.end(), [](const auto& a, const auto& b) { return a.line < b.line; });
      problems_ = {{Kind::NotARecording, 0, 1,
                    "not an rtl_power recording (line " + std::to_string(first.line) + ": " + first.detail + ")"}};
    }
    // Nothing read and nothing wrong: nothing there.
    if (sweeps_ == 0 && problems_.empty())
      problems_.push_back({Kind::Empty, 0, 1,
                           scanFile_->Offset() == 0 ? "the file is empty" : "the file holds only empty lines"});
    scanned_ = true;
  }
  // Outside the lock: the caller may well ask what was found.
  if (progress) progress(1.0);
  return true;
}

bool TRecording::ReadSweep(uint64_t n, RecordedSweep& out) {
  bool found = false;
  ReadSweeps(n, [&](const RecordedSweep& s) {
    out = s;
    found = true;
    return false;
  });
  return found;
}

bool TRecording::ReadSweeps(uint64_t first, const SweepFn& each) {
  Checkpoint from{};
  uint64_t end = 0;
  {
    std::lock_guard lk(m_);
    end = sweeps_;
    if (first >= end) return first == end;
    auto it = std::upper_bound(index_.begin(), index_.end(), first,
                               [](uint64_t v, const Checkpoint& c) { return v < c.number; });
    from = *std::prev(it);  // the first sweep always has an entry
  }
  std::lock_guard lk(readM_);
  if (cancelled_) return false;
  if (!readFile_) {
    std::string error;
    readFile_ = scanFile_->Reopen(error);
    if (!readFile_) return false;
  }
  if (!readFile_->Seek(from.offset)) return false;
  SweepSplitter splitter(*readFile_, 64 * 1024, cancelled_, {});
  splitter.Restart(from.line, from.number);
  while (splitter.Next(readSweep_, first)) {
    if (readSweep_.number < first) continue;
    if (readSweep_.number >= end || !each(readSweep_)) return true;
    if (readSweep_.number + 1 == end) return true;
  }
  return false;
}

uint64_t TRecording::SweepCount() const {
  std::lock_guard lk(m_);
  return sweeps_;
}

bool TRecording::Scanned() const {
  std::lock_guard lk(m_);
  return scanned_;
}

std::vector<RecordingProblem> TRecording::Problems() const {
  std::lock_guard lk(m_);
  return problems_;
}

TRecording::Extent TRecording::Span() const {
  std::lock_guard lk(m_);
  return extent_;
}

size_t TRecording::MemoryBytes() const {
  std::lock_guard lk(m_);
  return index_.capacity() * sizeof(Checkpoint) + scanFile_->SeekMemoryBytes();
}

}  // namespace wg
