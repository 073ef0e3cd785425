#include "ui/pigeon/formpcconnect.h"

#include "ui/plainpage.h"

FormPcConnect::FormPcConnect(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("PC Connection"));
}

FormPcConnect::~FormPcConnect() = default;
