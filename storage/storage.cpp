#include "storage/storage.h"

namespace {
thread_local Storage *_storage = nullptr;
}

Storage *Storage::instance()
{
    if (!_storage)
        _storage = new Storage();
    return _storage;
}

void Storage::init()
{
    instance();
}

void Storage::destroy()
{
    delete _storage;
    _storage = nullptr;
}

QString Storage::getParam(const QString &)
{
    return QString();
}

void Storage::setParam(const QString &, const QString &) {}

void Storage::clearSomeLogs() {}
void Storage::logPowerOn() {}
void Storage::logPowerOff(const QString &) {}
