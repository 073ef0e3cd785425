#pragma once

class QProcess;

// Makes the process, once started, die with the test that started it
// (SIGKILL when the test's process ends, also by a time-out or a crash), so
// that no program or peer outlives its test.
void dieWithTest(QProcess &process);
