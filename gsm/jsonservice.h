#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

#include <atomic>

class GSMService;

// One upload as one JSON-RPC call to the cloud service: builds the request,
// signs the payload with the loft number and password (the password never
// travels), posts it through the modem service and checks the reply. Built
// on the stack by the race engine for each upload, in the modem thread.
// Every failure throws VexException 4098; failures of the HTTP exchange pass
// through as they come.
class JsonService
{
public:
    explicit JsonService(GSMService *service);
    virtual ~JsonService();

    // One HTTP POST of the body to the engine's host and path; the reply body.
    virtual QByteArray postHttp(QByteArray body);

    // Signed call: params [loftNum, payload, code, ownerName when not empty];
    // the reply's "result" (invalid when missing).
    QVariant doMethodMac(QByteArray method, QByteArray loftNum, QByteArray password, QByteArray params,
                         QString ownerName);
    QVariant sendState(QByteArray loftNum, QByteArray password, QByteArray params);
    QVariant sendMarkRecord(QByteArray loftNum, QByteArray password, QByteArray params);
    void sendRecordList(QByteArray loftNum, QByteArray password, QByteArray params, QString ownerName);
    void sendRecord(QByteArray loftNum, QByteArray password, QByteArray params);
    // Unsigned call: params [first, rest...].
    QVariant doMethod(QByteArray method, QByteArray first, QList<QVariant> rest);

    // The request counter of the process: the first request carries 1, and
    // every request, failed or not, uses up its number.
    static std::atomic<int> _id;

private:
    // Posts the request and applies the reply checks; parsedOnly fails a
    // reply that is no JSON at all (signed calls).
    QVariant exchange(const QByteArray &method, const QVariantList &params, bool signedCall);

    GSMService *service = nullptr;
};
