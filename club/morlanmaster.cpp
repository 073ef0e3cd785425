#include "club/morlanmaster.h"

#include "core/utc.h"
#include "core/vexexception.h"
#include "device/commport.h"

namespace {

constexpr quint8 kRequestStart = 0x6C;

constexpr quint8 kAuthorize = 0x5F;
constexpr quint8 kInit = 0xA0;
constexpr quint8 kReadTransponder = 0xB7;
constexpr quint8 kWriteTransponder = 0xB8;
constexpr quint8 kSetRandom = 0xBA;
constexpr quint8 kReadParam = 0xBD;
constexpr quint8 kSetDigout = 0xAF;
constexpr quint8 kGetTime = 0x52;
constexpr quint8 kSetTime = 0xC2;
constexpr quint8 kPrintData = 0x50;

// One request frame carries at most this many data bytes (its length byte).
constexpr int kMaxPrintBytes = 255;

// The get-time text: hhmmss, one separator, DDMMYY; then flags and status.
constexpr int kTimeTextBytes = 13;
constexpr int kTimeFlagsIndex = 13;
constexpr int kTimeStatusIndex = 14;
constexpr quint8 kOneHourFlag = 0x02;
constexpr qint64 kOneHourMs = 3600000;

const char kWrongEcho[] = "error morlan cmd!";
const char kWrongAuthorizeEcho[] = "error morlan cmd received!";

[[noreturn]] void badAnswer()
{
    throw VexException(0x500, QStringLiteral("Morlan response exception!"), QString());
}

QByteArray twoBytes(quint8 first, quint8 second)
{
    QByteArray bytes;
    bytes.append(char(first));
    bytes.append(char(second));
    return bytes;
}

QString upperHex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

// The decimal pair at text[at], at[at + 1]; -1 when either is not a digit.
int digitPair(const QByteArray &text, int at)
{
    const char high = text.at(at);
    const char low = text.at(at + 1);
    if (high < '0' || high > '9' || low < '0' || low > '9')
        return -1;
    return (high - '0') * 10 + (low - '0');
}

// The router's time text as UTC ms. A text that is short, not decimal or no
// valid date and time would give the screens a meaningless club time to
// store, so it fails the exchange instead.
qint64 decodeTimeText(const QByteArray &data)
{
    if (data.size() < kTimeTextBytes)
        badAnswer();
    const int hour = digitPair(data, 0);
    const int minute = digitPair(data, 2);
    const int second = digitPair(data, 4);
    const int day = digitPair(data, 7);
    const int month = digitPair(data, 9);
    const int year = digitPair(data, 11);
    if (hour < 0 || minute < 0 || second < 0 || day < 0 || month < 0 || year < 0)
        badAnswer();
    const qint64 ms = UTC(2000 + year, month, day, hour, minute, second, 0).value();
    // 2000-01-01 00:00:00 is the earliest text and is not 0, so 0 only means
    // fields that form no date or time.
    if (ms == 0)
        badAnswer();
    return ms;
}

} // namespace

MorlanMasterHandler::MorlanMasterHandler(CommPort *commPort)
    : port(commPort)
{
    request.start = kRequestStart;
}

void MorlanMasterHandler::setTimeoutDivisor(int divisor)
{
    timeoutDivisor = qMax(1, divisor);
}

void MorlanMasterHandler::sendRequest(quint8 address, quint8 command, const QByteArray &data)
{
    request.start = kRequestStart;
    request.address = address;
    request.command = command;
    request.data = data;
    request.length = quint8(data.size());
    MorlanRequestParser(port).sendPacket(request);
}

int MorlanMasterHandler::fetchResponse(int timeoutMs, const char *wrongEchoMessage)
{
    response = MorlanResponsePacket();
    MorlanResponseParser(port).fetchPacket(&response, qMax(1, timeoutMs / timeoutDivisor));
    // The router may answer from another address; only the command must match.
    if (response.command != request.command)
        throw VexException(0x501, QString::fromLatin1(wrongEchoMessage), QString());
    return response.status;
}

