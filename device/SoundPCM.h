#pragma once

#include <QByteArray>

#include <functional>

class QFile;
typedef struct _snd_pcm snd_pcm_t;

// The first 16 bytes of a WAVE "fmt " chunk, little-endian on the wire.
struct _FMT_CHUNK
{
    unsigned short audioFormat = 0; // not consulted
    unsigned short channels = 0;
    unsigned int sampleRate = 0;
    unsigned int byteRate = 0;      // not consulted
    unsigned short blockAlign = 0;  // not consulted
    unsigned short bitsPerSample = 0;
};

// Reads the RIFF/WAVE chunks of one voice file and feeds its samples to the
// ALSA PCM "default", always as two channels with the right sample the
// negated left (the speaker is driven across both). Used only by the sound
// thread, one object per file; every failure is a VexException (0x1201).
class SoundPCM
{
public:
    static constexpr int kFramesPerBlock = 1024;
    static constexpr int kHeadBytes = 8;

    SoundPCM() = default;
    ~SoundPCM();
    SoundPCM(const SoundPCM &) = delete;
    SoundPCM &operator=(const SoundPCM &) = delete;

    void readRIFF(QFile &file);
    void fetchChunkHead(QFile &file, unsigned char *head);
    static bool testChunkName(const unsigned char *head, const char *name);
    static unsigned int getChunkSize(const unsigned char *head);
    void ignoreSize(QFile &file, unsigned int size);
    void fetchFMT(QFile &file, _FMT_CHUNK *fmt, unsigned int size);

    void open(const _FMT_CHUNK &fmt, unsigned int dataSize);
    // Plays one block; 1 while data is left, 0 at the end of the data (or
    // after a block whose read came back short).
    int playFrameOnce(QFile &file, unsigned short channels, unsigned short bitsPerSample);
    // Lets the last blocks play out, at most kDrainBoundMs; a device that
    // does not drain within the bound loses the rest.
    void close();
    static constexpr int kDrainBoundMs = 2000;
    // Test seam, set while no sound plays: whether the device is still
    // draining, in place of asking ALSA (empty restores ALSA).
    static void setDrainProbe(const std::function<bool()> &stillDraining);

private:
    void drainWithin(int boundMs);
    bool stillDraining() const;
    int fillMono(QFile &file, unsigned int bytesPerSample);
    int fillInterleaved(QFile &file, unsigned int bytesPerSample);
    void negateRight(unsigned int bytesPerSample);
    void writeBlock();
    [[noreturn]] static void fail(const char *message);

    snd_pcm_t *handle = nullptr;
    int framesPerBlock = 0;
    unsigned int dataSize = 0;
    unsigned int consumed = 0;
    bool shortRead = false;   // the file ended inside the data chunk
    bool configured = false;  // hardware parameters installed: drain on close
    bool stalled = false;     // the device stopped taking samples: drop on close
    QByteArray block;         // one block of stereo frames
    QByteArray samples;       // one block of a mono file, before it is spread
};
