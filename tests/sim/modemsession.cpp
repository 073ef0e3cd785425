#include "modemsession.h"

#include <cerrno>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kMaxLineBytes = 4096;
constexpr int kMaxTextBytes = 64 * 1024;
constexpr int kSplitGapMs = 20;
constexpr int kMaxSocketId = 15;
constexpr int kSocketWriteWaitMs = 1000;
// The quiet time after "+++" that makes it the escape rather than data.
constexpr int kEscapeGuardMs = 20;
constexpr char kEscapeSequence[] = "+++";
constexpr char kCtrlZ = 0x1A;
constexpr uchar kGarbleMask = 0xA5;
constexpr char kEscape = 0x1B;

} // namespace

ModemSession::ModemSession(const ModemFamily &f)
    : family(f)
    , core(modemCoreCommands())
{
}

ModemSession::~ModemSession()
{
    for (const Socket &s : std::as_const(sockets)) {
        if (s.fd >= 0)
            ::close(s.fd);
    }
}

// --- pump ---------------------------------------------------------------

void ModemSession::input(const QByteArray &bytes, qint64 now)
{
    nowMs = now;
    if (!bytes.isEmpty())
        lastInputMs = now;
    QByteArray online;
    for (char c : bytes) {
        if (mode == Mode::Online) {
            online.append(c);
            continue;
        }
        if (mode == Mode::Data) {
            dataBuffer.append(c);
            if (dataBuffer.size() >= dataCount) {
                completeData(true);
                finishAnswer();
            }
            continue;
        }
        if (mode == Mode::Text) {
            if (c == kCtrlZ || c == kEscape) {
                completeData(c == kCtrlZ);
                finishAnswer();
            } else if (dataBuffer.size() < kMaxTextBytes) {
                dataBuffer.append(c);
            }
            continue;
        }
        if (state.echo)
            enqueue(QByteArray(1, c), nowMs);
        if (c == '\r') {
            const QByteArray line = lineBuffer;
            lineBuffer.clear();
            if (!line.trimmed().isEmpty())
                commandLine(line);
        } else if (c != '\n' && lineBuffer.size() < kMaxLineBytes) {
            lineBuffer.append(c);
        }
    }
    if (!online.isEmpty()) {
        const QByteArray data = onlineInput(online);
        if (!data.isEmpty())
            writeSocket(onlineSocket, data);
    }
}

// The bytes to pass on now; a trailing run of up to three '+' is held back
// until the line shows whether it was the escape.
QByteArray ModemSession::onlineInput(const QByteArray &bytes)
{
    QByteArray data;
    for (char c : bytes) {
        if (c == '+') {
            escapeHeld.append(c);
            if (escapeHeld.size() > qsizetype(sizeof kEscapeSequence - 1)) {
                data.append(escapeHeld.left(1));
                escapeHeld.remove(0, 1);
            }
        } else {
            data += escapeHeld;
            escapeHeld.clear();
            data.append(c);
        }
    }
    return data;
}

void ModemSession::goOnline(int socket)
{
    finishAnswer();
    mode = Mode::Online;
    onlineSocket = socket;
    escapeHeld.clear();
}

void ModemSession::pumpOnline()
{
    const auto it = sockets.find(onlineSocket);
    if (it != sockets.end() && !it->pending.isEmpty()) {
        enqueue(it->pending, nowMs);
        it->pending.clear();
    }
    if (!escapeHeld.isEmpty() && nowMs - lastInputMs >= kEscapeGuardMs) {
        const QByteArray held = escapeHeld;
        escapeHeld.clear();
        if (held == kEscapeSequence) {
            mode = Mode::Command;
            onlineSocket = -1;
            enqueue("\r\nOK\r\n", nowMs);
            return;
        }
        writeSocket(onlineSocket, held);
    }
    if (it == sockets.end() || it->remoteClosed) {
        if (it != sockets.end())
            it->closedAnnounced = true;
        mode = Mode::Command;
        onlineSocket = -1;
        escapeHeld.clear();
        enqueue("\r\nNO CARRIER\r\n", nowMs);
    }
}

