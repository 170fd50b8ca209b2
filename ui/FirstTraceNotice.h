// For scripts that start the program and must know when it shows what it
// measures (the package check runs the installed program this way): with
// WIDEGLASS_EXIT_AFTER_FIRST_TRACE=1 in the environment, the window prints
// "wideglass: first trace drawn" on standard output once the chart has been
// painted after the first complete sweep, and then closes as if the user had
// closed it. Without the variable nothing changes.
#pragma once

class QWidget;

namespace wg {

class TSweepEngine;

constexpr const char* kFirstTraceVariable = "WIDEGLASS_EXIT_AFTER_FIRST_TRACE";

// Watches `chart` in `window` when the environment asks for it, and closes the
// window; the watch goes with the window, which must outlive the engine.
void WatchFirstTrace(QWidget& window, QWidget& chart, TSweepEngine& sweep);

}  // namespace wg
