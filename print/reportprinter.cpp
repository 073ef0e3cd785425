#include "print/reportprinter.h"

#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"

#include <QCoreApplication>
#include <QLatin1Char>
#include <QLatin1String>

#include <atomic>

namespace {

// A request frame carries at most 255 data bytes; a longer piece (an address
// line holds loft texts of any length) goes as several print commands of at
// most this many characters, which the printer shows as one text.
constexpr int kMaxPieceChars = 250;

constexpr int kLongPageLines = 62;  // "A4"
constexpr int kShortPageLines = 58; // "Letter size"

// Line pauses by "cmbPrintSpeed": after a printed line, after an empty one.
constexpr int kFastLineMs = 50;
constexpr int kFastEmptyMs = 10;
constexpr int kMediumLineMs = 75;
constexpr int kMediumEmptyMs = 17;
constexpr int kSlowLineMs = 100;
constexpr int kSlowEmptyMs = 25;
constexpr int kSpeedFast = 0;
constexpr int kSpeedMedium = 1;

constexpr char kFormFeed = '\x0c';
const char kLineEnd[] = "\r\n";
const char kPrintSpeedKey[] = "cmbPrintSpeed";
const char kPageSizeKey[] = "cmbPrintPageSize";

constexpr int kNoLinkCode = 0x1201;
const char kNoLinkMessage[] = "Semaphore timeout!";

std::atomic<int> printDepth{0};

ReportPrinter::PauseFunction &pauseFunction()
{
    static ReportPrinter::PauseFunction pause;
    return pause;
}

// Counts a running printAll, also when it leaves by an exception.
class PrintingScope
{
public:
    PrintingScope() { ++printDepth; }
    ~PrintingScope() { --printDepth; }
    PrintingScope(const PrintingScope &) = delete;
    PrintingScope &operator=(const PrintingScope &) = delete;
};

void printPiece(MorlanProtocolProcess *link, const QString &text)
{
    int at = 0;
    do {
        int size = qMin(kMaxPieceChars, int(text.size()) - at);
        // A character outside the basic plane stays in one command.
        if (at + size < text.size() && size > 1 && text.at(at + size - 1).isHighSurrogate())
            --size;
        link->printSync(text.mid(at, size));
        at += size;
    } while (at < text.size());
}

} // namespace

ReportPrinter::ReportPrinter(QObject *parent)
    : QObject(parent)
{
}

ReportPrinter::~ReportPrinter() = default;

void ReportPrinter::bindNotify(IPrinterNotify *listener)
{
    notify = listener;
}

void ReportPrinter::printAll()
{
    PrintingScope scope;
    recordIndex = 0;
    // The test follows the page, so a report without records prints one page.
    do {
        printPage();
    } while (hasNextPage());
}

void ReportPrinter::printPage()
{
    lineCount = 0;
    notifyState(IPrinterNotify::PrintPageBegin);
    printPageTopic();
    notifyState(IPrinterNotify::PrintPageTopicEnd);
    notifyState(IPrinterNotify::PrintPageContentBegin);
    printPageContent();
    notifyState(IPrinterNotify::PrintPageContentEnd);
    notifyState(IPrinterNotify::PrintPageBottomBegin);
    printPageBottom();
    // The form feed is a piece of its own: no line end, no line, no pause.
    doPrintData(QString(QLatin1Char(kFormFeed)));
    notifyState(IPrinterNotify::PrintPageEnd);
}

void ReportPrinter::doPrintData(const QString &text)
{
    MorlanProtocolProcess *link = ServiceFactory::getInstance()->protocolProcess;
    if (!link) {
        // No service thread: nothing could ever answer the print.
        throw VexException(kNoLinkCode, QLatin1String(kNoLinkMessage),
                           QCoreApplication::translate("ExceptionResource", kNoLinkMessage));
    }
    printPiece(link, text);
}

void ReportPrinter::doPrintData(const QString &text, int width)
{
    doPrintData(text.leftJustified(width, QLatin1Char(' '), true));
}

void ReportPrinter::doPrintLine(const QString &text)
{
    doPrintData(text + QLatin1String(kLineEnd));
    ++lineCount;
    notifyState(IPrinterNotify::PrintLine);
    // Read at every line, so that a changed setting takes effect at once.
    const int speed = ServiceFactory::getParamInt32(QLatin1String(kPrintSpeedKey), kSpeedMedium);
    const int pauseMs = linePauseMs(speed, text.isEmpty());
    if (const PauseFunction &pause = pauseFunction())
        pause(pauseMs);
    else
        HardwareControl::wait(pauseMs);
}

int ReportPrinter::getMaxPageLines()
{
    return ServiceFactory::getParamInt32(QLatin1String(kPageSizeKey), 0) == 0 ? kLongPageLines : kShortPageLines;
}

void ReportPrinter::printToBottom(int reserved)
{
    const int emptyLines = linesLeft(reserved);
    for (int i = 0; i < emptyLines; ++i)
        doPrintLine(QString());
}

bool ReportPrinter::isPrinting()
{
    return printDepth > 0;
}

void ReportPrinter::setPauseFunction(PauseFunction pause)
{
    pauseFunction() = std::move(pause);
}

int ReportPrinter::linePauseMs(int printSpeed, bool emptyLine)
{
    switch (printSpeed) {
    case kSpeedFast:
        return emptyLine ? kFastEmptyMs : kFastLineMs;
    case kSpeedMedium:
        return emptyLine ? kMediumEmptyMs : kMediumLineMs;
    default:
        return emptyLine ? kSlowEmptyMs : kSlowLineMs;
    }
}

void ReportPrinter::printPageContent()
{
    printPageRecords();
}

void ReportPrinter::printPageRecords()
{
    const int count = getRecordCount();
    // Taken once, after the page topic: a record that prints nothing still
    // uses its place and its number.
    const int budget = getMaxRecordLines();
    for (int handled = 0; handled < budget && recordIndex < count; ++handled) {
        printRecord();
        ++recordIndex;
    }
}

void ReportPrinter::printRecord()
{
    doPrintLine(QString());
}

bool ReportPrinter::hasNextPage()
{
    return recordIndex < getRecordCount();
}

void ReportPrinter::notifyState(IPrinterNotify::PrintNotifyState state)
{
    if (notify)
        notify->onState(this, state);
}

void ReportPrinter::printNotifiedReportTopic()
{
    notifyState(IPrinterNotify::PrintReportTopicBegin);
    printReportTopic();
    notifyState(IPrinterNotify::PrintReportTopicEnd);
}

int ReportPrinter::linesLeft(int reserved) const
{
    return getMaxPageLines() - lineCount - reserved;
}

void ReportPrinter::printTotalsAndFill(int closingLines)
{
    if (!hasNextPage()) {
        notifyState(IPrinterNotify::PrintReportBottomBegin);
        printReportBottom();
        notifyState(IPrinterNotify::PrintReportBottomEnd);
    }
    printToBottom(closingLines);
}
