#pragma once

#include "print/iprinternotify.h"
#include "storage/loftinfo.h"
#include "storage/raceinfo.h"
#include "storagefixture.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class ClubPortPeer;
class ClubSide;
class MorlanProtocolProcess;
class PigeonInfo;
class PigeonRecord;
class ReportPrinter;
class StateRecorder;

// The data of the list suites' tables: the pigeons stored, the records a
// race list prints, and the pages expected, each a list of lines.
using Birds = QList<QSharedPointer<PigeonInfo>>;
using Records = QList<QSharedPointer<PigeonRecord>>;
using Pages = QList<QStringList>;

// Everything a printed list needs, for one test: a database in a simulated
// root, the club router peer (unpaced) on the club-link node, the real link
// thread authorised in club mode and published through the service factory,
// a fixed device clock with a club-time difference and the device's zone, and
// the line pause replaced by a recorder. Build it in the test's thread, which
// then prints as the GUI thread does.
class ReportFixture
{
public:
    // Device clock: 14/03/2026 09:26:53 UTC; club time 125 s ahead of it.
    static constexpr qint64 kDeviceMs = 1773480413000;
    static constexpr qint64 kClubDiffMs = 125000;
    static constexpr int kZoneSeconds = 28800;

    ReportFixture();
    ~ReportFixture();
    ReportFixture(const ReportFixture &) = delete;
    ReportFixture &operator=(const ReportFixture &) = delete;

    // Starts club mode and waits until the router authorised the clock.
    bool startClub();
    // Another device clock, club-time difference and device zone.
    void setClock(qint64 deviceMs, qint64 clubDiffMs, int zoneSeconds);

    // The loft and clock number the tests print with.
    static LoftInfo loft();
    static QString clockNo();
    // A field as the lists define it: cut or padded with blanks to width.
    static QString field(const QString &text, int width);
    // A pigeon as the tests store and print it.
    static QSharedPointer<PigeonInfo> bird(const QString &assocNum, const QString &ring, int sex,
                                           const QString &color, int year = 2020);
    // The codes of the race the race lists print; times and state are the
    // test's own.
    static RaceInfo raceCodes();

    // Expected lines of a page, as the lists print them with loft() and
    // clockNo(): the boxed title and an empty line; the three loft lines;
    // the three lines of raceCodes(); the five closing lines of the race
    // lists; a totals line (the leading field only when not null).
    static QStringList boxTitleLines(const QString &title);
    static QStringList loftLines(const QString &printed);
    static QStringList raceCodeLines();
    static QStringList declarationLines();
    static QString totalsLine(const QString &leading, int hens, int cocks, int yearlings);
    // Empty lines up to the closing lines, then the closing lines, so that
    // the page holds `lines` lines.
    static QStringList closedPage(QStringList page, int lines, const QStringList &closing);

    // Stores the pigeons that the report looks up.
    void storePigeons(const QList<QSharedPointer<PigeonInfo>> &pigeons);
    // The "cmbPrintPageSize" setting: 0 for long pages, 1 for short.
    void setPageSize(int pageSize);
    // Prints the whole report with the recorder bound and returns the
    // printed pages (see pagesOf).
    QList<QStringList> printPages(ReportPrinter &report, StateRecorder &recorder, QString *problem);

    StorageFixture &store() { return storage; }
    ClubPortPeer &peer();
    MorlanProtocolProcess &link();

    // Pauses asked for after each line, in ms, in order.
    QList<int> pauses;

    // What the printer received: every print command's text, and all of it.
    QStringList pieces() const;
    int pieceCount() const;
    QString printedText() const;
    void clearPrinted();

    // The printed text cut at its form feeds into pages of lines (CR LF
    // ends a line). Empty, with `problem` set, when something no page can
    // hold is found: a page whose last line lacks CR LF, a lone CR or LF,
    // or text after the last form feed.
    static QList<QStringList> pagesOf(const QString &text, QString *problem);
    QList<QStringList> printedPages(QString *problem) const;

private:
    StorageFixture storage;
    std::unique_ptr<ClubSide> club;
};

// A listener that writes down each state with the report's counters and the
// number of print commands the printer had received by then.
class StateRecorder : public IPrinterNotify
{
public:
    struct Entry
    {
        int state = 0;
        int recordIndex = 0;
        int lineCount = 0;
        int piecesSoFar = 0;
    };

    explicit StateRecorder(ReportFixture *fixture = nullptr);
    virtual ~StateRecorder() = default;
    void onState(ReportPrinter *report, IPrinterNotify::PrintNotifyState state) override;
    QList<int> states() const;

    QList<Entry> entries;
    // Runs at each state after it was written down (a test's hook).
    std::function<void(ReportPrinter *, int)> hook;

private:
    ReportFixture *fixture = nullptr;
};

// The base of the suites that print a list: a fresh fixture with the club
// started for each test function.
class ReportSuite : public QObject
{
    Q_OBJECT
protected:
    // Prints the loaded report with the recorder bound and compares what the
    // printer received, page for page, with the expected pages. The caller
    // checks QTest::currentTestFailed() before going on.
    void checkPrintedPages(ReportPrinter &report, StateRecorder &recorder, const Pages &expected);

    std::unique_ptr<ReportFixture> fixture;

private slots:
    void init();
    void cleanup();
};
