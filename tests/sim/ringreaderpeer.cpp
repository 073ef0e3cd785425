#include "ringreaderpeer.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutexLocker>

#include <algorithm>

namespace {
constexpr int kPollMs = 10;      // the peer's read poll and its sleep slice
constexpr int kStopWaitMs = 5000;
constexpr quint8 kCmdQuery = 0;
constexpr quint8 kCmdInit = 2;
constexpr quint8 kCmdGetTime = 8;
constexpr quint8 kCmdSetTime = 9;
constexpr quint8 kCmdReboot = 10;
constexpr quint8 kStatusBadRequest = 0x0E;
const QByteArray kInitKey("KORVAND0");

QByteArray le64(qint64 v)
{
    QByteArray out;
    for (int i = 0; i < 8; ++i)
        out.append(char(quint64(v) >> (8 * i)));
    return out;
}

qint64 fromLe64(const QByteArray &in)
{
    quint64 v = 0;
    for (int i = 0; i < 8; ++i)
        v |= quint64(quint8(in.at(i))) << (8 * i);
    return qint64(v);
}
} // namespace

RingReaderPeer::RingReaderPeer()
    : devNo(QByteArray::fromHex("0a1b2c3d"))
    , devType(0x0102)
    , initParams(16, '\0')
{
}

RingReaderPeer::~RingReaderPeer()
{
    stop();
}

bool RingReaderPeer::isOpen() const { return pty.isOpen(); }
QString RingReaderPeer::slavePath() const { return pty.slavePath(); }

bool RingReaderPeer::linkUnder(const QString &root, const QString &devicePath) const
{
    return pty.linkUnder(root, devicePath);
}

void RingReaderPeer::stop()
{
    requestInterruption();
    wait(kStopWaitMs);
}

void RingReaderPeer::setDevNo(const QByteArray &fourBytes) { QMutexLocker l(&mutex); devNo = fourBytes; }
void RingReaderPeer::setDevType(quint16 type) { QMutexLocker l(&mutex); devType = type; }
void RingReaderPeer::setInitParams(const QByteArray &sixteenBytes) { QMutexLocker l(&mutex); initParams = sixteenBytes; }
void RingReaderPeer::setClock(qint64 ms) { QMutexLocker l(&mutex); clockMs = ms; }
qint64 RingReaderPeer::clock() const { QMutexLocker l(&mutex); return clockMs; }
void RingReaderPeer::setStatus(quint8 command, quint16 status) { QMutexLocker l(&mutex); statusByCommand[command] = status; }
void RingReaderPeer::setFault(const RingFault &fault) { QMutexLocker l(&mutex); standing = fault; }
void RingReaderPeer::pushFault(const RingFault &fault) { QMutexLocker l(&mutex); once.append(fault); }

bool RingReaderPeer::inject(const QByteArray &bytes)
{
    return pty.write(bytes);
}

QList<RingWire::Frame> RingReaderPeer::frames() const
{
    QMutexLocker l(&mutex);
    return recorded;
}

QByteArray RingReaderPeer::rawInput() const
{
    QMutexLocker l(&mutex);
    return input;
}

bool RingReaderPeer::waitForFrames(int count, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker l(&mutex);
    while (recorded.size() < count) {
        if (!changed.wait(&mutex, deadline))
            return recorded.size() >= count;
    }
    return true;
}

int RingReaderPeer::answersSent() const
{
    QMutexLocker l(&mutex);
    return answered;
}

bool RingReaderPeer::waitForAnswers(int count, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker l(&mutex);
    while (answered < count) {
        if (!changed.wait(&mutex, deadline))
            return answered >= count;
    }
    return true;
}

void RingReaderPeer::clearRecords()
{
    QMutexLocker l(&mutex);
    recorded.clear();
    input.clear();
    answered = 0;
}

void RingReaderPeer::run()
{
    while (!isInterruptionRequested() && pty.isOpen()) {
        if (!pty.waitReadable(kPollMs))
            continue;
        const QByteArray bytes = pty.readAvailable();
        if (bytes.isEmpty()) {
            // Readable yet nothing to read: the slave side is gone for now.
            msleep(kPollMs);
            continue;
        }
        {
            QMutexLocker l(&mutex);
            input += bytes;
        }
        for (char b : bytes) {
            if (!decoder.feed(b))
                continue;
            const RingWire::Frame f = decoder.takeFrame();
            {
                QMutexLocker l(&mutex);
                recorded.append(f);
                changed.wakeAll();
            }
            if (f.commandOk())
                respond(f);
        }
    }
}

