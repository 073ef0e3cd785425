#include "reportfixture.h"

#include "core/platform.h"
#include "core/utc.h"
#include "print/reportprinter.h"
#include "storage/pigeoninfo.h"
#include "storage/storage.h"

#include "clubportpeer.h"
#include "clubrouter.h"
#include "clubside.h"

#include <QTest>

ReportFixture::ReportFixture()
    : club(std::make_unique<ClubSide>(storage.root()))
{
    Platform::setSystemClock([] { return kDeviceMs; });
    UTC::_timeBase = 0;
    UTC::_clubTimeDiff = kClubDiffMs;
    UTC::setTimeZone(kZoneSeconds);
    ReportPrinter::setPauseFunction([this](int ms) { pauses << ms; });
}

ReportFixture::~ReportFixture()
{
    club.reset();
    ReportPrinter::setPauseFunction({});
    UTC::_clubTimeDiff = 0;
    UTC::setTimeZone(kZoneSeconds);
    Platform::setSystemClock({});
}

bool ReportFixture::startClub()
{
    return club->startClub();
}

ClubPortPeer &ReportFixture::peer()
{
    return club->peer();
}

MorlanProtocolProcess &ReportFixture::link()
{
    return club->link();
}

void ReportFixture::setClock(qint64 deviceMs, qint64 clubDiffMs, int zoneSeconds)
{
    Platform::setSystemClock([deviceMs] { return deviceMs; });
    UTC::_clubTimeDiff = clubDiffMs;
    UTC::setTimeZone(zoneSeconds);
}

LoftInfo ReportFixture::loft()
{
    LoftInfo info;
    info.clubName = QStringLiteral("Ostend Club");
    info.ownerName = QStringLiteral("Jan Peeters");
    info.loftNum = QStringLiteral("BE-4411");
    info.phoneNo = QStringLiteral("+32 59 123456");
    info.street = QStringLiteral("Kerkstraat 12");
    info.city = QStringLiteral("Oostende");
    info.postCode = QStringLiteral("8400");
    return info;
}

QString ReportFixture::clockNo()
{
    return QStringLiteral("C0FFEE01");
}

QString ReportFixture::field(const QString &text, int width)
{
    return text.leftJustified(width, QLatin1Char(' '), true);
}

QSharedPointer<PigeonInfo> ReportFixture::bird(const QString &assocNum, const QString &ring, int sex,
                                               const QString &color, int year)
{
    auto p = QSharedPointer<PigeonInfo>::create();
    p->assocNum = assocNum;
    p->eringNum = ring;
    p->sex = sex;
    p->color = color;
    p->year = year;
    return p;
}

RaceInfo ReportFixture::raceCodes()
{
    RaceInfo info;
    info.raceCode = QStringLiteral("R2026-07");
    info.assocCode = QStringLiteral("KBDB");
    info.liberCode = QStringLiteral("LIB9");
    info.liberName = QStringLiteral("Orleans");
    info.markReaderId = QStringLiteral("00A1B2C3");
    info.markAuthKey = QStringLiteral("0A1B2C3D");
    return info;
}

QStringList ReportFixture::boxTitleLines(const QString &title)
{
    const QString boxRule = QLatin1Char('+') + QString(75, QLatin1Char('-')) + QLatin1Char('+');
    return {boxRule, title, boxRule, QString()};
}

QStringList ReportFixture::loftLines(const QString &printed)
{
    return {field("CLUB: Ostend Club", 29) + field("CLOCK No: C0FFEE01", 21) + "PRINTED: " + printed,
            field("MEMBER: Jan Peeters", 29) + field("LOFT No: BE-4411", 21) + "TELEPHONE: +32 59 123456",
            "ADDRESS: Kerkstraat 12 - Oostende - 8400"};
}

QStringList ReportFixture::raceCodeLines()
{
    return {field("ASSOC CODE: KBDB", 39) + field("RACE CODE: R2026-07", 39),
            field("MARKER ID: 00A1B2C3", 39) + field("KEY CODE: 0A1B2C3D", 39),
            field("LIBER CODE: LIB9", 39) + field("LIBER SITE: Orleans", 39)};
}

