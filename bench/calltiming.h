#pragma once

#include <functional>

// Times one call repeated: the median and the slowest, in ms.
struct CallTiming
{
    double medianMs = 0;
    double worstMs = 0;

    static CallTiming of(const std::function<void()> &call, int times);
};
