#pragma once

// Shows the wait cursor for the life of the object and restores the previous
// override cursor when it ends, also when an exception passes through, so
// that sets and restores always balance. GUI thread only.
class WaitCursor
{
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};
