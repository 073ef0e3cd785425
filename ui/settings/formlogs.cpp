#include "ui/settings/formlogs.h"

#include "ui/plainpage.h"

FormLogs::FormLogs(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Event Log"));
}

FormLogs::~FormLogs() = default;
