#pragma once

#include <QString>

// How the slave service of the club link reaches the thread that runs it: the
// PC program sent a text to show. Called from the club-link thread.
class MorlanSlaverCallback
{
public:
    virtual ~MorlanSlaverCallback() = default;
    virtual void onShowTip(QString tip) = 0;
};
