#include "ui/settings/loftaccess.h"

#include "core/servicefactory.h"
#include "core/utc.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"

namespace {

PigeonBo *engine()
{
    return ServiceFactory::getInstance()->pigeonBo;
}

} // namespace

namespace LoftAccess {

LoftInfo loft()
{
    if (PigeonBo *bo = engine())
        return bo->getLoftInfo();
    LoftInfo stored;
    Storage::instance()->readLoftInfo(&stored);
    return stored;
}

void saveLoft(const LoftInfo &info)
{
    if (PigeonBo *bo = engine()) {
        bo->saveLoftInfo(&info);
        return;
    }
    Storage::instance()->saveLoftInfo(&info);
    UTC::setTimeZone(info.timeZone);
}

QList<QString> notifyPhones()
{
    if (PigeonBo *bo = engine())
        return bo->getNotifyPhones();
    return Storage::instance()->queryPhoneCode();
}

void saveNotifyPhones(const QList<QString> &phones)
{
    if (PigeonBo *bo = engine()) {
        bo->saveNotifyPhones(phones);
        return;
    }
    Storage::instance()->savePhoneCodes(phones);
}

QString systemId()
{
    if (PigeonBo *bo = engine())
        return bo->getSystemId();
    return QStringLiteral("00000000");
}

QList<LFCHANNEL_INFO> channels()
{
    if (PigeonBo *bo = engine())
        return bo->getChannels();
    return {};
}

} // namespace LoftAccess
