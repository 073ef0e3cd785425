#include "pcpeer.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>

#include <utility>

namespace {

constexpr quint8 kCmdJson = 0xC0;
constexpr quint8 kCmdAuth = 0xC1;
constexpr quint8 kCmdInit = 0xC2;
constexpr quint8 kCmdInfo = 0xC3;
constexpr quint8 kCmdTip = 0xC4;
constexpr quint8 kCmdFirmware = 0xC5;
constexpr quint8 kCmdModule = 0xC6;

constexpr int kTagBytes = 4;
constexpr int kRandomBytes = 4;
constexpr int kSystemIdBytes = 4;
// start, address, command, length (status and data), status
constexpr int kAnswerHeadBytes = 5;
const char kInitKey[] = "KVM4738";

QByteArray md5(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5);
}

} // namespace

PcLineTransport::PcLineTransport()
    : line(std::make_unique<PeerLine>())
{
}

PcLineTransport::~PcLineTransport() = default;

bool PcLineTransport::linkAt(const QString &linkPath)
{
    linkedAt = linkPath;
    return line && line->linkAt(linkPath);
}

void PcLineTransport::unplug()
{
    line.reset();
    // The node of an unplugged adapter is gone: nothing can open it.
    if (!linkedAt.isEmpty())
        QFile::remove(linkedAt);
}

bool PcLineTransport::plugIn()
{
    line = std::make_unique<PeerLine>();
    return line->isValid() && (linkedAt.isEmpty() || line->linkAt(linkedAt));
}

bool PcLineTransport::waitForClock(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (line && !line->clockEndOpen()) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return false;
        // Sleeps on the open and close events of the clock's end.
        line->waitInput(int(left));
        line->takeOpenCloseEvents();
    }
    return line != nullptr;
}

bool PcLineTransport::send(const QByteArray &bytes, int baud)
{
    return sendTimed(bytes, baud, 0, 0);
}

bool PcLineTransport::sendTimed(const QByteArray &bytes, int baud, int delayMs, int gapMs)
{
    if (!line)
        return false;
    if (delayMs > 0) {
        // Whatever the clock sends meanwhile stays for the answer.
        QElapsedTimer clock;
        clock.start();
        QByteArray early;
        for (qint64 left = delayMs; left > 0; left = delayMs - clock.elapsed()) {
            if (line->waitInput(int(left)) == PeerLine::Input::Data)
                early += line->readInput();
        }
        pending += early;
    }
    return line->write(bytes, baud, gapMs) == bytes.size();
}

QByteArray PcLineTransport::receive(int timeoutMs)
{
    if (!pending.isEmpty())
        return std::exchange(pending, QByteArray());
    if (!line)
        return QByteArray(); // no cable: nothing can come
    QElapsedTimer clock;
    clock.start();
    // A closed or reopened clock end ends a wait early: wait out the rest.
    for (qint64 left = timeoutMs; left > 0; left = timeoutMs - clock.elapsed()) {
        if (line->waitInput(int(left)) != PeerLine::Input::Data) {
            // Open and close events wake the wait; taken, they do not again.
            line->takeOpenCloseEvents();
            continue;
        }
        const QByteArray bytes = line->readInput();
        if (!bytes.isEmpty())
            return bytes;
    }
    return QByteArray();
}

void PcLineTransport::drain()
{
    pending.clear();
    if (!line)
        return;
    line->takeOpenCloseEvents();
    line->readInput();
}

PcPeer::PcPeer(PcTransport *pcTransport)
    : transport(pcTransport)
{
}

quint8 PcPeer::sum(const QByteArray &bytes)
{
    unsigned total = 0;
    for (const char c : bytes)
        total += quint8(c);
    return quint8(total);
}

QByteArray PcPeer::requestFrame(quint8 address, quint8 command, const QByteArray &data)
{
    QByteArray frame;
    frame.append(char(kRequestStart));
    frame.append(char(address));
    frame.append(char(command));
    frame.append(char(quint8(data.size())));
    frame.append(data);
    frame.append(char(sum(frame)));
    return frame;
}

