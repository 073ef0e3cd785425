#pragma once

#include <QByteArray>

// The configuration file "/app/main_program.config": one JSON object whose
// "userSettings" member is the feature-flags word. The start-up reader takes
// the word from it; the configuration screen is its only writer. GUI thread
// (and start-up) only.
class ConfigFile
{
public:
    // Reads the whole file into *text. A missing file is an empty text;
    // false when the file exists but cannot be read (then *text is empty).
    static bool read(QByteArray *text);
    // The text that replaces oldText: every member of its object with its
    // parsed value and "userSettings" set to word, compact, keys ascending.
    // An empty text or one that is no JSON object gives the one member.
    static QByteArray withUserSettings(const QByteArray &oldText, unsigned int word);
    // Sets "userSettings" in the file. The new text goes to a temporary file
    // in the same folder, synced and renamed over the old name, so that a
    // power cut at any instant leaves the old or the new file whole. False,
    // and the file as it was, when it cannot be read, written or replaced.
    static bool saveUserSettings(unsigned int word);
};
