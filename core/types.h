#pragma once

// The shared value types of the clock, in one include.
#include "core/locationinfo.h"
#include "core/log.h"
#include "core/utc.h"
#include "core/vexexception.h"
#include "storage/loftinfo.h"
#include "storage/nomination.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/raceinfo.h"
