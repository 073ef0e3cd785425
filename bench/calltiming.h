#pragma once

#include <functional>
#include <vector>

// Times one call repeated: the median and the slowest, in ms.
struct CallTiming
{
    double medianMs = 0;
    double worstMs = 0;

    static CallTiming of(const std::function<void()> &call, int times);
};

// The value at fraction p (0..1) of the sorted samples; 0 for none.
double percentile(std::vector<double> v, double p);

// Runs the event loop in steps of stepMs until done() holds; false when
// limitMs passed first.
bool waitFor(const std::function<bool()> &done, int limitMs, int stepMs);
