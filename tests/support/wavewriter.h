#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Builds WAVE files for the voice tests, chunk by chunk, with whatever sizes,
// order and format a case needs (lying sizes included). Written from the
// RIFF layout alone; it shares nothing with the program's reader.
class WaveWriter
{
public:
    // "RIFF", the size of what follows, "WAVE", then the chunks as given.
    static QByteArray file(const QByteArray &chunks);
    // A chunk head (name and declared size) and its body; the declared size
    // defaults to the body's. No pad byte is added.
    static QByteArray chunk(const QByteArray &name, const QByteArray &body, qint64 declaredSize = -1);
    // A PCM "fmt " chunk; extraBytes lengthens it beyond the standard 16.
    static QByteArray fmt(quint16 channels, quint32 rate, quint16 bits, int extraBytes = 0);
    // A PCM file with one fmt and one data chunk.
    static QByteArray pcm(quint16 channels, quint32 rate, quint16 bits, const QByteArray &samples);

    // Little-endian samples of the given width in bytes (1, 2, 3 or 4).
    static QByteArray samples(const QList<int> &values, int bytesPerSample);
    // count samples all of one value.
    static QByteArray constant(int value, int count, int bytesPerSample);

    static bool save(const QString &path, const QByteArray &bytes);
};
