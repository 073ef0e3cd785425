#include "core/firstframenote.h"
#include "core/myapp.h"
#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "device/pcport.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"

#include <QMessageBox>
#include <QTimer>

#include <cstdio>

#include <unistd.h>

int main(int argc, char *argv[])
{
    // The program cannot run without its database: report why and stop,
    // but never power the device off for it.
    QString startupError;
    try {
        MyApp::init();
    } catch (const VexException &e) {
        startupError = e.getErrorMessage();
        ServiceFactory::debug(QStringLiteral("main: start-up failed: ") + startupError);
    }

    // A touch screen: the framebuffer platforms hide the pointer by their own
    // option, so the override-cursor stack stays free for the wait cursor.
    if (!qEnvironmentVariableIsSet("QT_QPA_FB_HIDECURSOR"))
        qputenv("QT_QPA_FB_HIDECURSOR", "1");
    if (!qEnvironmentVariableIsSet("QT_QPA_EGLFS_HIDECURSOR"))
        qputenv("QT_QPA_EGLFS_HIDECURSOR", "1");

    MyApp app(argc, argv);

    if (!startupError.isEmpty()) {
        QMessageBox::critical(nullptr, QStringLiteral("Error"), startupError);
        return 1;
    }

    MyApp::registerMetaTypes();

    if (HardwareControl::OSTYPE != 0)
        ServiceFactory::startService();
    else
        ServiceFactory::debug(QStringLiteral("OS version mispatch!"));

    ServiceFactory::loadLang();
    // The start-up benchmark waits for this line as well.
    MainWindow::instance()->installEventFilter(
        new FirstFrameNote([] { ServiceFactory::debug(QStringLiteral("main: first frame painted")); }));
    MainWindow::instance()->setVisible(true);
    // A box opened while the window was being built (the upgrade notice)
    // would lie under the window shown after it, and the window stays
    // disabled while the box is open: the box comes to the top.
    FormMessage *box = FormMessage::instance();
    if (box->isActived()) {
        box->raise();
        box->activateWindow();
    }
    // Runs in the event loop's first pass, with the window's first paint:
    // where the start-up ends for the user (the start-up benchmark waits
    // for this line).
    QTimer::singleShot(0, &app, [] { ServiceFactory::debug(QStringLiteral("main: main window shown")); });
    const int status = app.exec();

    // The window and the box go before the application object does.
    MainWindow::destroyInstance();
    FormMessage::destroyInstance();
    PcPort::destroy();
    if (ServiceFactory::getInstance()->isRunning()) {
        // Destroying a running thread object aborts the program: leave
        // without destroying anything more.
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(status);
    }
    return status;
}
