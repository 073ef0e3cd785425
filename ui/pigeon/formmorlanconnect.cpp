#include "ui/pigeon/formmorlanconnect.h"

#include "ui/plainpage.h"

FormMorlanConnect::FormMorlanConnect(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Club Manager"));
}

FormMorlanConnect::~FormMorlanConnect() = default;
