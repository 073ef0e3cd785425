#pragma once

#include <QString>

// Ends the program for a setting that only a start applies: writes the
// power-off entry with its reason and asks for the orderly shutdown. The
// change is already on disk, so a failed entry is logged in the catch-site
// style ("<where> logPowerOff VexException!") and the exit asked all the same.
// GUI thread only.
void requestRestart(const char *where, const QString &reason);
