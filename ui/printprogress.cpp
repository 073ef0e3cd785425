#include "ui/printprogress.h"

#include "print/reportprinter.h"
#include "ui/formmessage.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace PrintProgress {

void show(const ReportPrinter *printer, IPrinterNotify::PrintNotifyState state, const Texts &texts)
{
    FormMessage *box = FormMessage::instance();
    switch (state) {
    case IPrinterNotify::PrintReportTopicBegin:
        box->setText(texts.head);
        break;
    case IPrinterNotify::PrintLine:
        if (printer && printer->getRecordIndex() >= 1)
            box->setText(texts.record.arg(printer->getRecordIndex()));
        break;
    case IPrinterNotify::PrintReportBottomBegin:
        box->setText(texts.tail);
        break;
    default:
        break;
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace PrintProgress