QByteArray ModemSession::output(qint64 now, int maxBytes)
{
    QByteArray out;
    while (!queue.empty() && queue.front().atMs <= now && out.size() < maxBytes) {
        Out &front = queue.front();
        const int n = qMin(int(front.bytes.size()), maxBytes - int(out.size()));
        out += front.bytes.left(n);
        front.bytes.remove(0, n);
        if (front.bytes.isEmpty())
            queue.pop_front();
    }
    return out;
}

void ModemSession::unsend(const QByteArray &bytes)
{
    if (!bytes.isEmpty())
        queue.push_front(Out{nowMs, bytes});
}

bool ModemSession::outputDue(qint64 now) const
{
    return !queue.empty() && queue.front().atMs <= now;
}

qint64 ModemSession::nextOutputMs() const
{
    qint64 next = queue.empty() ? -1 : queue.front().atMs;
    for (const Out &u : later) {
        if (next < 0 || u.atMs < next)
            next = u.atMs;
    }
    return next;
}

QList<int> ModemSession::socketDescriptors() const
{
    QList<int> fds;
    for (const Socket &s : sockets) {
        if (s.fd >= 0)
            fds << s.fd;
    }
    return fds;
}

void ModemSession::resetLine()
{
    lineBuffer.clear();
    dataBuffer.clear();
    mode = Mode::Command;
    dataDone = nullptr;
    queue.clear();
    onlineSocket = -1;
    escapeHeld.clear();
}

void ModemSession::reboot()
{
    resetLine();
    later.clear();
    answer.clear();
    active.clear();
    for (const Socket &s : std::as_const(sockets)) {
        if (s.fd >= 0)
            ::close(s.fd);
    }
    sockets.clear();
    state.echo = true;
    state.smsMode = 0;
    state.apn.clear();
    state.apnUser.clear();
    state.apnPassword.clear();
    state.operatorCode.clear();
    state.contextActive = false;
    state.gpsOn = false;
}

void ModemSession::pumpSockets(qint64 now)
{
    nowMs = now;
    for (Socket &s : sockets) {
        while (s.fd >= 0) {
            char buffer[4096];
            const ssize_t n = ::recv(s.fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                s.pending.append(buffer, int(n));
            } else {
                if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                    ::close(s.fd);
                    s.fd = -1;
                    s.remoteClosed = true;
                }
                break;
            }
        }
    }
    for (int i = 0; i < later.size();) {
        if (!later.at(i).whenIdle && later.at(i).atMs <= nowMs)
            enqueue(later.takeAt(i).bytes, nowMs);
        else
            ++i;
    }
    if (mode == Mode::Online) {
        pumpOnline();
        return;
    }
    // An escape sent while no socket is online is not a command: drop it
    // rather than let it spoil the next command line.
    if (mode == Mode::Command && lineBuffer == kEscapeSequence && nowMs - lastInputMs >= kEscapeGuardMs)
        lineBuffer.clear();
    if (!idle())
        return;
    for (auto it = sockets.begin(); it != sockets.end(); ++it) {
        Socket &s = it.value();
        if (!s.pending.isEmpty() && !s.announced && family.announceData) {
            s.announced = true;
            family.announceData(*this, it.key(), int(s.pending.size()));
        } else if (s.remoteClosed && s.pending.isEmpty() && !s.closedAnnounced && family.announceClosed) {
            s.closedAnnounced = true;
            family.announceClosed(*this, it.key());
        }
    }
    for (int i = 0; i < later.size();) {
        if (later.at(i).atMs <= nowMs)
            enqueue(later.takeAt(i).bytes, nowMs);
        else
            ++i;
    }
}

bool ModemSession::idle() const
{
    return mode == Mode::Command && lineBuffer.isEmpty() && queue.empty();
}

// --- commands -----------------------------------------------------------

