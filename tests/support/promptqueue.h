#pragma once

#include <QStringList>

#include <memory>

class SoundThread;

// A sound thread published through the service factory but never started,
// so that the voice prompts a test causes stay in its queue to be read.
// Withdrawn again when the object goes.
class PromptQueue
{
public:
    PromptQueue();
    ~PromptQueue();

    // The queued prompts by name ("dong", "keyPress"), oldest first.
    QStringList prompts() const;
    int size() const;

private:
    std::unique_ptr<SoundThread> thread;
};
