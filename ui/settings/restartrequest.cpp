#include "ui/settings/restartrequest.h"

#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "storage/storage.h"

void requestRestart(const char *where, const QString &reason)
{
    try {
        Storage::instance()->logPowerOff(reason);
    } catch (const VexException &) {
        ServiceFactory::debug(QLatin1String(where) + QStringLiteral(" logPowerOff VexException!"));
    } catch (...) {
        ServiceFactory::debug(QLatin1String(where) + QStringLiteral(" logPowerOff UnknowException!"));
    }
    ServiceFactory::requestExit();
}
