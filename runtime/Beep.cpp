#include "runtime/Beep.h"

#include <atomic>
#include <cstdio>

namespace rt {
namespace {

void TerminalBell() {
  std::fputc('\a', stderr);
  std::fflush(stderr);
}

std::atomic<BeepSink> g_sink{&TerminalBell};
std::atomic<long> g_count{0};

}  // namespace

void Beep() {
  g_count.fetch_add(1);
  g_sink.load()();
}

void SetBeepSink(BeepSink sink) { g_sink.store(sink ? sink : &TerminalBell); }
long BeepCount() { return g_count.load(); }
void ResetBeepCount() { g_count.store(0); }

}  // namespace rt
