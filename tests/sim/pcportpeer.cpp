#include "pcportpeer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <functional>

namespace {
constexpr int kPollMs = 10;
constexpr int kBitsPerByte = 10; // start, 8 data, stop
// A paced line silent for longer than this is idle, not late.
constexpr int kIdleMs = 100;
const char kLineEnd[] = "\r\n";

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
} // namespace

PcPortPeer::PcPortPeer()
    : line(std::make_unique<PeerLine>())
{
}

PcPortPeer::~PcPortPeer()
{
    stop();
    if (!linkedAt.isEmpty())
        QFile::remove(linkedAt);
}

bool PcPortPeer::start()
{
    if (!isValid() || worker.joinable())
        return false;
    stopping = false;
    worker = std::thread([this] { run(); });
    return true;
}

void PcPortPeer::stop()
{
    stopping = true;
    if (worker.joinable())
        worker.join();
}

bool PcPortPeer::isValid() const
{
    return line && line->isValid();
}

QString PcPortPeer::slavePath() const
{
    return line ? line->slavePath() : QString();
}

bool PcPortPeer::linkAt(const QString &linkPath)
{
    QDir().mkpath(QFileInfo(linkPath).absolutePath());
    linkedAt = linkPath;
    return line && line->linkAt(linkPath);
}

void PcPortPeer::setReading(bool on) { reading = on; }
void PcPortPeer::setPaced(bool on, int slotMs)
{
    paceSlotMs = std::max(kPollMs, slotMs);
    paced = on;
}

void PcPortPeer::hangUpAfter(qint64 count)
{
    std::lock_guard<std::mutex> lock(mutex);
    hangUpAt = count;
}

bool PcPortPeer::hungUp() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return lineHungUp;
}

QByteArray PcPortPeer::received() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return bytes;
}

qint64 PcPortPeer::receivedCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return bytes.size();
}

QList<QByteArray> PcPortPeer::lines() const
{
    const QByteArray all = received();
    QList<QByteArray> out;
    int from = 0;
    for (int end = all.indexOf(kLineEnd); end >= 0; end = all.indexOf(kLineEnd, from)) {
        out.append(all.mid(from, end - from));
        from = end + 2;
    }
    return out;
}

QByteArray PcPortPeer::unfinished() const
{
    const QByteArray all = received();
    const int last = all.lastIndexOf(kLineEnd);
    return last < 0 ? all : all.mid(last + 2);
}

void PcPortPeer::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    bytes.clear();
}

int PcPortPeer::openCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return opens;
}

int PcPortPeer::closeCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return closes;
}

bool PcPortPeer::clockEndOpen() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return !lineHungUp && line && line->clockEndOpen();
}

PeerLine::Settings PcPortPeer::lastSettings() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return settings;
}

bool PcPortPeer::waitFor(const std::function<bool()> &done, int timeoutMs) const
{
    const qint64 deadline = PeerLine::nowMs() + timeoutMs;
    while (!done()) {
        if (PeerLine::nowMs() >= deadline)
            return false;
        sleepMs(kPollMs);
    }
    return true;
}

bool PcPortPeer::waitForCloses(int count, int timeoutMs) const
{
    return waitFor([&] { return closeCount() >= count; }, timeoutMs);
}

bool PcPortPeer::waitForBytes(qint64 count, int timeoutMs) const
{
    return waitFor([&] { return receivedCount() >= count; }, timeoutMs);
}

QString PcPortPeer::printable(const QByteArray &text)
{
    QString out;
    for (const QChar c : QString::fromUtf8(text)) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

void PcPortPeer::noteEvents()
{
    if (!line)
        return;
    const QList<int> events = line->takeOpenCloseEvents();
    std::lock_guard<std::mutex> lock(mutex);
    for (int event : events) {
        if (event > 0)
            ++opens;
        else
            ++closes;
    }
}

void PcPortPeer::take(const QByteArray &chunk)
{
    bool hang = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        qint64 keep = chunk.size();
        if (hangUpAt >= 0 && bytes.size() + keep >= hangUpAt) {
            keep = hangUpAt - bytes.size();
            hang = true;
        }
        bytes.append(chunk.left(int(keep)));
    }
    if (hang)
        doHangUp();
}

void PcPortPeer::sampleSettings()
{
    // Only while the clock's end is open: on closing, the clock's port puts
    // back the settings it found.
    if (!line->clockEndOpen())
        return;
    const PeerLine::Settings now = line->settings();
    if (now.baud == 0 || !line->clockEndOpen())
        return;
    std::lock_guard<std::mutex> lock(mutex);
    settings = now;
}

void PcPortPeer::doHangUp()
{
    // The far end's master closes: the clock's end reports a hang-up and
    // every write fails; the node goes too, so a new open fails.
    noteEvents();
    if (!linkedAt.isEmpty())
        QFile::remove(linkedAt);
    std::lock_guard<std::mutex> lock(mutex);
    lineHungUp = true;
    line.reset();
}

void PcPortPeer::run()
{
    // Paced: the line is busy until this time with the bytes taken so far
    // (a byte per 10 bit times); an idle line earns no credit.
    double lineBusyUntilMs = 0;
    while (!stopping) {
        const int slotBytes = std::max(1, paceSlotMs * kLineBaud / kBitsPerByte / 1000);
        if (!line) {
            sleepMs(kPollMs);
            continue;
        }
        sampleSettings();
        if (!reading) {
            noteEvents();
            sleepMs(kPollMs);
            continue;
        }
        if (paced) {
            const double waitMs = lineBusyUntilMs - double(PeerLine::nowMs());
            if (waitMs > 0) {
                sleepMs(std::max(1, std::min(kPollMs, int(waitMs))));
                continue;
            }
        }
        const PeerLine::Input input = line->waitInput(kPollMs);
        if (input != PeerLine::Input::Data) {
            noteEvents();
            continue;
        }
        const QByteArray chunk = line->readInput(paced ? slotBytes : -1);
        if (paced) {
            // Late by a sleep's overshoot: catch up; idle longer: start afresh.
            const double nowMs = double(PeerLine::nowMs());
            const double startMs = nowMs - lineBusyUntilMs > kIdleMs ? nowMs : lineBusyUntilMs;
            lineBusyUntilMs = startMs + chunk.size() * kBitsPerByte * 1000.0 / kLineBaud;
        }
        if (!chunk.isEmpty())
            take(chunk);
        // A close is counted once the bytes written before it are taken.
        if (!paced || chunk.size() < slotBytes)
            noteEvents();
    }
}
