#pragma once

#include "print/iprinternotify.h"

#include <QObject>
#include <QString>

#include <functional>

// The page engine of the printed lists: fixed-width text sent piece by piece
// through the club link's printSync to the club router's printer. It runs the
// page loop (topic, records, bottom, form feed), counts the lines of a page,
// paces each line and reports progress to an IPrinterNotify. A report class
// supplies the page topic and bottom, the records and the totals. Runs in the
// GUI thread and blocks it; every piece waits for the link.
class ReportPrinter : public QObject
{
    Q_OBJECT
public:
    explicit ReportPrinter(QObject *parent = nullptr);
    ~ReportPrinter() override;

    // null unbinds; the listener is not owned.
    void bindNotify(IPrinterNotify *listener);
    // Prints the whole report from record 0 on a new page. A link failure
    // leaves as the link's VexException, with nothing sent after it.
    void printAll();

    // One piece: one print command (a piece longer than a request frame can
    // carry goes as consecutive commands).
    static void doPrintData(const QString &text);
    // One field: cut or padded with blanks to width characters, one piece.
    static void doPrintData(const QString &text, int width);
    // The text and CR LF as one piece, counted as one line, then the pause.
    void doPrintLine(const QString &text);
    static int getMaxPageLines();
    // Empty lines down to the last `reserved` lines of the page.
    void printToBottom(int reserved);

    // Records already handled, over the whole report (the screens' progress).
    int getRecordIndex() const { return recordIndex; }
    int getLineCount() const { return lineCount; }

    // True while any printAll runs: the main window holds its shutdown.
    static bool isPrinting();

    // The pause after each line (HardwareControl::wait by default); tests
    // put a recorder here. Set it in the GUI thread while nothing prints;
    // an empty function restores the default.
    using PauseFunction = std::function<void(int ms)>;
    static void setPauseFunction(PauseFunction pause);
    // The pause after a line at a "cmbPrintSpeed" value.
    static int linePauseMs(int printSpeed, bool emptyLine);

protected:
    virtual void printPageTopic() = 0;
    virtual void printPageBottom() = 0;
    virtual void printPageContent();
    virtual void printPageRecords();
    virtual void printRecord();
    virtual bool hasNextPage();
    virtual int getMaxRecordLines() = 0;
    virtual int getRecordCount() = 0;
    virtual void printReportTopic() = 0;
    virtual void printReportBottom() = 0;

    // Sends the state to the listener, if one is bound.
    void notifyState(IPrinterNotify::PrintNotifyState state);
    // The report topic between the states of its begin and end.
    void printNotifiedReportTopic();
    // Lines left on the page when `reserved` lines are kept for its end.
    int linesLeft(int reserved) const;
    // The common start of every page bottom: on the last page the report
    // bottom between states 10 and 11; then empty lines down to the
    // `closingLines` that the caller prints next.
    void printTotalsAndFill(int closingLines);

private:
    void printPage();

    int lineCount = 0;
    int recordIndex = 0;
    IPrinterNotify *notify = nullptr;
};
