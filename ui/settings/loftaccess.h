#pragma once

#include "device/lfmodule.h"
#include "storage/loftinfo.h"

#include <QList>
#include <QString>

// The loft settings and what the race engine caches beside them, for the
// settings screens: through the engine while it runs, so that its cached
// copies follow a save; straight from the database while it is not
// published (services late at start, or a test without them). GUI thread.
namespace LoftAccess {

LoftInfo loft();
// Stores the loft row and puts the device clock in its time zone at once.
void saveLoft(const LoftInfo &loft);
QList<QString> notifyPhones();
// Replaces the whole stored list in one transaction.
void saveNotifyPhones(const QList<QString> &phones);
// The ring-reader module's id, "00000000" while none is known.
QString systemId();
// The landing-antenna channels the readers reported; none without an engine.
QList<LFCHANNEL_INFO> channels();

} // namespace LoftAccess
