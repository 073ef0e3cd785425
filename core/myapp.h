#pragma once

#include <QApplication>

// The application object. Before it exists, init() prepares the board, the
// device clock and the database; notify() offers the six navigation keys to
// the main window before normal delivery. GUI thread only.
class MyApp : public QApplication
{
    Q_OBJECT
public:
    MyApp(int &argc, char **argv);
    ~MyApp() override;

    static void init();
    bool notify(QObject *receiver, QEvent *event) override;

    // The feature-flags word of a configuration text: "userSettings" when it
    // is a JSON integer from 0 to 0xFFFFFFFF, otherwise 0.
    static unsigned int parseUserSettings(const QByteArray &configText);
    // Escape, Return, Enter, Home, Up and Down.
    static bool isNavigationKey(int key);
    // Registers the record types that travel in queued signals.
    static void registerMetaTypes();
};