PcPeer::Answer PcPeer::readAnswer()
{
    Answer answer;
    QByteArray bytes;
    QElapsedTimer clock;
    clock.start();
    while (true) {
        // Anything before the start byte is not part of an answer.
        const int start = bytes.indexOf(char(kResponseStart));
        if (start > 0) {
            answer.raw += bytes.left(start);
            bytes.remove(0, start);
        } else if (start < 0) {
            answer.raw += bytes;
            bytes.clear();
        }
        if (bytes.size() >= kAnswerHeadBytes - 1) {
            // The length byte counts the status and the data bytes.
            const int counted = quint8(bytes.at(3));
            const int frameBytes = 4 + counted + 1;
            if (bytes.size() >= frameBytes) {
                const QByteArray frame = bytes.left(frameBytes);
                answer.raw += frame;
                answer.received = true;
                answer.address = quint8(frame.at(1));
                answer.command = quint8(frame.at(2));
                answer.status = counted > 0 ? quint8(frame.at(4)) : 0;
                answer.data = counted > 1 ? frame.mid(kAnswerHeadBytes, counted - 1) : QByteArray();
                answer.sumOk = sum(frame.left(frameBytes - 1)) == quint8(frame.at(frameBytes - 1));
                return answer;
            }
        }
        const qint64 left = answerTimeoutMs - clock.elapsed();
        if (left <= 0)
            break;
        // The transport waits its time: nothing back means nothing came.
        const QByteArray more = transport->receive(int(left));
        if (more.isEmpty())
            break;
        bytes += more;
    }
    answer.raw += bytes;
    return answer;
}

PcPeer::Answer PcPeer::exchangeRaw(const QByteArray &bytes)
{
    // A late answer to an earlier request must not pass for this one.
    transport->drain();
    if (!transport->send(bytes, pacingBaud))
        return Answer();
    return readAnswer();
}

PcPeer::Answer PcPeer::exchange(quint8 command, const QByteArray &data, quint8 address)
{
    return exchangeRaw(requestFrame(address, command, data));
}

QByteArray PcPeer::sendExpectingSilence(const QByteArray &bytes)
{
    transport->drain();
    transport->send(bytes, pacingBaud);
    QByteArray heard;
    QElapsedTimer clock;
    clock.start();
    for (qint64 left = silenceMs; left > 0; left = silenceMs - clock.elapsed()) {
        const QByteArray more = transport->receive(int(left));
        if (more.isEmpty())
            break;
        heard += more;
    }
    return heard;
}

QByteArray PcPeer::spoil(const QByteArray &frame, Fault::Kind kind)
{
    QByteArray out = frame;
    switch (kind) {
    case Fault::Kind::None:
        break;
    case Fault::Kind::StopMidFrame:
        out.truncate(frame.size() / 2);
        break;
    case Fault::Kind::LengthClaimsMore:
        // Twenty more than sent, the check byte made to fit the header sent.
        out[3] = char(quint8(out.at(3)) + 20);
        out[out.size() - 1] = char(sum(out.left(out.size() - 1)));
        break;
    case Fault::Kind::LengthClaimsLess:
        out[3] = char(quint8(out.at(3)) / 2);
        out[out.size() - 1] = char(sum(out.left(out.size() - 1)));
        break;
    case Fault::Kind::Garbled:
        for (int i = 3; i < out.size(); i += 3)
            out[i] = char(~quint8(out.at(i)));
        break;
    case Fault::Kind::BadSum:
        out[out.size() - 1] = char(quint8(out.at(out.size() - 1)) + 1);
        break;
    case Fault::Kind::NoiseBefore:
        out.prepend(QByteArray::fromHex("00FF33554AA5FE0D0A2100"));
        break;
    }
    return out;
}

