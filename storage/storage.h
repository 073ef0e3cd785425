#pragma once

#include <QString>

// The only code that issues SQL. One object and connection per thread,
// reached through instance(); destroy() closes the calling thread's one.
class Storage
{
public:
    static Storage *instance();
    static void init();
    static void destroy();

    QString getParam(const QString &key);
    void setParam(const QString &key, const QString &value);

    void clearSomeLogs();
    void logPowerOn();
    void logPowerOff(const QString &reason);

private:
    Storage() = default;
};
