#pragma once

#include <QByteArray>
#include <QMetaType>

// The modem state that the modem thread copies out for the screens.
struct GsmState
{
    quint32 flags = 0;   // modem state bits (registered, socket open, ...)
    int csq = 0;         // last signal quality, 0 when not registered
    QByteArray lac;      // location area code of the serving cell
    QByteArray cellId;   // cell identity
};

Q_DECLARE_METATYPE(GsmState)
