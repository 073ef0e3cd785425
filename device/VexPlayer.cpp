#include "device/VexPlayer.h"

#include "core/servicefactory.h"
#include "device/SoundThread.h"

#include <QCoreApplication>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex &resourceMutex()
{
    static QMutex mutex;
    return mutex;
}

QString &resourceOverride()
{
    static QString dir;
    return dir;
}

} // namespace

QString VexPlayer::resourceDir()
{
    {
        QMutexLocker lock(&resourceMutex());
        if (!resourceOverride().isEmpty())
            return resourceOverride();
    }
    return QCoreApplication::applicationDirPath() + QStringLiteral("/resource/");
}

void VexPlayer::setResourceDir(const QString &dir)
{
    QMutexLocker lock(&resourceMutex());
    resourceOverride() = dir.isEmpty() || dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
}

QString VexPlayer::promptPath(const QString &name)
{
    const QString dir = resourceDir();
    const QString file = name + QStringLiteral(".wav");
    const QString inLanguage = dir + ServiceFactory::lang() + QLatin1Char('/') + file;
    return QFile::exists(inLanguage) ? inLanguage : dir + file;
}

void VexPlayer::play(const QString &name)
{
    const QString path = promptPath(name);
    // Under the factory's lock the service thread cannot withdraw and destroy
    // the sound thread between the read of the pointer and the call.
    QMutexLocker lock(&ServiceFactory::soundThreadMutex());
    if (SoundThread *thread = ServiceFactory::getInstance()->soundThread)
        thread->playSound(path);
}

void VexPlayer::playOK() { play(QStringLiteral("ok")); }
void VexPlayer::playError() { play(QStringLiteral("error")); }
void VexPlayer::playKeyPress() { play(QStringLiteral("keyPress")); }
void VexPlayer::playDong() { play(QStringLiteral("dong")); }
void VexPlayer::playSample1() { play(QStringLiteral("sample1")); }
void VexPlayer::playPigeonTest() { play(QStringLiteral("pigeonTest")); }

void VexPlayer::playPigeonBack(int code)
{
    switch (code) {
    case 0: play(QStringLiteral("pigeonValid")); break;
    case 2: play(QStringLiteral("pigeonRepeat")); break;
    default: play(QStringLiteral("pigeonInValid")); break;
    }
}

void VexPlayer::readWords(const QString &text)
{
    for (const QChar c : text) {
        const QChar upper = c.toUpper();
        if (upper.unicode() >= 256)
            continue;
        const char ascii = static_cast<char>(upper.unicode());
        if ((ascii >= 'A' && ascii <= 'Z') || (ascii >= '0' && ascii <= '9'))
            play(QString(upper));
    }
}
