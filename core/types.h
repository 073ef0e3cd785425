#pragma once

// The shared value types of the clock, in one include.
#include "core/utc.h"
#include "core/vexexception.h"