bool RingReaderPeer::answer(const RingWire::Frame &command, quint16 *status, QByteArray *data)
{
    if (command.group != 0)
        return false;
    *status = statusByCommand.value(command.command, 0);
    switch (command.command) {
    case kCmdQuery:
        if (command.data.size() != 1)
            *status = kStatusBadRequest;
        else if (command.data.at(0) == 1)
            *data = devNo;
        else if (command.data.at(0) == 4)
            *data = QByteArray(1, char(devType & 0xFF)) + char(devType >> 8);
        else if (command.data.at(0) == 6)
            *data = initParams;
        else
            *status = kStatusBadRequest;
        return true;
    case kCmdInit:
        if (command.data.size() != 16 || !command.data.startsWith(kInitKey))
            *status = kStatusBadRequest;
        else
            initParams.replace(0, 8, command.data.mid(8));
        return true;
    case kCmdGetTime:
        *data = le64(clockMs);
        return true;
    case kCmdSetTime:
        if (command.data.size() == 8)
            clockMs = fromLe64(command.data);
        else
            *status = kStatusBadRequest;
        return true;
    case kCmdReboot:
        return true;
    default:
        return false;
    }
}

void RingReaderPeer::respond(const RingWire::Frame &command)
{
    RingFault fault;
    quint16 status = 0;
    QByteArray data;
    bool answering = false;
    {
        QMutexLocker l(&mutex);
        fault = once.isEmpty() ? standing : once.takeFirst();
        answering = answer(command, &status, &data);
    }
    if (!answering || fault.silent)
        return;
    if (fault.delayMs > 0 && !pause(fault.delayMs))
        return;

    const QByteArray framed = fault.replaceWith.isEmpty() ? buildAnswer(command, fault, status, data)
                                                          : fault.replaceWith;
    int cutAt = -1;
    if (fault.cut == RingFault::Cut::MidFrame) {
        cutAt = framed.size() / 2;
    } else if (fault.cut == RingFault::Cut::AfterEscape) {
        const int escape = framed.indexOf(RingWire::kEscape);
        cutAt = escape >= 0 ? escape + 1 : -1;
    }
    QByteArray wire = fault.garbageBefore + framed;
    if (cutAt >= 0)
        cutAt += int(fault.garbageBefore.size());
    else
        wire += fault.junkAfter;
    send(wire, fault, cutAt);
    QMutexLocker l(&mutex);
    ++answered;
    changed.wakeAll();
}

QByteArray RingReaderPeer::buildAnswer(const RingWire::Frame &command, const RingFault &fault, quint16 status,
                                       const QByteArray &data) const
{
    if (fault.status >= 0)
        status = quint16(fault.status);
    QByteArray carried = fault.dataBytes >= 0 ? data.left(fault.dataBytes) : data;
    QByteArray payload = RingWire::responsePayload(status, carried);
    if (fault.dataLengthField >= 0) {
        payload[2] = char(fault.dataLengthField & 0xFF);
        payload[3] = char(fault.dataLengthField >> 8);
    }
    if (fault.payloadBytes >= 0)
        payload.truncate(fault.payloadBytes);

    const quint8 type = fault.type >= 0 ? quint8(fault.type) : RingWire::kResponseType;
    const quint8 version = fault.version >= 0 ? quint8(fault.version) : 0x01;
    QByteArray body = RingWire::body(command.baseAddr, command.devAddr, type, payload, version);
    if (fault.lengthByte >= 0)
        body[7] = char(fault.lengthByte);
    if (fault.wrongCrc)
        body[body.size() - 1] = char(quint8(body.at(body.size() - 1)) ^ 0x5A);
    if (fault.bodyBytes >= 0) {
        if (fault.bodyBytes < body.size())
            body.truncate(fault.bodyBytes);
        else
            body.append(QByteArray(fault.bodyBytes - int(body.size()), '\x55'));
    }
    return RingWire::frame(body);
}

void RingReaderPeer::send(const QByteArray &bytes, const RingFault &fault, int cutAt)
{
    const int count = cutAt >= 0 ? cutAt : int(bytes.size());
    if (fault.byteGapMs <= 0 && fault.baud <= 0) {
        pty.write(bytes.left(count));
    } else {
        // Each byte leaves at its own moment on the line's schedule.
        const double byteMs = fault.baud > 0 ? 10000.0 / fault.baud : 0.0;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < count; ++i) {
            if (i > 0 && fault.byteGapMs > 0 && !pause(fault.byteGapMs))
                return;
            if (byteMs > 0) {
                const qint64 dueNs = qint64(i * byteMs * 1e6);
                const qint64 leftNs = dueNs - timer.nsecsElapsed();
                if (leftNs > 0)
                    usleep(quint64(leftNs / 1000));
            }
            pty.write(bytes.mid(i, 1));
        }
    }
    if (cutAt >= 0 && fault.hangUpAfterMs >= 0 && pause(fault.hangUpAfterMs))
        pty.hangUp();
}

bool RingReaderPeer::pause(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (isInterruptionRequested())
            return false;
        msleep(quint64(std::min<qint64>(kPollMs, std::max<qint64>(1, deadline.remainingTime()))));
    }
    return true;
}
