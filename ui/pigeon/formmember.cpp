#include "ui/pigeon/formmember.h"

#include "ui/plainpage.h"

FormMember::FormMember(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Member Data"));
}

FormMember::~FormMember() = default;
