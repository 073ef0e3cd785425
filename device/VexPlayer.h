#pragma once

// Voice prompts, callable from any thread; never waits for the sound.
class VexPlayer
{
public:
    static void playDong();
    static void playKeyPress();
};