QStringList ReportFixture::declarationLines()
{
    return {QString(77, QLatin1Char('_')),
            "All entered pigeons have been fully vaccinated against Paramyxovirus and are ",
            "registered in my name.", QString(),
            "Signed Member:         Flyer:            Club:           Clock Checked:      "};
}

QString ReportFixture::totalsLine(const QString &leading, int hens, int cocks, int yearlings)
{
    return (leading.isNull() ? QString() : field(leading, 20)) + field(QStringLiteral("Total hens: %1").arg(hens), 20)
        + field(QStringLiteral("Total cocks: %1").arg(cocks), 20)
        + field(QStringLiteral("Yearlings: %1").arg(yearlings), 20);
}

QStringList ReportFixture::closedPage(QStringList page, int lines, const QStringList &closing)
{
    while (page.size() < lines - closing.size())
        page << QString();
    return page + closing;
}

void ReportFixture::storePigeons(const QList<QSharedPointer<PigeonInfo>> &pigeons)
{
    for (const QSharedPointer<PigeonInfo> &pigeon : pigeons)
        Storage::instance()->savePigeon(pigeon.data());
}

void ReportFixture::setPageSize(int pageSize)
{
    Storage::instance()->setParam(QStringLiteral("cmbPrintPageSize"), QString::number(pageSize));
}

QList<QStringList> ReportFixture::printPages(ReportPrinter &report, StateRecorder &recorder, QString *problem)
{
    report.bindNotify(&recorder);
    report.printAll();
    return printedPages(problem);
}

QStringList ReportFixture::pieces() const
{
    QStringList out;
    for (const ClubRouter::Printed &piece : club->peer().router().printed())
        out << QString::fromLatin1(piece.bytes);
    return out;
}

int ReportFixture::pieceCount() const
{
    return int(club->peer().router().printed().size());
}

QString ReportFixture::printedText() const
{
    return QString::fromLatin1(club->peer().router().printedBytes());
}

void ReportFixture::clearPrinted()
{
    club->peer().router().clearRecords();
    club->peer().clearFrames();
}

QList<QStringList> ReportFixture::pagesOf(const QString &text, QString *problem)
{
    const QString lineEnd = QStringLiteral("\r\n");
    QStringList chunks = text.split(QLatin1Char('\f'));
    if (!chunks.last().isEmpty()) {
        *problem = QStringLiteral("text after the last form feed: ") + chunks.last().left(80);
        return {};
    }
    chunks.removeLast();
    QList<QStringList> pages;
    for (const QString &chunk : chunks) {
        if (!chunk.endsWith(lineEnd)) {
            *problem = QStringLiteral("page %1 does not end with CR LF").arg(pages.size() + 1);
            return {};
        }
        QStringList lines = chunk.split(lineEnd);
        lines.removeLast();
        for (const QString &line : lines) {
            if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n'))) {
                *problem = QStringLiteral("a lone CR or LF on page %1: ").arg(pages.size() + 1) + line;
                return {};
            }
        }
        pages << lines;
    }
    return pages;
}

QList<QStringList> ReportFixture::printedPages(QString *problem) const
{
    return pagesOf(printedText(), problem);
}

StateRecorder::StateRecorder(ReportFixture *printerFixture)
    : fixture(printerFixture)
{
}

void StateRecorder::onState(ReportPrinter *report, IPrinterNotify::PrintNotifyState state)
{
    entries << Entry{int(state), report->getRecordIndex(), report->getLineCount(),
                     fixture ? fixture->pieceCount() : 0};
    if (hook)
        hook(report, int(state));
}

QList<int> StateRecorder::states() const
{
    QList<int> out;
    for (const Entry &entry : entries)
        out << entry.state;
    return out;
}

void ReportSuite::init()
{
    fixture = std::make_unique<ReportFixture>();
    QVERIFY(fixture->startClub());
}

void ReportSuite::cleanup()
{
    fixture.reset();
}

void ReportSuite::checkPrintedPages(ReportPrinter &report, StateRecorder &recorder, const Pages &expected)
{
    QString problem;
    const Pages printed = fixture->printPages(report, recorder, &problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(printed, expected);
}
