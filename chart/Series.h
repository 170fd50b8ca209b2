// The fast line series and what it draws with.
#pragma once

#include "FastLineSeries.h"