void ModemSession::commandLine(const QByteArray &raw)
{
    record.commands << raw;
    const QByteArray text = raw.trimmed();
    const QByteArray upper = text.toUpper();
    // The Ctrl-Z line that cancels a prompt, and noise, are not commands.
    if (!upper.startsWith("AT"))
        return;
    active.clear();
    for (ModemFaultRule &rule : faults) {
        if (rule.times != 0 && (rule.command.isEmpty() || upper.startsWith(rule.command.toUpper()))) {
            active << rule;
            if (rule.times > 0)
                --rule.times;
        }
    }
    answer.clear();
    int value = 0;
    if (fault(ModemFault::Silence))
        return;
    if (fault(ModemFault::Flood, &value)) {
        enqueue(QByteArray(value, 'Z'), nowMs);
        return;
    }
    if (fault(ModemFault::Error)) {
        error();
    } else if (fault(ModemFault::CmeError, &value)) {
        cmeError(value);
    } else if (fault(ModemFault::CmsError, &value)) {
        cmsError(value);
    } else if (const ModemCommand *command = find(upper)) {
        command->handle(*this, text.mid(command->name.size()));
    } else {
        error();
    }
    if (mode == Mode::Command)
        finishAnswer();
}

const ModemCommand *ModemSession::find(const QByteArray &upper) const
{
    const ModemCommand *best = nullptr;
    for (const ModemFamily *table : {&family, &core}) {
        for (const ModemCommand &c : table->commands) {
            if (upper.startsWith(c.name) && (!best || c.name.size() > best->name.size()))
                best = &c;
        }
    }
    return best;
}

void ModemSession::finishAnswer()
{
    if (answer.isEmpty())
        return;
    QByteArray out = answer;
    answer.clear();
    int value = 0;
    const qint64 at = nowMs;
    if (fault(ModemFault::Truncated, &value))
        out.truncate(qMax(0, value));
    if (fault(ModemFault::Garbled)) {
        // Every bit pattern but the line ends changes, so no word of the
        // answer survives while its lines still arrive.
        for (char &c : out) {
            if (c != '\r' && c != '\n')
                c = char(uchar(c) ^ kGarbleMask);
        }
    }
    if (fault(ModemFault::UnsolicitedFirst, &value)) {
        QByteArray lines;
        for (int i = 0; i < value; ++i)
            lines += "\r\n+CIEV: 2," + QByteArray::number(i % 6) + "\r\n";
        out.prepend(lines);
    }
    if (fault(ModemFault::Late, &value)) {
        // A late answer does not hold up the answers to later commands.
        later << Out{nowMs + value, out, false};
        return;
    }
    if (fault(ModemFault::Split, &value) && value > 1) {
        const int piece = int((out.size() + value - 1) / value);
        for (int i = 0; i * piece < out.size(); ++i)
            enqueue(out.mid(i * piece, piece), at + i * kSplitGapMs);
        return;
    }
    enqueue(out, at);
}

void ModemSession::enqueue(const QByteArray &bytes, qint64 atMs)
{
    // The line is one stream: nothing overtakes what was queued before it.
    if (!queue.empty() && atMs < queue.back().atMs)
        atMs = queue.back().atMs;
    if (!queue.empty() && queue.back().atMs == atMs)
        queue.back().bytes += bytes;
    else
        queue.push_back(Out{atMs, bytes});
}

// --- for the handlers ---------------------------------------------------

void ModemSession::send(const QByteArray &bytes) { answer += bytes; }
void ModemSession::line(const QByteArray &text) { answer += "\r\n" + text + "\r\n"; }
void ModemSession::ok() { line("OK"); }
void ModemSession::error() { line("ERROR"); }
void ModemSession::cmeError(int code) { line("+CME ERROR: " + QByteArray::number(code)); }
void ModemSession::cmsError(int code) { line("+CMS ERROR: " + QByteArray::number(code)); }

void ModemSession::announce(const QByteArray &text, int delayMs)
{
    later << Out{nowMs + delayMs, "\r\n" + text + "\r\n", true};
}

void ModemSession::prompt(const QByteArray &promptBytes, int count,
                          std::function<void(ModemSession &, const QByteArray &, bool)> done)
{
    if (fault(ModemFault::NoPrompt)) {
        answer.clear();
        return;
    }
    enqueue(answer + promptBytes, nowMs);
    answer.clear();
    dropAnswer = fault(ModemFault::SilenceMidSend);
    dataDone = std::move(done);
    dataBuffer.clear();
    dataCount = count;
    mode = count >= 0 ? Mode::Data : Mode::Text;
    if (count == 0)
        completeData(true); // the command's handler finishes the answer
}

