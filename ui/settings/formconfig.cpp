#include "ui/settings/formconfig.h"

#include "ui/plainpage.h"

FormConfig::FormConfig(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Configuration"));
}

FormConfig::~FormConfig() = default;
