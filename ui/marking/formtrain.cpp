#include "ui/marking/formtrain.h"

#include "ui/plainpage.h"

FormTrain::FormTrain(QWidget *parent)
    : SubWindow(parent)
{
    setUpPlainPage(this, tr("Training Data"));
}

FormTrain::~FormTrain() = default;
