#pragma once

class ReportPrinter;

// How a report tells the screen that prints it how far printing has come.
// Called in the GUI thread from inside ReportPrinter::printAll; a listener
// that pumps events there must exclude user input, so that no touch or key
// starts a second print or leaves the screen meanwhile. The report never
// owns its listener.
class IPrinterNotify
{
public:
    enum PrintNotifyState {
        PrintLine = 1,
        PrintReportTopicBegin = 2,
        PrintReportTopicEnd = 3,
        PrintPageBegin = 4,
        PrintPageTopicEnd = 5,
        PrintPageContentBegin = 6,
        PrintPageContentEnd = 7,
        PrintPageBottomBegin = 8,
        PrintPageEnd = 9,
        PrintReportBottomBegin = 10,
        PrintReportBottomEnd = 11,
    };

    virtual void onState(ReportPrinter *report, IPrinterNotify::PrintNotifyState state) = 0;

protected:
    // Never deleted through this interface: the screens implement it as a
    // further base and own themselves.
    ~IPrinterNotify() = default;
};
