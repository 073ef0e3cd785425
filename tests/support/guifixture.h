#pragma once

#include "storagefixture.h"

#include "core/myapp.h"

#include <QMessageBox>
#include <QString>
#include <QTest>

#include <memory>

class FormMessage;
class MainWindow;
class SubWindow;

// One screen test's device: a fresh simulated root and database, the
// queued-signal types registered, and the real main window built on it with
// its 300 ms tick stopped (tick() runs it on demand), shown with the stack
// at the menu. Services are those the test publishes; by default none run,
// as on a device whose services did not start. The destructor takes the
// window, the message box and the database down again.
class GuiFixture
{
public:
    // On a database of its own, or on one another fixture made (which must
    // outlive this one).
    explicit GuiFixture(StorageFixture *existing = nullptr);
    ~GuiFixture();
    GuiFixture(const GuiFixture &) = delete;
    GuiFixture &operator=(const GuiFixture &) = delete;

    MainWindow *window() const { return mainWindow; }
    StorageFixture &store() { return *storage; }
    TestRoot &root() { return storage->root(); }

    void push(SubWindow *screen) const;
    SubWindow *top() const;
    // Runs the window's tick as its timer would, n times.
    void tick(int n = 1) const;
    // A hardware key through the window's key handling; true when consumed.
    bool key(int qtKey) const;
    // Touches the main menu's button while the database is locked for
    // reads, so that the screen it opens cannot read what it shows; false
    // when the lock could not be taken or given back.
    bool clickMenuWhileLocked(const QString &button);

    static FormMessage *box();
    static bool boxShown();
    static QString boxTitle();
    static QString boxText();
    // Presses the box's Ok or Cancel button.
    static void answerBox(QMessageBox::StandardButton button);

private:
    std::unique_ptr<StorageFixture> ownStorage;
    StorageFixture *storage = nullptr;
    MainWindow *mainWindow = nullptr;
};

// The main of a screen suite: the program's own application object, so
// that keys reach the main window first as on the device.
#define BRELLIUM_GUI_TEST_MAIN(TestClass)                                                                   \
    int main(int argc, char *argv[])                                                                       \
    {                                                                                                      \
        MyApp app(argc, argv);                                                                             \
        TestClass test;                                                                                    \
        return QTest::qExec(&test, argc, argv);                                                            \
    }
