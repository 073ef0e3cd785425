#pragma once

#include <QString>

// Voice prompts by name: turns a prompt into the path of its WAVE file (the
// language's folder first, then the common one) and queues it on the sound
// thread published by the service factory. All static; callable from any
// thread, never waits for the sound. Without a running sound thread (before
// the services start, after they end, on a board that starts none) a prompt
// is dropped.
class VexPlayer
{
public:
    static void play(const QString &name);

    static void playOK();
    static void playError();
    static void playKeyPress();
    static void playDong();
    static void playSample1();
    static void playPigeonTest();
    // 0 a valid arrival or basketing, 2 a pigeon already basketed, anything
    // else an invalid ring.
    static void playPigeonBack(int code);
    // Reads each letter A to Z and digit 0 to 9 of text, in order; any other
    // character is passed over.
    static void readWords(const QString &text);

    // The file a prompt plays in the current language: resource/<LANG>/ when
    // it holds the file, otherwise resource/ (not checked).
    static QString promptPath(const QString &name);
    // The resource folder, ending in '/': the application directory's
    // resource/ unless a test has pointed it elsewhere (empty restores it).
    static QString resourceDir();
    static void setResourceDir(const QString &dir);
};
