#include "childdeath.h"

#include <QProcess>

#include <csignal>

#include <sys/prctl.h>
#include <unistd.h>

void dieWithTest(QProcess &process)
{
    const pid_t parent = getpid();
    process.setChildProcessModifier([parent] {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The test may have ended between the fork and the line above.
        if (getppid() != parent)
            _exit(1);
    });
}
