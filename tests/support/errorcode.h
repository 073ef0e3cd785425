#pragma once

#include "core/vexexception.h"

#include <QString>

#include <functional>

// The error code of the VexException the call throws, or 0 when it throws
// none; the exception's message goes to *message when given.
inline int errorCodeOf(const std::function<void()> &call, QString *message = nullptr)
{
    try {
        call();
    } catch (const VexException &e) {
        if (message)
            *message = e.getErrorMessage();
        return e.getErrorCode();
    }
    return 0;
}
