#include "ui/formhome.h"

#include "ui/plainpage.h"

FormHome::FormHome(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Home"));
}

FormHome::~FormHome() = default;
