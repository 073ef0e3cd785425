#include "wavewriter.h"

#include <QFile>

namespace {

QByteArray le(quint64 value, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
    return out;
}

} // namespace

QByteArray WaveWriter::file(const QByteArray &chunks)
{
    return QByteArray("RIFF") + le(quint64(4 + chunks.size()), 4) + QByteArray("WAVE") + chunks;
}

QByteArray WaveWriter::chunk(const QByteArray &name, const QByteArray &body, qint64 declaredSize)
{
    const quint64 size = declaredSize < 0 ? quint64(body.size()) : quint64(declaredSize);
    return name.left(4).leftJustified(4, ' ') + le(size, 4) + body;
}

QByteArray WaveWriter::fmt(quint16 channels, quint32 rate, quint16 bits, int extraBytes)
{
    const quint16 align = quint16(channels * (bits / 8));
    QByteArray body = le(1, 2) + le(channels, 2) + le(rate, 4) + le(quint64(rate) * align, 4) + le(align, 2)
        + le(bits, 2);
    body.append(QByteArray(extraBytes, '\0'));
    return chunk("fmt ", body);
}

QByteArray WaveWriter::pcm(quint16 channels, quint32 rate, quint16 bits, const QByteArray &samples)
{
    return file(fmt(channels, rate, bits) + chunk("data", samples));
}

QByteArray WaveWriter::samples(const QList<int> &values, int bytesPerSample)
{
    QByteArray out;
    for (int v : values)
        out.append(le(quint64(qint64(v)), bytesPerSample));
    return out;
}

QByteArray WaveWriter::constant(int value, int count, int bytesPerSample)
{
    return samples(QList<int>(count, value), bytesPerSample);
}

bool WaveWriter::save(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
