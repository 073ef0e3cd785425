#include "core/myapp.h"
#include "device/hardware_control.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/menu.h"
#include "ui/statusbar.h"

#include "screenshot.h"
#include "testroot.h"

#include <QTest>

#include <memory>

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void look();

private:
    MainWindow *build(const QByteArray &version = "8.9.30", unsigned int flags = 0);
    std::unique_ptr<TestRoot> root;
};

void TestMainWindow::init()
{
    root = std::make_unique<TestRoot>(2);
    root->activate();
    MainWindow::resetExitRequest();
}

void TestMainWindow::cleanup()
{
    MainWindow::destroyInstance();
    FormMessage::destroyInstance();
    root.reset();
}

MainWindow *TestMainWindow::build(const QByteArray &version, unsigned int flags)
{
    if (!version.isNull())
        root->writeFile(QStringLiteral("/app/brellium/version"), version);
    HardwareControl::init(flags);
    MainWindow *w = MainWindow::instance();
    w->show();
    return w;
}

void TestMainWindow::look()
{
    MainWindow *w = build();
    w->resetSubForms();
    StatusSnapshot s;
    s.gsmFlags = 0x418;
    s.csq = 20;
    s.gpsOnline = true;
    s.readerValid = true;
    s.loftTimeMs = 1700000000000;
    w->applyStatus(StatusBar::look(s));
    QVERIFY(!Screenshot::save(QStringLiteral("menu-all-online")).isEmpty());
    FormMessage::information(w, "Success", "Upgrade to v8.9.30(0000)-ublox", QMessageBox::Ok, nullptr);
    QVERIFY(!Screenshot::save(QStringLiteral("box-ok")).isEmpty());
}

int main(int argc, char *argv[])
{
    MyApp app(argc, argv);
    TestMainWindow test;
    const int status = QTest::qExec(&test, argc, argv);
    MainWindow::destroyInstance();
    FormMessage::destroyInstance();
    return status;
}
#include "tst_mainwindow.moc"