PcPeer::Answer PcPeer::exchangeFaulty(quint8 command, const QByteArray &data, const Fault &fault)
{
    transport->drain();
    const QByteArray bytes = spoil(requestFrame(kAddress, command, data), fault.kind);
    if (!transport->sendTimed(bytes, pacingBaud, fault.delayMs, fault.gapMs))
        return Answer();
    return readAnswer();
}

PcPeer::JsonReply PcPeer::callFaulty(const QByteArray &jsonText, const Fault &fault)
{
    return readJson(exchangeFaulty(kCmdJson, jsonText + jsonTag(jsonText), fault));
}

PcPeer::Answer PcPeer::authenticate(const QByteArray &challengeBytes)
{
    const Answer answer = exchange(kCmdAuth, challengeBytes);
    lastDigestMatched = false;
    if (!answer.received || answer.status != 0 || answer.data.size() < kRandomBytes + kTagBytes)
        return answer; // the clock kept its key; so does the PC
    challenge = challengeBytes.left(4);
    clockRandom = answer.data.left(kRandomBytes);
    const QByteArray digest = md5(challenge + clockRandom + QByteArray::fromHex(believedSystemId.toLatin1())
                                  + believedPassword.toLatin1());
    lastDigestMatched = digest.left(kTagBytes) == answer.data.mid(kRandomBytes, kTagBytes);
    key = digest.mid(4, 8);
    return answer;
}

PcPeer::Answer PcPeer::deviceInfo()
{
    const Answer answer = exchange(kCmdInfo, QByteArray());
    if (answer.received && answer.status == 0) {
        systemIdBytes = answer.data.left(kSystemIdBytes);
        loftNum = QString::fromUtf8(answer.data.mid(kSystemIdBytes));
    }
    return answer;
}

QByteArray PcPeer::initTag(const QByteArray &body) const
{
    return md5(body + challenge + clockRandom + systemIdBytes + QByteArray(kInitKey)).left(kTagBytes);
}

PcPeer::JsonReply PcPeer::initialise(const QByteArray &body)
{
    return readJson(exchange(kCmdInit, body + initTag(body)));
}

PcPeer::JsonReply PcPeer::initialise(const QString &loft, const QString &password)
{
    return initialise(loft.toUtf8() + ',' + password.toUtf8());
}

QByteArray PcPeer::showTip(const QByteArray &text)
{
    return sendExpectingSilence(requestFrame(kAddress, kCmdTip, text));
}

PcPeer::Answer PcPeer::firmware()
{
    return exchange(kCmdFirmware, QByteArray());
}

PcPeer::Answer PcPeer::moduleMode(const QByteArray &data)
{
    return exchange(kCmdModule, data);
}

QByteArray PcPeer::jsonTag(const QByteArray &text) const
{
    return md5(text + key).left(kTagBytes);
}

PcPeer::JsonReply PcPeer::call(const QByteArray &jsonText)
{
    return callTagged(jsonText, jsonTag(jsonText));
}

PcPeer::JsonReply PcPeer::callTagged(const QByteArray &jsonText, const QByteArray &tag)
{
    return readJson(exchange(kCmdJson, jsonText + tag));
}

PcPeer::JsonReply PcPeer::readJson(const Answer &answer) const
{
    JsonReply reply;
    reply.answer = answer;
    if (!answer.received || answer.status != 0 || answer.data.size() < kTagBytes)
        return reply;
    reply.text = answer.data.left(answer.data.size() - kTagBytes);
    reply.tagOk = jsonTag(reply.text) == answer.data.right(kTagBytes);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(reply.text, &error);
    reply.parsed = error.error == QJsonParseError::NoError && document.isObject();
    if (reply.parsed)
        reply.object = document.toVariant().toMap();
    return reply;
}

void PcPeer::forgetSession()
{
    challenge.clear();
    clockRandom.clear();
    key.clear();
    systemIdBytes.clear();
    loftNum.clear();
    lastDigestMatched = false;
}
