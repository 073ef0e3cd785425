#include "modemfamily.h"

ModemFamily modemFamily(const QString &name)
{
    if (name == QLatin1String("ublox"))
        return ubloxModemFamily();
    return ModemFamily();
}
