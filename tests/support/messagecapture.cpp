#include "messagecapture.h"

#include <QMutexLocker>

namespace {
MessageCapture *current = nullptr;
}

MessageCapture::MessageCapture()
{
    current = this;
    previous = qInstallMessageHandler(&MessageCapture::handler);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(previous);
    current = nullptr;
}

void MessageCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    MessageCapture *self = current;
    if (!self)
        return;
    {
        QMutexLocker lock(&self->mutex);
        self->captured << message;
    }
    if (self->previous)
        self->previous(type, context, message);
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
