#include "ui/pigeon/formaddpigeon.h"

#include "ui/plainpage.h"

FormAddPigeon::FormAddPigeon(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Add Pigeon"));
}

FormAddPigeon::~FormAddPigeon() = default;
