#pragma once

#include <QMessageBox>

// How a screen receives an answer: from the message box (Ok or Cancel, no
// data) or from a dialog-like screen it opened (Ok and a pointer to the
// record concerned, valid only during the call). GUI thread only.
class FormMessageHandler
{
public:
    virtual ~FormMessageHandler() = default;
    virtual void onFormMessage(QMessageBox::StandardButton button, void *data) = 0;
};
