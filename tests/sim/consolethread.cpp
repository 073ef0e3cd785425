#include "consolethread.h"

#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include <signal.h>
#include <unistd.h>

struct ConsoleThread::Shared
{
    std::mutex lock;
    bool closed = false;
    Handler handler;
};

ConsoleThread::ConsoleThread(Handler handler)
    : shared(std::make_shared<Shared>())
{
    shared->handler = std::move(handler);
    // The thread keeps its own share of the state: it outlives this object.
    std::thread reader([state = shared] {
        std::string line;
        bool quit = false;
        while (!quit && std::getline(std::cin, line)) {
            std::lock_guard<std::mutex> guard(state->lock);
            if (state->closed)
                return;
            state->handler(QString::fromStdString(line), &quit);
        }
        if (quit)
            kill(getpid(), SIGTERM);
    });
    reader.detach();
}

ConsoleThread::~ConsoleThread()
{
    close();
}

void ConsoleThread::close()
{
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->closed = true;
    shared->handler = nullptr;
}