int MorlanMasterHandler::fetchResponse(int timeoutMs)
{
    return fetchResponse(timeoutMs, kWrongEcho);
}

quint8 MorlanMasterHandler::dataByte(int index) const
{
    return index < response.data.size() ? quint8(response.data.at(index)) : quint8(0);
}

void MorlanMasterHandler::sendAuthorizeReq(quint8 address)
{
    sendRequest(address, kAuthorize, twoBytes(0, 0));
}

int MorlanMasterHandler::getAuthorizeResp(quint8 *code, QByteArray *key)
{
    const int status = fetchResponse(kLongAnswerMs, kWrongAuthorizeEcho);
    if (status == 0) {
        if (code)
            *code = dataByte(0);
        if (key)
            *key = response.data.mid(1);
    }
    return status;
}

void MorlanMasterHandler::sendInitReq(quint8 address)
{
    sendRequest(address, kInit, twoBytes(0, 0));
}

int MorlanMasterHandler::getInitResp()
{
    return fetchResponse(kLongAnswerMs);
}

void MorlanMasterHandler::sendReadTransponderReq(quint8 p1, quint8 p2, quint8 address)
{
    sendRequest(address, kReadTransponder, twoBytes(p1, p2));
}

int MorlanMasterHandler::getReadTransponderResp(QByteArray *block, quint8 *b0, quint8 *b1)
{
    const int status = fetchResponse(kLongAnswerMs);
    if (status == 0) {
        if (b0)
            *b0 = dataByte(0);
        if (b1)
            *b1 = dataByte(1);
        if (block)
            *block = response.data.mid(2);
    }
    return status;
}

void MorlanMasterHandler::sendWriteTransponderReq(const QByteArray &block, quint8 p1, quint8 p2, quint8 address)
{
    sendRequest(address, kWriteTransponder, twoBytes(p1, p2) + block);
}

int MorlanMasterHandler::getWriteTransponderResp()
{
    return fetchResponse(kLongAnswerMs);
}

void MorlanMasterHandler::sendSetRandomReq(quint8 address)
{
    sendRequest(address, kSetRandom, twoBytes(0, 0));
}

int MorlanMasterHandler::getSetRandomResp(quint8 *b1, QByteArray *block)
{
    const int status = fetchResponse(kLongAnswerMs);
    if (status == 0) {
        if (b1)
            *b1 = dataByte(1);
        if (block)
            *block = response.data.mid(2);
    }
    return status;
}

void MorlanMasterHandler::sendReadParamReq(quint8 p1, quint8 p2, quint8 address)
{
    sendRequest(address, kReadParam, twoBytes(p1, p2));
}

int MorlanMasterHandler::getReadParamResp(QByteArray *params)
{
    const int status = fetchResponse(kShortAnswerMs);
    if (status == 0 && params)
        *params = response.data;
    return status;
}

void MorlanMasterHandler::sendSetDigoutReq(quint8 value, quint8 address)
{
    sendRequest(address, kSetDigout, twoBytes(0, value));
}

int MorlanMasterHandler::getSetDigoutResp(quint8 *b0)
{
    const int status = fetchResponse(kLongAnswerMs);
    if (status == 0 && b0)
        *b0 = dataByte(0);
    return status;
}

void MorlanMasterHandler::sendGetTimeReq(quint8 address)
{
    sendRequest(address, kGetTime, twoBytes(0, 0));
}

int MorlanMasterHandler::getTimeResp(qint64 *utcMs, quint8 *timeStatus)
{
    const int status = fetchResponse(kShortAnswerMs);
    if (status != 0)
        return status;
    if (utcMs) {
        qint64 ms = decodeTimeText(response.data);
        if (dataByte(kTimeFlagsIndex) & kOneHourFlag)
            ms -= kOneHourMs;
        *utcMs = ms;
    }
    if (timeStatus)
        *timeStatus = dataByte(kTimeStatusIndex);
    return status;
}

