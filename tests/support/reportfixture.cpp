#include "reportfixture.h"

#include "club/morlanprotolprocess.h"
#include "core/platform.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/hardware_control.h"
#include "print/reportprinter.h"

#include "clubportpeer.h"
#include "clubrouter.h"

#include <QDir>

namespace {

constexpr int kSetUpMs = 5000;
constexpr int kSetUpPollMs = 10;
constexpr unsigned long kStopMs = 5000;
// The router's answer time-outs scaled down, so that a silent printer fails
// a print in half a second instead of five.
constexpr int kAnswerTimeoutDivisor = 10;

} // namespace

ReportFixture::ReportFixture()
    : clubPeer(std::make_unique<ClubPortPeer>())
{
    QDir().mkpath(storage.root().path(QStringLiteral("/dev")));
    // Unpaced: a piece costs its club tick, not its bytes on the line.
    clubPeer->setPacing(false);
    clubPeer->linkAt(storage.root().path(QStringLiteral("/dev/ttyS2")));
    clubPeer->start();

    Platform::setSystemClock([] { return kDeviceMs; });
    UTC::_timeBase = 0;
    UTC::_clubTimeDiff = kClubDiffMs;
    UTC::setTimeZone(kZoneSeconds);
    ReportPrinter::setPauseFunction([this](int ms) { pauses << ms; });

    process = std::make_unique<MorlanProtocolProcess>(_serialPort_miniDin);
    // Normal mode finds no connector configured; the print settings are read
    // by the reports in the test's thread, from the database.
    process->setParamReader([](const QString &, int value) { return value; });
    process->setAnswerTimeoutDivisor(kAnswerTimeoutDivisor);
    ServiceFactory::getInstance()->protocolProcess = process.get();
}

ReportFixture::~ReportFixture()
{
    ServiceFactory::getInstance()->protocolProcess = nullptr;
    if (process->isRunning()) {
        process->requestExit();
        process->wait(kStopMs);
    }
    process.reset();
    clubPeer.reset();
    ReportPrinter::setPauseFunction({});
    UTC::_clubTimeDiff = 0;
    UTC::setTimeZone(kZoneSeconds);
    Platform::setSystemClock({});
}

bool ReportFixture::startClub()
{
    if (!clubPeer->isValid())
        return false;
    if (!process->isRunning())
        process->start(QThread::InheritPriority);
    process->switchWorkMode(MorlanProtocolProcess::ClubMaster, true);
    for (int waited = 0; waited < kSetUpMs && !process->isAuthed(); waited += kSetUpPollMs)
        HardwareControl::wait(kSetUpPollMs);
    return process->isAuthed();
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

QStringList ReportFixture::pieces() const
{
    QStringList out;
    for (const ClubRouter::Printed &piece : clubPeer->router().printed())
        out << QString::fromLatin1(piece.bytes);
    return out;
}

int ReportFixture::pieceCount() const
{
    return int(clubPeer->router().printed().size());
}

QString ReportFixture::printedText() const
{
    return QString::fromLatin1(clubPeer->router().printedBytes());
}

void ReportFixture::clearPrinted()
{
    clubPeer->router().clearRecords();
    clubPeer->clearFrames();
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
