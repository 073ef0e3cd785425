#include "core/myapp.h"
#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "device/hardware_control.h"
#include "ui/mainwindow.h"

#include <QMessageBox>

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

    MyApp app(argc, argv);
    // A touch screen: no pointer to show.
    QApplication::setOverrideCursor(Qt::BlankCursor);

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
    MainWindow::instance()->setVisible(true);
    return app.exec();
}
