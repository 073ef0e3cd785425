#include "clubrouter.h"

#include <QDateTime>

namespace {

constexpr int kParameterBytes = 16;
constexpr int kRouterIdAt = 4;
constexpr int kRouterIdBytes = 4;
constexpr int kRingNumberBytes = 4;
constexpr int kSetTimeBytes = 6;
constexpr quint8 kOneHourFlag = 0x02;
constexpr qint64 kOneHourMs = 3600000;
constexpr char kFormFeed = '\f';

// A date the tests can recognise: 2026-03-09 12:00:00 UTC.
constexpr qint64 kDefaultClockMs = 1773057600000;

QByteArray twoDigits(int value)
{
    return QByteArray::number(value % 100).rightJustified(2, '0');
}

quint8 byteAt(const QByteArray &bytes, int index)
{
    return index < bytes.size() ? quint8(bytes.at(index)) : quint8(0);
}

} // namespace

const QString ClubRouter::kPageBreak = QStringLiteral("\f");

ClubRouter::ClubRouter()
    : params(kParameterBytes, '\0')
    , authKey(QByteArray::fromHex("a1b2c3d4e5f6"))
    , clockBaseMs(kDefaultClockMs)
    , clockSetAt(std::chrono::steady_clock::now())
{
    // The rest of the block is the router's own: a type and version word.
    params[0] = 'M';
    params[1] = 'R';
    params[2] = 0x01;
    params[3] = 0x07;
    params.replace(kRouterIdAt, kRouterIdBytes, QByteArray::fromHex("0badcafe"));
}

QByteArray ClubRouter::parameters() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return params;
}

void ClubRouter::setParameters(const QByteArray &block)
{
    std::lock_guard<std::mutex> lock(mutex);
    params = block;
}

void ClubRouter::setRouterId(const QByteArray &id)
{
    std::lock_guard<std::mutex> lock(mutex);
    params.replace(kRouterIdAt, kRouterIdBytes, id.left(kRouterIdBytes).leftJustified(kRouterIdBytes, '\0'));
}

void ClubRouter::setAuthorisation(quint8 code, const QByteArray &key)
{
    std::lock_guard<std::mutex> lock(mutex);
    authCode = code;
    authKey = key;
}

void ClubRouter::presentRing(const QByteArray &number, quint8 rand)
{
    std::lock_guard<std::mutex> lock(mutex);
    hasRing = true;
    ringNumber = number;
    ringRand = rand;
}

void ClubRouter::takeRingAway()
{
    std::lock_guard<std::mutex> lock(mutex);
    hasRing = false;
}

bool ClubRouter::ring(QByteArray *number, quint8 *rand) const
{
    std::lock_guard<std::mutex> lock(mutex);
    if (number)
        *number = ringNumber;
    if (rand)
        *rand = ringRand;
    return hasRing;
}

void ClubRouter::setNextRandom(quint8 rand)
{
    std::lock_guard<std::mutex> lock(mutex);
    nextRandom = rand;
}

void ClubRouter::setClock(qint64 utcMs)
{
    std::lock_guard<std::mutex> lock(mutex);
    clockBaseMs = utcMs;
    clockSetAt = std::chrono::steady_clock::now();
}

qint64 ClubRouter::clock() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return clockLocked();
}

qint64 ClubRouter::clockLocked() const
{
    const auto ran = std::chrono::steady_clock::now() - clockSetAt;
    return clockBaseMs + std::chrono::duration_cast<std::chrono::milliseconds>(ran).count();
}

void ClubRouter::setOneHourFlag(bool on)
{
    std::lock_guard<std::mutex> lock(mutex);
    oneHourFlag = on;
}

void ClubRouter::setTimeStatus(quint8 status)
{
    std::lock_guard<std::mutex> lock(mutex);
    timeStatus = status;
}

void ClubRouter::setPrinterRefusal(quint8 address, quint8 status)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (address == kPrinter)
        refusalAt54 = status;
    else if (address == kSecondPrinter)
        refusalAt22 = status;
}

QList<ClubRouter::Printed> ClubRouter::printed() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return printRecords;
}

QByteArray ClubRouter::printedBytes() const
{
    QByteArray all;
    for (const Printed &piece : printed())
        all += piece.bytes;
    return all;
}

