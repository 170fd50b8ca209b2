// The platform's default beep, in one place so that tests can count beeps and
// the user interface can route it to its toolkit.
#pragma once

namespace rt {

using BeepSink = void (*)();

// Sounds the beep through the installed sink (the terminal bell by default)
// and counts it.
void Beep();
// Installs the sink; nullptr restores the default.
void SetBeepSink(BeepSink sink);
// Number of beeps since start or the last reset.
long BeepCount();
void ResetBeepCount();

}  // namespace rt
