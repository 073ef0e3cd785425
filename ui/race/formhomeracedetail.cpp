#include "ui/race/formhomeracedetail.h"

#include "ui/plainpage.h"

FormHomeRaceDetail::FormHomeRaceDetail(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Race Detail"));
}

FormHomeRaceDetail::~FormHomeRaceDetail() = default;
