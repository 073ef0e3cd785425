#include "storage/pigeoninfo.h"

#include "storage/recordkeys.h"

PigeonInfo::PigeonInfo()
    : eringNum(emptyText())
{
}
