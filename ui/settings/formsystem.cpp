#include "ui/settings/formsystem.h"

#include "ui/plainpage.h"

FormSystem::FormSystem(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("System Info"));
}

FormSystem::~FormSystem() = default;
