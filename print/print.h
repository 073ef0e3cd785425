#pragma once

// The report printing module in one include, for the screens that print.
#include "print/iprinternotify.h"
#include "print/pigeonsassignmentreport.h"
#include "print/racemarkreport.h"
#include "print/racepigeonsreport.h"
#include "print/reportprinter.h"
