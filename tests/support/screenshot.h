#pragma once

#include <QImage>
#include <QString>

// Pictures of the 480 x 800 screen for a person to look at: the main window
// with the message box painted over it where the box shows. Saved under
// BRELLIUM_TEST_OUTPUT (the build tree's test-output/), else test-output/.
class Screenshot
{
public:
    static QImage grabScreen();
    // Saves grabScreen() as <name>.png and returns the file's path (empty
    // when it could not be written).
    static QString save(const QString &name);
    static QString save(const QImage &image, const QString &name);
};
