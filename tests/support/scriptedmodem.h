#pragma once

#include "core/vexexception.h"
#include "gsmtestclock.h"
#include "scriptport.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <memory>

// A modem driver on an in-memory port with a virtual clock, for the parsers
// and the receive budgets: each command releases its scripted answer, and a
// 15 s time-out costs no real time. An exit request can be scheduled at a
// virtual moment. Single-threaded.
template <typename Driver>
struct ScriptedModem
{
    ScriptedModem()
    {
        auto owned = std::make_unique<ScriptPort>();
        port = owned.get();
        modem.attachPort(std::move(owned));
        modem.setClock(&clock);
        clock.onAdvance = [this](qint64 now) {
            port->release(now);
            if (exitAtMs >= 0 && now >= exitAtMs)
                modem.requestExit();
        };
    }

    // The command lines written that start with prefix.
    int sent(const QByteArray &prefix) const
    {
        int n = 0;
        for (const QByteArray &line : port->lines())
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }

    VirtualClock clock;
    ScriptPort *port = nullptr;
    Driver modem;
    qint64 exitAtMs = -1;
};

// The error code a call throws (0 for none), with its message.
template <typename Call>
int thrownCode(Call call, QString *message = nullptr)
{
    try {
        call();
    } catch (const GsmException &e) {
        if (message)
            *message = e.getErrorMessage();
        return e.getErrorCode();
    }
    return 0;
}
