#pragma once

#include <QString>
#include <QTemporaryDir>

// A throw-away simulated device for one test: a root folder with a recognised
// board in proc/version, the GPIO value files, the board control node (board
// 1), a configuration file, and a working directory for the database.
// Activating it points CLOCK_ROOT (and the platform layer) at it and makes the
// working directory current; the destructor restores both.
class TestRoot
{
public:
    explicit TestRoot(int boardType = 2);
    ~TestRoot();

    bool isValid() const;
    QString root() const;
    QString workDir() const;
    QString path(const QString &absolutePath) const;

    void activate();
    void writeFile(const QString &absolutePath, const QByteArray &content) const;
    QByteArray readFile(const QString &absolutePath) const;
    void setConfig(const QByteArray &text) const;
    void setGpio(int n, int value) const;
    int gpio(int n) const; // -1 when missing
    // The board commands recorded so far, one per line.
    QStringList boardCommands() const;
    void clearBoardCommands() const;

    static QByteArray kernelVersion(int boardType);

private:
    QTemporaryDir dir;
    QString previousRoot;
    QString previousCwd;
    bool hadRoot = false;
    bool active = false;
};
