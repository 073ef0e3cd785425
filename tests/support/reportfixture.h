#pragma once

#include "print/iprinternotify.h"
#include "storage/loftinfo.h"
#include "storagefixture.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class ClubPortPeer;
class MorlanProtocolProcess;
class ReportPrinter;

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

    StorageFixture &store() { return storage; }
    ClubPortPeer &peer() { return *clubPeer; }
    MorlanProtocolProcess &link() { return *process; }

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
    std::unique_ptr<ClubPortPeer> clubPeer;
    std::unique_ptr<MorlanProtocolProcess> process;
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
