// The radio scene the simulated receiver hears: emitters at fixed
// frequencies with fixed levels, some of them keyed on and off.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wg::sim {

enum class EmitterKind {
  Carrier,  // unmodulated tone
  Fm,       // broadcast-like FM, 75 kHz deviation
  Nfm,      // narrow FM as land-mobile and amateur voice use, 5 kHz deviation
};

struct Emitter {
  double frequencyHz = 0;
  // Level of the emitter in dB relative to the full scale of the samples,
  // with the tuner at 0 dB gain; the tuner's gain adds to it.
  double levelDb = 0;
  EmitterKind kind = EmitterKind::Carrier;
  // Peak frequency deviation of the FM kinds, Hz.
  double deviationHz = 0;
  // A keyed emitter is on for onSec, then off for offSec, over and over,
  // from the moment the simulator was loaded. offSec 0: always on.
  double onSec = 0;
  double offSec = 0;
};

constexpr double kMaxKeyingSec = 1e6;

// Whether the emitter sends `seconds` after the simulator was loaded.
bool EmitterOn(const Emitter& e, double seconds);

constexpr size_t kMaxEmitters = 4096;

// Reads a scene text: one emitter per line, "frequency level [kind
// [deviation]] [on=SECONDS off=SECONDS]", separated by blanks or commas; '#'
// starts a comment; blank lines are skipped. Frequency in Hz (plain or with
// an exponent: 146.52e6), level in dB, kind carrier (the default), fm or nfm,
// deviation in Hz for the FM kinds, keying (both or neither). Lines that do not read are skipped and described in `problems`
// ("line 3: ..."). At most kMaxEmitters emitters are kept.
std::vector<Emitter> ParseScene(std::string_view text, std::vector<std::string>* problems);

// Reads a scene file; false with a reason when the file cannot be read.
bool LoadSceneFile(const std::string& path, std::vector<Emitter>& out,
                   std::vector<std::string>& problems, std::string& error);

// The scene used when none is given: something to see in 138-153 MHz, the
// viewer's initial range, and in the FM broadcast band 88-108 MHz.
const std::vector<Emitter>& DefaultScene();

const char* KindName(EmitterKind kind);

}  // namespace wg::sim
