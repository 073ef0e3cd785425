#include "gsm/socketaddress.h"

#include "gsm/attext.h"

#include <QList>

bool SocketAddress::parse(const QByteArray &address, SocketAddress *out)
{
    if (address.isEmpty()) {
        out->host = kDefaultCloudHost;
        out->port = QByteArray::number(kDefaultCloudPort);
    } else {
        const QList<QByteArray> parts = address.split(':');
        out->host = parts.at(0).trimmed();
        out->port = parts.size() > 1 ? parts.at(1) : QByteArray("80");
    }
    return AtText::quotable("host", out->host) && AtText::validPort("port", out->port);
}
