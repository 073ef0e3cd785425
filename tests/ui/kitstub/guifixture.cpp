#include "guifixture.h"
#include "core/myapp.h"
#include "device/hardware_control.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include <QKeyEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
GuiFixture::GuiFixture()
    : db(std::make_unique<StorageFixture>())
{
    MyApp::registerMetaTypes();
    db->root().writeFile(QStringLiteral("/app/brellium/version"), "8.9.30");
    HardwareControl::init(0);
    MainWindow::resetExitRequest();
    w = MainWindow::instance();
    w->findChild<QTimer *>()->stop();
    w->show();
    w->resetSubForms();
}
GuiFixture::~GuiFixture()
{
    MainWindow::destroyInstance();
    FormMessage::destroyInstance();
    db.reset();
}
MainWindow *GuiFixture::window() { return w; }
void GuiFixture::push(SubWindow *screen) { w->pushSubForm(screen); }
SubWindow *GuiFixture::top() { return w->topSubForm(); }
void GuiFixture::tick(int n)
{
    for (int i = 0; i < n; ++i)
        QMetaObject::invokeMethod(w, "onTickTimeOut", Qt::DirectConnection);
}
FormMessage *GuiFixture::box() { return FormMessage::instance(); }
QString GuiFixture::boxText() { return box()->text(); }
bool GuiFixture::boxShown() { return box()->isActived(); }
void GuiFixture::answerBox(QMessageBox::StandardButton b)
{
    QTest::mouseClick(box()->findChild<QPushButton *>(b == QMessageBox::Ok ? "btnOK" : "btnCancel"), Qt::LeftButton);
}
bool GuiFixture::key(int qtKey)
{
    QKeyEvent e(QEvent::KeyPress, qtKey, Qt::NoModifier);
    return w->doKeyPress(&e);
}
