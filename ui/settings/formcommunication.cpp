#include "ui/settings/formcommunication.h"

#include "ui/plainpage.h"

FormCommunication::FormCommunication(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Communication"));
}

FormCommunication::~FormCommunication() = default;
