#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Collects the debug output of every thread while it lives, for tests that
// check what the program logs. Lines are the messages' text as Qt formats it
// (ServiceFactory::debug quotes its text), and are still passed on.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();

    QStringList lines() const;
    bool contains(const QString &text) const; // any line containing text
    int count(const QString &text) const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);

    mutable QMutex mutex;
    QStringList captured;
    QtMessageHandler previous = nullptr;
};
