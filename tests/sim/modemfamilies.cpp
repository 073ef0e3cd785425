#include "modemfamily.h"

ModemFamily modemFamily(const QString &name)
{
    if (name == QLatin1String("ublox"))
        return ubloxModemFamily();
    if (name == QLatin1String("ec25"))
        return ec25ModemFamily();
    if (name == QLatin1String("telit"))
        return telitModemFamily();
    return ModemFamily();
}
