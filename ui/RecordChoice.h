// Record…'s choices, asked before the file: a bin size (adjacent bins joined
// into bins no wider than it, each holding their total power), an interval
// (its sweeps integrated into one set of lines) and mean or peak hold within
// it, as the survey's -f START:STOP:BIN, -i and -P choose them.
#pragma once

#include <optional>

#include "record/SweepIntegrator.h"

class QWidget;

namespace wg {

// The choices made, or nothing when the user cancelled.
std::optional<IntegrationChoice> AskRecordChoice(QWidget* parent, const IntegrationChoice& initial);

}  // namespace wg
