#include "core/commonresource.h"

CommonResource::CommonResource(QObject *parent)
    : QObject(parent)
{
}