void ModemSession::completeData(bool sent)
{
    mode = Mode::Command;
    auto done = std::move(dataDone);
    dataDone = nullptr;
    const QByteArray data = dataBuffer;
    dataBuffer.clear();
    if (!dropAnswer && done)
        done(*this, data, sent);
    dropAnswer = false;
}

void ModemSession::promptSocketData(
    const QByteArray &args, const QByteArray &promptBytes,
    std::function<void(ModemSession &, int socket, int count, const QByteArray &data)> done)
{
    const QList<QByteArray> f = fields(args);
    const int id = f.value(0).toInt();
    const int count = f.value(1).toInt();
    if (!socketExists(id) || count < 0) {
        error();
        return;
    }
    prompt(promptBytes, count, [id, count, done](ModemSession &m, const QByteArray &data, bool) {
        done(m, id, count, data);
    });
}

bool ModemSession::takeSocketRead(const QByteArray &args, int *socket, QByteArray *data, int *count)
{
    const QList<QByteArray> f = fields(args);
    const int id = f.value(0).toInt();
    if (!socketExists(id)) {
        error();
        return false;
    }
    *socket = id;
    *data = readSocket(id, f.value(1).toInt());
    *count = int(data->size());
    int extra = 0;
    if (fault(ModemFault::WrongByteCount, &extra))
        *count += extra;
    return true;
}

bool ModemSession::fault(ModemFault kind, int *value) const
{
    for (const ModemFaultRule &rule : active) {
        if (rule.kind == kind) {
            if (value)
                *value = rule.value;
            return true;
        }
    }
    return false;
}

QList<QByteArray> ModemSession::fields(const QByteArray &args)
{
    QList<QByteArray> out;
    for (const QByteArray &f : args.split(','))
        out << QByteArray(f).replace('"', QByteArray()).trimmed();
    return out;
}

// --- sockets ------------------------------------------------------------

int ModemSession::createSocket()
{
    for (int id = state.nextSocketId; id <= kMaxSocketId; ++id) {
        if (!sockets.contains(id)) {
            sockets.insert(id, Socket());
            return id;
        }
    }
    return -1;
}

int ModemSession::createSocket(int id)
{
    if (id < 0 || id > kMaxSocketId || sockets.contains(id))
        return -1;
    sockets.insert(id, Socket());
    return id;
}

bool ModemSession::socketExists(int id) const
{
    return sockets.contains(id);
}

bool ModemSession::connectSocket(int id, const QByteArray &host, int port)
{
    record.connects << qMakePair(host, port);
    if (!sockets.contains(id) || fault(ModemFault::RefuseConnect) || !state.connectSucceeds || state.endpointPort == 0)
        return false;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(state.endpointPort);
    ::inet_pton(AF_INET, state.endpointHost.toLatin1().constData(), &address.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    Socket &s = sockets[id];
    if (s.fd >= 0)
        ::close(s.fd);
    s = Socket();
    s.fd = fd;
    return true;
}

bool ModemSession::writeSocket(int id, const QByteArray &bytes)
{
    record.socketBytes[id] += bytes;
    const auto it = sockets.find(id);
    if (it == sockets.end() || it->fd < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(it->fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            pollfd pfd{it->fd, POLLOUT, 0};
            if (::poll(&pfd, 1, kSocketWriteWaitMs) > 0)
                continue;
        }
        return false;
    }
    return true;
}

QByteArray ModemSession::readSocket(int id, int maxBytes)
{
    const auto it = sockets.find(id);
    if (it == sockets.end())
        return QByteArray();
    const QByteArray data = it->pending.left(qMax(0, maxBytes));
    it->pending.remove(0, data.size());
    // What is left is announced again once the port is idle.
    it->announced = false;
    return data;
}

void ModemSession::closeSocket(int id)
{
    const auto it = sockets.find(id);
    if (it == sockets.end())
        return;
    if (it->fd >= 0)
        ::close(it->fd);
    sockets.erase(it);
}
