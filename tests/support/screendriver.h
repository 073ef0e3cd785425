#pragma once

#include <QString>
#include <QTest>
#include <QWidget>

// Drives one screen the way a finger does: clicks its named buttons, types
// on its on-screen keyboard and reads what it shows. Pictures go to
// test-output/<suite>/<name>.png.
class ScreenDriver
{
public:
    ScreenDriver(QWidget *screen, const QString &suite);

    template<class T>
    T *find(const char *objectName) const
    {
        T *w = screen->findChild<T *>(QLatin1String(objectName));
        if (!w)
            QTest::qFail(qPrintable(QStringLiteral("no widget ") + QLatin1String(objectName)), __FILE__, __LINE__);
        return w;
    }

    // Clicks a visible, enabled button; fails the test otherwise. False when
    // it could not click.
    bool click(const char *objectName) const;
    // Types text key by key on the screen's keyboard (letters, digits, "-",
    // "." and "\b" for the back key), switching caps as each letter needs.
    bool type(const QString &text) const;
    // The text of a label, line edit, button or combo box.
    QString text(const char *objectName) const;
    // Saves the whole 480 x 800 screen; returns the file's path.
    QString shot(const QString &name) const;

private:
    QWidget *screen;
    QString suite;
};
