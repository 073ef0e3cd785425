#include "ui/marking/formtrainstart.h"

#include "ui/plainpage.h"

FormTrainStart::FormTrainStart(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Training Start"));
}

FormTrainStart::~FormTrainStart() = default;
