#pragma once

#include "print/iprinternotify.h"

#include <QString>

class ReportPrinter;

// How a screen that prints shows the progress in its open message box: the
// head text when the report head begins, the record text (its "%1" the
// records printed so far) after each line once a record was printed, the
// tail text when the report tail begins; after every state the box is
// repainted by pumping events other than user input, so that no tap or key
// starts another action under the print. GUI thread only.
namespace PrintProgress {

struct Texts
{
    QString head;
    QString record;
    QString tail;
};

void show(const ReportPrinter *printer, IPrinterNotify::PrintNotifyState state, const Texts &texts);

} // namespace PrintProgress
