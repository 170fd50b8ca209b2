// The survey mode, `wideglass --record FILE|- ...`: the window's engine and
// options without a window or a display, every sweep appended to an
// rtl_power CSV file (or standard output) until the sweep count or duration
// is reached or a signal ends it.
//
// Exit status: 0 when the survey ended as asked (count, duration, or a first
// SIGINT/SIGTERM, after the sweeps already finished are written); 1 on a
// failure (file, receiver, read, write), with one line on standard error;
// 128 + the signal when a second signal ends it: nothing new is written and
// it ends once the line under way is out (a third signal ends it at once).
// What was written stays a valid file in every case but the third signal's.
#pragma once

namespace wg {

struct Options;

// Runs after the receiver library was loaded; returns the exit status.
int RunSurvey(int argc, char** argv, const Options& options);

}  // namespace wg
