#pragma once

#include "gsm/gsmmodule.h"
#include "httpendpoint.h"
#include "modemfixture.h"
#include "modempeer.h"
#include "modempeersuite.h"
#include "scriptedmodem.h"
#include "testroot.h"

#include <QByteArray>
#include <QString>
#include <QTest>

#include <functional>
#include <memory>

// The suite of one family's driver: the cases every family runs alike
// (ModemPeerSuite) on Driver, and what the family's own cases open and
// check it with. A family's suite derives from it and names its family.
template <typename Driver>
class ModemPeerFixture : public ModemPeerSuite
{
protected:
    std::unique_ptr<Driver> openModem()
    {
        auto modem = std::make_unique<Driver>();
        modem->open(family().node);
        modem->setClock(&fast);
        modem->echoOff();
        peer->clearRecord();
        return modem;
    }

    std::unique_ptr<GsmModule> openDriver() override { return openModem(); }

    // Two uploads in a row on one driver, the reply coming in pieces: both
    // done with the reply, afterEach checking the driver after each one.
    // The caller checks QTest::currentTestFailed() before going on.
    void checkTwoUploads(const std::function<void(Driver &)> &afterEach)
    {
        const DriverFamily f = family();
        endpoint->setReply(HttpEndpoint::pieces(HttpEndpoint::okReply(f.replyBody), 16), 30);
        auto modem = openModem();
        for (int i = 0; i < 2; ++i) {
            const Upload u = upload(*modem, f.request);
            QVERIFY2(u.done, qPrintable(QStringLiteral("upload %1").arg(i + 1)));
            QCOMPARE(u.body, f.replyBody);
            afterEach(*modem);
            if (QTest::currentTestFailed())
                return;
        }
        QCOMPARE(endpoint->requests().size(), 2);
    }
};
