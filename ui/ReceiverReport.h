// The receiver report of the log pane, formatted from what the set-up found:
// one text per log append, each of which may hold "\r\n" line breaks.
#pragma once

#include <string>
#include <vector>

#include "sweep/ReceiverSetup.h"

namespace wg {

// The line that follows the receiver list when the library counts none.
extern const char* const kNoReceiverText;
// The line that follows the receiver list when opening fails; followed by
// the receiver's index and the library's result code.
extern const char* const kOpenFailedText;

std::vector<std::string> FormatReceiverReport(const ReceiverReport& report);
// The report's lines of the sticks that share the range with the first.
std::vector<std::string> FormatSharingSticks(const ReceiverReport& report);

}  // namespace wg
