#pragma once

#include "gsm/gsmhttp.h"
#include "gsm/gsmservicecallback.h"

#include <QByteArray>
#include <QList>
#include <QPair>

// Records the times a modem driver reports, with their source.
class TimeRecorder final : public TimeCallback
{
public:
    void onTime(qint64 utcMs, int source) override { times << qMakePair(utcMs, source); }
    QList<QPair<qint64, int>> times;
};

// The answer `times` times over: a script of equal answers.
inline QList<QByteArray> repeated(const QByteArray &answer, int times)
{
    QList<QByteArray> out;
    for (int i = 0; i < times; ++i)
        out << answer;
    return out;
}

// A JSON-RPC request to the endpoint's "/rpc" on host with the given body.
inline GsmHttpRequest jsonRpcRequest(const QByteArray &body, const QByteArray &host = "cloud.test:9080")
{
    GsmHttpRequest r;
    r.path = "/rpc";
    r.host = host;
    r.contentType = "application/json-rpc";
    r.charset = "UTF-8";
    r.body = body;
    return r;
}

// How many of the command lines start with prefix.
inline int countPrefix(const QList<QByteArray> &commands, const QByteArray &prefix)
{
    int n = 0;
    for (const QByteArray &c : commands)
        n += c.startsWith(prefix) ? 1 : 0;
    return n;
}
