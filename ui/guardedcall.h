#pragma once

#include <QString>

#include <functional>

class QWidget;

// Runs one user action (a click, a key, a tick) so that no exception leaves
// the slot: the failure is logged in the catch-site style ("Where
// VexException!") and its description shown in an "Error" box over parent.
// Returns false when the action threw. GUI thread only.
bool guardedCall(const char *where, QWidget *parent, const std::function<void()> &action);
// The same for a key handler that answers whether it consumed the key; a
// key whose handler threw counts as consumed.
bool guardedKey(const char *where, QWidget *parent, const std::function<bool()> &action);
// The same, but the "error" prompt is played before the "Error" box, for
// the actions whose failure the fancier must also hear.
bool guardedCallWithErrorPrompt(const char *where, QWidget *parent, const std::function<void()> &action);
