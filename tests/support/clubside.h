#pragma once

#include <memory>

class ClubPortPeer;
class MorlanProtocolProcess;
class TestRoot;

// The club half of a test that talks to the club router: the router peer,
// unpaced, on the club-link node of a simulated root, and the real link
// thread published through the service factory with the router's answer
// time-outs divided by 10. Not started until startClub(); withdrawn and
// stopped when the object goes. Build it in the thread that then calls the
// link as the GUI thread does.
class ClubSide
{
public:
    explicit ClubSide(TestRoot &root);
    ~ClubSide();
    ClubSide(const ClubSide &) = delete;
    ClubSide &operator=(const ClubSide &) = delete;

    // Starts club mode and waits until the router authorised the clock.
    bool startClub();

    ClubPortPeer &peer() { return *clubPeer; }
    MorlanProtocolProcess &link() { return *process; }

private:
    std::unique_ptr<ClubPortPeer> clubPeer;
    std::unique_ptr<MorlanProtocolProcess> process;
};
