#include "race/pigeonbo.h"

// The engine's turns of the modem thread. Until uploads and SMS are built
// there is never anything to send: 1, "nothing to do".

int PigeonBo::doSmsEvent(GSMService *)
{
    return 1;
}

int PigeonBo::doGprsEvent(GSMService *)
{
    return 1;
}
