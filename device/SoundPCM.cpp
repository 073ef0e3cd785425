#include "device/SoundPCM.h"

#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"

#include <QFile>

#include <algorithm>
#include <cctype>
#include <cstring>

#include <alsa/asoundlib.h>

namespace {

constexpr int kVoiceErrorCode = 0x1201;
constexpr int kRiffHeaderBytes = 12;
constexpr unsigned int kFmtBytes = 16;
// Unknown chunks are skipped by reading them in pieces of this size, so a
// lying chunk size costs a bounded buffer and ends at the end of the file.
constexpr unsigned int kSkipPieceBytes = 4096;
// A device that takes no samples for this long is taken as stalled; the
// blocking write would otherwise hang the sound thread and the shutdown.
constexpr int kDeviceWaitMs = 2000;
// How often a drain in progress is looked at.
constexpr int kDrainPollMs = 10;
constexpr unsigned char kUnsignedSilence = 0x80;

unsigned int littleEndian(const unsigned char *bytes, int count)
{
    unsigned int value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

// WAVE stores 8-bit samples unsigned (silence 128); the device is given
// signed 8-bit samples, so flip the top bit of every byte read.
void toSigned8(char *bytes, qint64 count)
{
    for (qint64 i = 0; i < count; ++i)
        bytes[i] = static_cast<char>(static_cast<unsigned char>(bytes[i]) ^ kUnsignedSilence);
}

} // namespace

SoundPCM::~SoundPCM()
{
    close();
}

void SoundPCM::fail(const char *message)
{
    throw VexException(kVoiceErrorCode, QString::fromLatin1(message), QString());
}

void SoundPCM::readRIFF(QFile &file)
{
    // Only the length counts: the header's content is not examined.
    if (file.read(kRiffHeaderBytes).size() < kRiffHeaderBytes)
        fail("Wave file format(RIFF) error!");
}

void SoundPCM::fetchChunkHead(QFile &file, unsigned char *head)
{
    if (file.read(reinterpret_cast<char *>(head), kHeadBytes) != kHeadBytes)
        fail("Voice file size error!");
}

bool SoundPCM::testChunkName(const unsigned char *head, const char *name)
{
    // A prefix compare, blind to case: "fmt" matches the chunk "fmt ".
    const size_t length = std::strlen(name);
    for (size_t i = 0; i < length && i < 4; ++i) {
        if (std::tolower(head[i]) != std::tolower(static_cast<unsigned char>(name[i])))
            return false;
    }
    return true;
}

unsigned int SoundPCM::getChunkSize(const unsigned char *head)
{
    return littleEndian(head + 4, 4);
}

void SoundPCM::ignoreSize(QFile &file, unsigned int size)
{
    char piece[kSkipPieceBytes];
    while (size > 0) {
        const unsigned int want = std::min(size, kSkipPieceBytes);
        if (file.read(piece, want) != qint64(want))
            fail("Voice file size error!");
        size -= want;
    }
}

void SoundPCM::fetchFMT(QFile &file, _FMT_CHUNK *fmt, unsigned int size)
{
    if (size < kFmtBytes)
        fail("Voice file format error!");
    unsigned char bytes[kFmtBytes];
    if (file.read(reinterpret_cast<char *>(bytes), kFmtBytes) != qint64(kFmtBytes))
        fail("Voice file size error!");
    fmt->audioFormat = static_cast<unsigned short>(littleEndian(bytes, 2));
    fmt->channels = static_cast<unsigned short>(littleEndian(bytes + 2, 2));
    fmt->sampleRate = littleEndian(bytes + 4, 4);
    fmt->byteRate = littleEndian(bytes + 8, 4);
    fmt->blockAlign = static_cast<unsigned short>(littleEndian(bytes + 12, 2));
    fmt->bitsPerSample = static_cast<unsigned short>(littleEndian(bytes + 14, 2));
    ignoreSize(file, size - kFmtBytes);
}

void SoundPCM::open(const _FMT_CHUNK &fmt, unsigned int size)
{
    close();
    dataSize = size;
    consumed = 0;
    shortRead = false;

    if (snd_pcm_open(&handle, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0) {
        handle = nullptr;
        fail("Open PCM failed!");
    }
    snd_pcm_hw_params_t *raw = nullptr;
    snd_pcm_hw_params_alloca(&raw);
    if (snd_pcm_hw_params_any(handle, raw) < 0)
        fail("snd_pcm_hw_params_any failed!");
    if (snd_pcm_hw_params_set_access(handle, raw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0)
        fail("sed_pcm_hw_set_access failed!");
    snd_pcm_format_t format = SND_PCM_FORMAT_UNKNOWN;
    switch (fmt.bitsPerSample / 8) {
    case 1: format = SND_PCM_FORMAT_S8; break;
    case 2: format = SND_PCM_FORMAT_S16_LE; break;
    case 3: format = SND_PCM_FORMAT_S24_3LE; break;
    default: fail("snd_pcm_hw_params_set_format failed!");
    }
    snd_pcm_hw_params_set_format(handle, raw, format); // a refusal shows at snd_pcm_hw_params
    // Always two channels: the speaker is driven across them (see negateRight).
    if (snd_pcm_hw_params_set_channels(handle, raw, 2) < 0)
        fail("snd_pcm_hw_params_set_channels failed!");
    unsigned int rate = fmt.sampleRate;
    int direction = 0;
    if (snd_pcm_hw_params_set_rate_near(handle, raw, &rate, &direction) < 0)
        fail("snd_pcm_hw_params_set_rate_near failed!");
    if (snd_pcm_hw_params(handle, raw) < 0)
        fail("snd_pcm_hw_params failed!");
    configured = true;
    framesPerBlock = kFramesPerBlock;
}

int SoundPCM::playFrameOnce(QFile &file, unsigned short channels, unsigned short bitsPerSample)
{
    const unsigned int bytesPerSample = bitsPerSample / 8u;
    if (!handle || bytesPerSample == 0 || bytesPerSample > 3)
        return 0;
    block.fill(0, 2 * framesPerBlock * int(bytesPerSample));
    const int read = channels == 1 ? fillMono(file, bytesPerSample) : fillInterleaved(file, bytesPerSample);
    if (read == 0)
        return 0;
    negateRight(bytesPerSample);
    writeBlock();
    return (!shortRead && consumed < dataSize) ? 1 : 0;
}

// Sample i of the file goes into the left slot of frame i.
int SoundPCM::fillMono(QFile &file, unsigned int bytesPerSample)
{
    const unsigned int channelBytes = framesPerBlock * bytesPerSample;
    const unsigned int wanted = std::min(channelBytes, dataSize - consumed);
    consumed += wanted;
    if (wanted == 0)
        return 0;
    samples.resize(int(wanted));
    qint64 got = file.read(samples.data(), wanted);
    got = std::max<qint64>(got, 0);
    // A short read means the data chunk claims more than the file holds:
    // play what is there and end the file after this block.
    if (got < qint64(wanted))
        shortRead = true;
    if (bytesPerSample == 1)
        toSigned8(samples.data(), got);
    char *frames = block.data();
    const qint64 whole = got / bytesPerSample;
    for (qint64 i = 0; i < whole; ++i)
        std::memcpy(frames + i * 2 * bytesPerSample, samples.constData() + i * bytesPerSample, bytesPerSample);
    return int(got);
}

// Taken as interleaved stereo whatever the channel count: n bytes into each
// half of the block, so a full block is 2n consecutive bytes of the file and a
// short last block leaves zeros between its two parts.
int SoundPCM::fillInterleaved(QFile &file, unsigned int bytesPerSample)
{
    const unsigned int channelBytes = framesPerBlock * bytesPerSample;
    const unsigned int wanted = std::min(channelBytes, (dataSize - consumed) / 2);
    consumed += 2 * wanted;
    if (wanted == 0)
        return 0;
    char *frames = block.data();
    const qint64 first = std::max<qint64>(file.read(frames, wanted), 0);
    const qint64 second = first == qint64(wanted) ? std::max<qint64>(file.read(frames + channelBytes, wanted), 0) : 0;
    if (first + second < 2 * qint64(wanted))
        shortRead = true;
    if (bytesPerSample == 1) {
        toSigned8(frames, first);
        toSigned8(frames + channelBytes, second);
    }
    return int(first + second);
}

// Each frame's right sample becomes the two's-complement negation of its
// left sample at the sample width; the file's own right channel is dropped.
void SoundPCM::negateRight(unsigned int bytesPerSample)
{
    auto *frames = reinterpret_cast<unsigned char *>(block.data());
    for (int i = 0; i < framesPerBlock; ++i) {
        unsigned char *left = frames + i * 2 * bytesPerSample;
        unsigned char *right = left + bytesPerSample;
        if (bytesPerSample == 3) {
            int value = int(littleEndian(left, 3));
            if (value & 0x800000)
                value -= 0x1000000; // sign-extend from 24 bits
            const unsigned int negated = static_cast<unsigned int>(-value) & 0xFFFFFFu;
            right[0] = static_cast<unsigned char>(negated);
            right[1] = static_cast<unsigned char>(negated >> 8);
            right[2] = static_cast<unsigned char>(negated >> 16);
        } else {
            const unsigned int mask = bytesPerSample == 2 ? 0xFFFFu : 0xFFu;
            const unsigned int negated = (0u - littleEndian(left, int(bytesPerSample))) & mask;
            right[0] = static_cast<unsigned char>(negated);
            if (bytesPerSample == 2)
                right[1] = static_cast<unsigned char>(negated >> 8);
        }
    }
}

void SoundPCM::writeBlock()
{
    const int ready = snd_pcm_wait(handle, kDeviceWaitMs);
    if (ready == 0) {
        stalled = true;
        fail("snd_pcm_wait timeout!");
    }
    // A negative wait (an underrun, say) is recovered like a failed write.
    const snd_pcm_sframes_t written = ready < 0 ? ready : snd_pcm_writei(handle, block.constData(), framesPerBlock);
    if (written < 0) {
        ServiceFactory::debug(QStringLiteral("snd_pcm_recover=%1...").arg(qint64(written)));
        snd_pcm_recover(handle, int(written), 1);
    }
}

void SoundPCM::close()
{
    if (!handle)
        return;
    // Draining lets the last block play out; a stalled device would never
    // drain, and one never configured has nothing to play.
    if (configured && !stalled)
        drainWithin(kDrainBoundMs);
    else if (configured)
        snd_pcm_drop(handle);
    snd_pcm_close(handle);
    handle = nullptr;
    configured = false;
    stalled = false;
}

namespace {
std::function<bool()> &drainProbe()
{
    static std::function<bool()> probe;
    return probe;
}
} // namespace

void SoundPCM::setDrainProbe(const std::function<bool()> &stillDraining)
{
    drainProbe() = stillDraining;
}

bool SoundPCM::stillDraining() const
{
    if (drainProbe())
        return drainProbe()();
    return snd_pcm_state(handle) == SND_PCM_STATE_DRAINING;
}

void SoundPCM::drainWithin(int boundMs)
{
    // Without blocking, the drain only starts here; a blocking drain of a
    // device that stopped playing would hold the sound thread, and with it
    // the shutdown, for ever.
    snd_pcm_nonblock(handle, 1);
    snd_pcm_drain(handle);
    for (int waited = 0; waited < boundMs && stillDraining(); waited += kDrainPollMs)
        HardwareControl::wait(kDrainPollMs);
    if (stillDraining()) {
        ServiceFactory::debug(QStringLiteral("SoundPCM: drain timeout, rest dropped"));
        snd_pcm_drop(handle);
    }
}
