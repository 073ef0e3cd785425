#include "promptqueue.h"

#include "core/servicefactory.h"
#include "device/SoundThread.h"

#include <QFileInfo>

PromptQueue::PromptQueue()
    : thread(std::make_unique<SoundThread>())
{
    ServiceFactory::getInstance()->setSoundThread(thread.get());
}

PromptQueue::~PromptQueue()
{
    ServiceFactory::getInstance()->setSoundThread(nullptr);
}

QStringList PromptQueue::prompts() const
{
    QStringList names;
    const QStringList paths = thread->queuedPaths();
    for (const QString &path : paths)
        names << QFileInfo(path).completeBaseName();
    return names;
}

int PromptQueue::size() const
{
    return thread->queuedPaths().size();
}