void MorlanMasterHandler::sendSetTimeReq(qint64 utcMs)
{
    const UTC time(utcMs);
    QByteArray data;
    // year + 48 is year - 2000 in 8 bits for the years 2000 to 2255.
    data.append(char(quint8(time.utcYear() + 48)));
    data.append(char(quint8(time.utcMonth())));
    data.append(char(quint8(time.utcDay())));
    data.append(char(quint8(time.utcHour())));
    data.append(char(quint8(time.utcMinute())));
    data.append(char(quint8(time.utcSecond())));
    data.append(twoBytes(0, 0));
    sendRequest(kClockAddress, kSetTime, data);
}

int MorlanMasterHandler::getSetTimeResp()
{
    return fetchResponse(kShortAnswerMs);
}

void MorlanMasterHandler::sendPrintDataReq(const QByteArray &text, quint8 address)
{
    sendRequest(address, kPrintData, text);
}

int MorlanMasterHandler::getPrintDataResp()
{
    return fetchResponse(kLongAnswerMs);
}

int MorlanMasterHandler::readTransponder(QString *eRing, quint8 *rand, QString *uid)
{
    QByteArray block;
    sendReadTransponderReq(0x00, 0x05, kRouterAddress);
    const int status = getReadTransponderResp(&block, nullptr, nullptr);
    if (status == 0) {
        *eRing = upperHex(block.left(4));
        if (rand)
            *rand = block.size() > 4 ? quint8(block.at(4)) : quint8(0);
        if (uid)
            uid->clear();
    }
    return status;
}

int MorlanMasterHandler::readTransponder(QByteArray *block, quint8 *b0, quint8 *b1, quint8 p1, quint8 p2)
{
    sendReadTransponderReq(p1, p2, kRouterAddress);
    return getReadTransponderResp(block, b0, b1);
}

int MorlanMasterHandler::setRandom(QByteArray *block)
{
    sendSetRandomReq(kRouterAddress);
    return getSetRandomResp(nullptr, block);
}

int MorlanMasterHandler::print(const QString &text, quint8 address)
{
    // toLatin1 turns every character outside ISO 8859-1 into '?'.
    const QByteArray bytes = text.toLatin1();
    int at = 0;
    do {
        // A report line can exceed one frame; the printer gets the same bytes
        // in pieces, and a refusal part-way stops the rest.
        sendPrintDataReq(bytes.mid(at, kMaxPrintBytes), address);
        const int status = getPrintDataResp();
        if (status != 0)
            return status;
        at += kMaxPrintBytes;
    } while (at < bytes.size());
    return 0;
}

int MorlanMasterHandler::readTime(qint64 *utcMs)
{
    return readTimeEx(utcMs, nullptr);
}

int MorlanMasterHandler::readTimeEx(qint64 *utcMs, quint8 *timeStatus)
{
    sendGetTimeReq(kClockAddress);
    return getTimeResp(utcMs, timeStatus);
}

int MorlanMasterHandler::setTime(qint64 utcMs)
{
    sendSetTimeReq(utcMs);
    return getSetTimeResp();
}

int MorlanMasterHandler::writeTransponder(const QByteArray &block, quint8 p1, quint8 p2)
{
    sendWriteTransponderReq(block, p1, p2, kRouterAddress);
    return getWriteTransponderResp();
}

int MorlanMasterHandler::setDigout(quint8 value)
{
    sendSetDigoutReq(value, kRouterAddress);
    return getSetDigoutResp(nullptr);
}

QString MorlanMasterHandler::testTime()
{
    sendGetTimeReq(kClockAddress);
    const int status = getTimeResp(nullptr, nullptr);
    if (status != 0)
        return QStringLiteral("STATUS:%1").arg(status);
    return QStringLiteral("PARAMS:") + upperHex(response.data);
}
