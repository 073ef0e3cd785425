#include "clubportpeer.h"

#include "clubrouter.h"
#include "connectorreader.h"

#include <QFile>

#include <algorithm>
#include <chrono>

namespace {

constexpr int kPollMs = 5;
constexpr quint8 kWrongStart = 0x55;

} // namespace

ClubPortPeer::ClubPortPeer()
    : line(std::make_unique<PeerLine>())
    , reader(std::make_unique<ConnectorReader>())
    , clubRouter(std::make_unique<ClubRouter>())
{
}

ClubPortPeer::~ClubPortPeer()
{
    stop();
}

bool ClubPortPeer::start()
{
    if (!isValid() || worker.joinable())
        return isValid();
    stopping = false;
    worker = std::thread([this] { run(); });
    return true;
}

void ClubPortPeer::stop()
{
    stopping = true;
    if (worker.joinable())
        worker.join();
}

bool ClubPortPeer::isValid() const { return line && line->isValid(); }
QString ClubPortPeer::slavePath() const { return line ? line->slavePath() : QString(); }

bool ClubPortPeer::linkAt(const QString &linkPath)
{
    linkedAt = linkPath;
    return line && line->linkAt(linkPath);
}

void ClubPortPeer::hangUp()
{
    stop();
    if (!linkedAt.isEmpty())
        QFile::remove(linkedAt);
    // Closing the master is the hang-up the clock's end sees.
    line.reset();
    requestReader.reset();
    reader->resetInput();
}

bool ClubPortPeer::comeBack()
{
    if (line)
        return line->isValid();
    line = std::make_unique<PeerLine>();
    if (!line->isValid() || (!linkedAt.isEmpty() && !line->linkAt(linkedAt)))
        return false;
    lastRole = Role::Auto;
    return start();
}

ConnectorReader &ClubPortPeer::connector() { return *reader; }
ClubRouter &ClubPortPeer::router() { return *clubRouter; }

int ClubPortPeer::answersSent() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return sentAnswers;
}
bool ClubPortPeer::clockEndOpen() const { return line && line->clockEndOpen(); }
PeerLine::Settings ClubPortPeer::lineSettings() const { return line ? line->settings() : PeerLine::Settings(); }

void ClubPortPeer::setRole(Role role)
{
    std::lock_guard<std::mutex> lock(mutex);
    pinnedRole = role;
}

void ClubPortPeer::setPacing(bool on)
{
    std::lock_guard<std::mutex> lock(mutex);
    pacing = on;
}

void ClubPortPeer::setAnswer(quint8 command, quint8 status, const QByteArray &data)
{
    std::lock_guard<std::mutex> lock(mutex);
    answers.insert(command, qMakePair(status, data));
}

void ClubPortPeer::clearAnswer(quint8 command)
{
    std::lock_guard<std::mutex> lock(mutex);
    answers.remove(command);
}

void ClubPortPeer::setCommandFault(quint8 command, const Fault &fault, int fromNth)
{
    std::lock_guard<std::mutex> lock(mutex);
    commandFaultSkips.remove(command);
    if (fault.kind == Fault::None) {
        commandFaults.remove(command);
        return;
    }
    commandFaults.insert(command, fault);
    if (fromNth > 1)
        commandFaultSkips.insert(command, fromNth - 1);
}

void ClubPortPeer::setNextFaults(int count, const Fault &fault)
{
    std::lock_guard<std::mutex> lock(mutex);
    nextFault = fault;
    nextFaultCount = count;
}

void ClubPortPeer::clearFaults()
{
    std::lock_guard<std::mutex> lock(mutex);
    commandFaults.clear();
    commandFaultSkips.clear();
    nextFaultCount = 0;
}

QList<ClubPortPeer::Frame> ClubPortPeer::frames() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return received;
}

QList<ClubPortPeer::Frame> ClubPortPeer::framesOf(quint8 command) const
{
    QList<Frame> out;
    for (const Frame &frame : frames()) {
        if (frame.command == command)
            out.append(frame);
    }
    return out;
}

void ClubPortPeer::clearFrames()
{
    std::lock_guard<std::mutex> lock(mutex);
    received.clear();
}

QList<ClubPortPeer::LineEvent> ClubPortPeer::lineEvents() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return events;
}

int ClubPortPeer::openCount() const
{
    int n = 0;
    for (const LineEvent &event : lineEvents())
        n += event.opened ? 1 : 0;
    return n;
}

int ClubPortPeer::closeCount() const
{
    int n = 0;
    for (const LineEvent &event : lineEvents())
        n += event.opened ? 0 : 1;
    return n;
}

