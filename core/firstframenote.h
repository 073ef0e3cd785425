#pragma once

#include <QEvent>
#include <QObject>
#include <QTimer>

#include <functional>
#include <utility>

// Watches a window and calls its note once, after the window's first frame
// is painted: the call is posted from inside the first paint, so it runs
// once that paint and its flush are done. Lives in the GUI thread and
// deletes itself after the call. Header-only, so that the benchmarks' bare
// reference window, which links nothing of the clock, notes its first frame
// the same way.
class FirstFrameNote : public QObject
{
public:
    explicit FirstFrameNote(std::function<void()> noteCall)
        : note(std::move(noteCall))
    {
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                note();
                deleteLater();
            });
        }
        return false;
    }

private:
    std::function<void()> note;
};
