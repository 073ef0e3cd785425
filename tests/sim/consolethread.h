#pragma once

#include <QString>

#include <functional>
#include <memory>

// A peer's console: reads commands from standard input, one a line, on a
// thread of its own and hands each to the peer's handler; "quit" there ends
// the process with SIGTERM. The thread stays blocked on input when the peer
// ends, so it is never joined: close() (also the destructor) waits for a
// command in progress and lets no later one reach the peer, which may then be
// destroyed.
class ConsoleThread
{
public:
    // Runs one command line; sets *quit to end the console.
    using Handler = std::function<void(const QString &line, bool *quit)>;

    explicit ConsoleThread(Handler handler);
    ~ConsoleThread();
    ConsoleThread(const ConsoleThread &) = delete;
    ConsoleThread &operator=(const ConsoleThread &) = delete;

    void close();

private:
    struct Shared;
    std::shared_ptr<Shared> shared;
};