void ClubPortPeer::run()
{
    while (!stopping) {
        const PeerLine::Input input = line->waitInput(kPollMs);
        noteLineEvents();
        if (input != PeerLine::Input::Data)
            continue;
        const QByteArray bytes = line->readInput();
        bytesIn += bytes.size();
        handleBytes(bytes);
    }
}

void ClubPortPeer::noteLineEvents()
{
    const QList<int> seen = line->takeOpenCloseEvents();
    if (seen.isEmpty())
        return;
    const qint64 now = PeerLine::nowMs();
    std::lock_guard<std::mutex> lock(mutex);
    for (int event : seen)
        events.append(LineEvent{now, event > 0});
    // A new open is a fresh line: a half frame from before is gone.
    requestReader.reset();
    reader->resetInput();
}

ClubPortPeer::Role ClubPortPeer::roleFor(const PeerLine::Settings &settings) const
{
    std::lock_guard<std::mutex> lock(mutex);
    if (pinnedRole != Role::Auto)
        return pinnedRole;
    if (settings.baud == kConnectorBaud)
        return Role::Connector;
    if (settings.baud == kRouterBaud)
        return Role::Router;
    return Role::Auto;
}

void ClubPortPeer::handleBytes(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    const PeerLine::Settings settings = line->settings();
    const Role role = roleFor(settings);
    if (role != lastRole) {
        requestReader.reset();
        reader->resetInput();
        lastRole = role;
    }
    const int baud = role == Role::Connector ? kConnectorBaud : kRouterBaud;
    // A real device understands nothing sent at another speed or framing.
    const bool understood = role != Role::Auto && settings.fits(baud);
    for (char c : bytes) {
        const quint8 byte = quint8(c);
        PeerReply reply;
        if (role == Role::Connector) {
            if (understood && reader->feed(byte, &reply))
                send(reply, baud);
            continue;
        }
        if (role != Role::Router)
            continue;
        ClubFrames::Request request;
        if (!requestReader.feed(byte, &request))
            continue;
        {
            std::lock_guard<std::mutex> lock(mutex);
            received.append(Frame{PeerLine::nowMs(), settings, role, request.raw, request.address,
                                  request.command, request.data, request.sumOk});
        }
        if (understood && answerRouter(request, &reply))
            send(reply, baud);
    }
}

bool ClubPortPeer::answerRouter(const ClubFrames::Request &request, PeerReply *reply)
{
    if (!request.sumOk)
        return false; // a router ignores a garbled request
    Fault fault;
    bool fixed = false;
    QPair<quint8, QByteArray> fixedAnswer;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (nextFaultCount > 0) {
            fault = nextFault;
            --nextFaultCount;
        } else if (commandFaultSkips.value(request.command) > 0) {
            --commandFaultSkips[request.command];
        } else {
            fault = commandFaults.value(request.command);
        }
        fixed = answers.contains(request.command);
        fixedAnswer = answers.value(request.command);
    }
    switch (fault.kind) {
    case Fault::Silence:
        return false; // not taken: the router's state stays as it was
    case Fault::Raw:
        reply->bytes = fault.raw;
        return true;
    default:
        break;
    }
    ClubRouter::Reply answer{fixedAnswer.first, fixedAnswer.second};
    // A refusal is the router declining the request: nothing in it changes.
    if (!fixed && fault.kind != Fault::Refuse)
        answer = clubRouter->answer(request.address, request.command, request.data);
    quint8 command = request.command;
    switch (fault.kind) {
    case Fault::Refuse:
        answer.status = quint8(fault.value);
        break;
    case Fault::WrongEcho:
        command = quint8(command + 1);
        break;
    case Fault::Late:
        reply->delayMs = fault.value;
        break;
    default:
        break;
    }
    reply->bytes = ClubFrames::answer(request.address, command, answer.status, answer.data);
    if (fault.kind == Fault::BadSum)
        reply->bytes.back() = char(quint8(reply->bytes.back()) + 1);
    if (fault.kind == Fault::WrongStart)
        reply->bytes[0] = char(kWrongStart);
    if (fault.kind == Fault::CutOff)
        reply->bytes.truncate(fault.value);
    return true;
}

void ClubPortPeer::send(const PeerReply &reply, int baud)
{
    bool paced = true;
    {
        std::lock_guard<std::mutex> lock(mutex);
        paced = pacing;
    }
    // A late answer: sleep in short steps so that stop() stays prompt.
    const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(reply.delayMs);
    while (!stopping && std::chrono::steady_clock::now() < due)
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            due - std::chrono::steady_clock::now(), std::chrono::milliseconds(kPollMs)));
    bytesOut += line->write(reply.bytes, paced ? baud : 0, reply.gapMs, &stopping);
    std::lock_guard<std::mutex> lock(mutex);
    ++sentAnswers;
}