QStringList ClubRouter::printedLines() const
{
    QStringList lines;
    QString line;
    const QByteArray bytes = printedBytes();
    for (char c : bytes) {
        if (c == '\r')
            continue;
        if (c == '\n') {
            lines << line;
            line.clear();
        } else if (c == kFormFeed) {
            if (!line.isEmpty())
                lines << line;
            line.clear();
            lines << kPageBreak;
        } else {
            line += QChar(uchar(c)); // the printer's character set is ISO 8859-1
        }
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

QList<QByteArray> ClubRouter::writtenBlocks() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return blocks;
}

QList<quint8> ClubRouter::digitalOutputs() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return outputs;
}

void ClubRouter::clearRecords()
{
    std::lock_guard<std::mutex> lock(mutex);
    printRecords.clear();
    blocks.clear();
    outputs.clear();
}

QByteArray ClubRouter::timeText(qint64 utcMs)
{
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC);
    return twoDigits(time.time().hour()) + twoDigits(time.time().minute()) + twoDigits(time.time().second()) + ' '
        + twoDigits(time.date().day()) + twoDigits(time.date().month()) + twoDigits(time.date().year());
}

ClubRouter::Reply ClubRouter::answer(quint8 address, quint8 command, const QByteArray &data)
{
    std::lock_guard<std::mutex> lock(mutex);
    Reply reply;
    switch (command) {
    case Authorise:
        reply.data = QByteArray(1, char(authCode)) + authKey;
        break;
    case ReadParameters:
        reply.data = params;
        break;
    case ReadTransponder:
        return ringAnswer(data, false);
    case SetRandom:
        return ringAnswer(data, true);
    case WriteTransponder:
        blocks.append(data.mid(2));
        break;
    case SetDigout:
        outputs.append(byteAt(data, 1));
        reply.data = QByteArray(1, char(byteAt(data, 1)));
        break;
    case GetTime:
        return getTime();
    case SetTime:
        return setTime(data);
    case Print:
        return print(address, data);
    default:
        break; // initialise, and commands it does not know: a bare success
    }
    return reply;
}

ClubRouter::Reply ClubRouter::ringAnswer(const QByteArray &request, bool newRandom)
{
    Reply reply;
    if (!hasRing) {
        reply.status = kNoRing;
        return reply;
    }
    if (newRandom) {
        ringRand = nextRandom >= 0 ? quint8(nextRandom) : quint8(ringRand + 1);
        nextRandom = -1;
    }
    // Two leading bytes (the router echoes the request's two), then the ring
    // block: the number and the random number.
    reply.data.append(char(byteAt(request, 0)));
    reply.data.append(char(byteAt(request, 1)));
    reply.data.append(ringNumber.left(kRingNumberBytes));
    reply.data.append(char(ringRand));
    return reply;
}

ClubRouter::Reply ClubRouter::getTime()
{
    Reply reply;
    const qint64 shown = clockLocked() + (oneHourFlag ? kOneHourMs : 0);
    reply.data = timeText(shown);
    reply.data.append(char(oneHourFlag ? kOneHourFlag : 0));
    reply.data.append(char(timeStatus));
    return reply;
}

ClubRouter::Reply ClubRouter::setTime(const QByteArray &data)
{
    Reply reply;
    const QDate date(2000 + byteAt(data, 0), byteAt(data, 1), byteAt(data, 2));
    const QTime time(byteAt(data, 3), byteAt(data, 4), byteAt(data, 5));
    if (data.size() < kSetTimeBytes || !date.isValid() || !time.isValid()) {
        reply.status = kBadTime;
        return reply;
    }
    clockBaseMs = QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch();
    clockSetAt = std::chrono::steady_clock::now();
    return reply;
}

ClubRouter::Reply ClubRouter::print(quint8 address, const QByteArray &data)
{
    Reply reply;
    if (address == kPrinter)
        reply.status = refusalAt54;
    else if (address == kSecondPrinter)
        reply.status = refusalAt22;
    else
        reply.status = kNoSuchPrinter;
    if (reply.status == 0)
        printRecords.append(Printed{address, data});
    return reply;
}
