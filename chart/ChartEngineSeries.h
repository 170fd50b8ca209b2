// The series base class with its value lists.
#pragma once

#include "ChartSeries.h"
