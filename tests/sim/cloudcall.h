#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// One JSON-RPC call as the cloud service receives it, with what its checks
// found. The checks are the wire format's, written here on their own: the
// content type, a compact body whose top level holds "id", "method" and
// "params" in this order, a known method, the parameter count (four only for
// "sendRecords" with an owner name), the code in position 3 against the
// service's own MD5 over loft number (Latin-1), password (Latin-1) and
// payload (UTF-8), and no password anywhere in the body.
struct CloudCall
{
    QByteArray rawBody;
    QByteArray contentType;
    QByteArray path;
    QByteArray host;
    QString method;
    QByteArray idText;   // the "id" member as sent; empty when missing
    qint64 id = 0;
    QString loftNum;
    QString payload;
    QString code;
    QString ownerName;
    int paramCount = 0;
    bool codeValid = false;
    QStringList problems; // empty: a valid call

    bool isValid() const { return problems.isEmpty(); }

    // Inspects one request against the service's loft table (loft number to
    // password).
    static CloudCall inspect(const QByteArray &contentType, const QByteArray &body,
                             const QMap<QString, QString> &lofts);
    // The code the service expects: 8 upper-case hexadecimal digits.
    static QString expectedCode(const QString &loftNum, const QString &password, const QString &payload);
    // Whether text is compact JSON (no blank between tokens) whose objects
    // all have their keys in ascending byte order; topKeys receives the
    // keys of the outermost object in the order written.
    static bool compactAndOrdered(const QByteArray &text, QList<QByteArray> *topKeys, bool *ordered);
};
