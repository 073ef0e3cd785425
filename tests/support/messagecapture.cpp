#include "messagecapture.h"

#include <QMutexLocker>

namespace {
// Other threads may be logging while a capture starts or ends: the current
// capture is only read and changed under this lock.
QMutex currentMutex;
MessageCapture *current = nullptr;
}

MessageCapture::MessageCapture()
{
    QMutexLocker lock(&currentMutex);
    current = this;
    previous = qInstallMessageHandler(&MessageCapture::handler);
}

MessageCapture::~MessageCapture()
{
    QMutexLocker lock(&currentMutex);
    qInstallMessageHandler(previous);
    current = nullptr;
}

void MessageCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QtMessageHandler passOn = nullptr;
    {
        QMutexLocker lock(&currentMutex);
        if (!current)
            return;
        QMutexLocker own(&current->mutex);
        current->captured << message;
        passOn = current->previous;
    }
    if (passOn)
        passOn(type, context, message);
}

QStringList MessageCapture::lines() const
{
    QMutexLocker lock(&mutex);
    return captured;
}

bool MessageCapture::contains(const QString &text) const
{
    return count(text) > 0;
}

int MessageCapture::count(const QString &text) const
{
    QMutexLocker lock(&mutex);
    int n = 0;
    for (const QString &line : captured)
        n += line.contains(text) ? 1 : 0;
    return n;
}

void MessageCapture::clear()
{
    QMutexLocker lock(&mutex);
    captured.clear();
}
