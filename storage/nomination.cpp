#include "storage/nomination.h"

// A plain value: nothing to define beyond its header. The file keeps the
// one-class-per-pair layout that the build lists.
