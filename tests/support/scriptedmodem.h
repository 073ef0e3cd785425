#pragma once

#include "core/vexexception.h"
#include "gsmtestclock.h"
#include "modemfixture.h"
#include "scriptport.h"

#include <QByteArray>
#include <QList>
#include <QTest>

#include <functional>
#include <memory>

// A modem driver on an in-memory port with a virtual clock, for the parsers
// and the receive budgets: each command releases its scripted answer, and a
// 15 s time-out costs no real time. An exit request or a port failure can
// be scheduled at a virtual moment. Single-threaded.
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
            if (failAtMs >= 0 && now >= failAtMs)
                port->setOpen(false);
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
    qint64 failAtMs = -1; // the port fails from this virtual moment on
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

// Compares how a call ended with a row's outcome: 1 true, 0 false, else
// the error code it threw. The caller checks QTest::currentTestFailed().
inline void compareOutcome(int code, bool result, int outcome)
{
    if (outcome > 1) {
        QCOMPARE(code, outcome);
        return;
    }
    QCOMPARE(code, 0);
    QCOMPARE(result, outcome == 1);
}

// The columns of a position parser's table: the answer's text, whether it
// parses, and the position it gives (0, 0 when it does not).
template <typename Text>
void addPositionParseColumns()
{
    QTest::addColumn<Text>("answer");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("lon");
    QTest::addColumn<int>("lat");
}

// A data-driven position parser (the family's GPS or cell answer).
template <typename Text>
void checkPositionParse(bool (*parse)(Text, int *, int *))
{
    QFETCH(Text, answer);
    QFETCH(bool, result);
    QFETCH(int, lon);
    QFETCH(int, lat);
    int gotLon = -1;
    int gotLat = -1;
    QCOMPARE(parse(answer, &gotLon, &gotLat), result);
    QCOMPARE(gotLon, lon);
    QCOMPARE(gotLat, lat);
}

// getNetUtcTime on one scripted answer: the command it sends, and the time
// it reports with the network as its source (utcMs 0: none reported).
template <typename Driver>
void checkNetworkTime(ScriptedModem<Driver> &m, const QByteArray &answer, const QByteArray &command, qint64 utcMs)
{
    m.port->answer(answer);
    TimeRecorder log;
    QCOMPARE(m.modem.getNetUtcTime(&log), utcMs != 0);
    QCOMPARE(m.port->lines().value(0), command);
    if (utcMs != 0)
        QCOMPARE(log.times, (QList<QPair<qint64, int>>{{utcMs, 1}}));
    else
        QVERIFY(log.times.isEmpty());
}
