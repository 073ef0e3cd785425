#include "ui/race/formracedetail.h"

#include "ui/plainpage.h"

FormRaceDetail::FormRaceDetail(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Race Detail"));
}

FormRaceDetail::~FormRaceDetail() = default;
