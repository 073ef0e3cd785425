#include "memorycommport.h"

#include <QMutexLocker>

bool MemoryCommPort::open()
{
    QMutexLocker l(&mutex);
    opened = !openFails;
    return opened;
}

bool MemoryCommPort::isOpen()
{
    QMutexLocker l(&mutex);
    return opened;
}

void MemoryCommPort::close()
{
    QMutexLocker l(&mutex);
    opened = false;
}

void MemoryCommPort::clear()
{
    QMutexLocker l(&mutex);
    if (opened)
        input.clear();
}

bool MemoryCommPort::sendBytes(QByteArray bytes)
{
    return write(bytes);
}

bool MemoryCommPort::sendByte(unsigned char b)
{
    return write(QByteArray(1, char(b)));
}

bool MemoryCommPort::receiveByte(unsigned char *b)
{
    QMutexLocker l(&mutex);
    if (!opened || input.isEmpty())
        return false;
    *b = static_cast<unsigned char>(input.at(0));
    input.remove(0, 1);
    return true;
}

int MemoryCommPort::receiveBytes(QByteArray *buffer, int n)
{
    if (n <= 0)
        return n;
    int got = 0;
    unsigned char b = 0;
    while (got < n && receiveByte(&b)) {
        buffer->append(char(b));
        ++got;
    }
    return got;
}

void MemoryCommPort::queueInput(const QByteArray &bytes)
{
    QMutexLocker l(&mutex);
    input += bytes;
}

int MemoryCommPort::inputWaiting() const
{
    QMutexLocker l(&mutex);
    return int(input.size());
}

QByteArray MemoryCommPort::written() const
{
    QMutexLocker l(&mutex);
    return output;
}

QByteArray MemoryCommPort::takeWritten()
{
    QMutexLocker l(&mutex);
    QByteArray out;
    out.swap(output);
    return out;
}

void MemoryCommPort::setOpenFails(bool fails)
{
    QMutexLocker l(&mutex);
    openFails = fails;
}

void MemoryCommPort::setWriteLimit(int bytesPerWrite)
{
    QMutexLocker l(&mutex);
    writeLimit = bytesPerWrite;
}

bool MemoryCommPort::write(const QByteArray &bytes)
{
    QMutexLocker l(&mutex);
    if (!opened)
        return false;
    const int accepted = writeLimit < 0 ? int(bytes.size()) : qMin(int(bytes.size()), writeLimit);
    output += bytes.left(accepted);
    return accepted == bytes.size();
}
