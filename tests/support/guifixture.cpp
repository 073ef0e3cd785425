#include "guifixture.h"

#include "core/myapp.h"
#include "core/version.h"
#include "device/hardware_control.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"

#include <QKeyEvent>
#include <QMetaObject>
#include <QPushButton>
#include <QTest>
#include <QTimer>

GuiFixture::GuiFixture(StorageFixture *existing)
    : ownStorage(existing ? nullptr : std::make_unique<StorageFixture>())
    , storage(existing ? existing : ownStorage.get())
{
    MyApp::registerMetaTypes();
    // The installed version matches: no upgrade notice over the first screen.
    root().writeFile(QStringLiteral("/app/brellium/version"), ProgramVersion::kText);
    HardwareControl::init(0);
    MainWindow::resetExitRequest();
    mainWindow = MainWindow::instance();
    mainWindow->findChild<QTimer *>()->stop();
    mainWindow->show();
    mainWindow->resetSubForms();
}

GuiFixture::~GuiFixture()
{
    MainWindow::destroyInstance();
    FormMessage::destroyInstance();
}

void GuiFixture::push(SubWindow *screen) const
{
    mainWindow->pushSubForm(screen);
}

SubWindow *GuiFixture::top() const
{
    return mainWindow->topSubForm();
}

void GuiFixture::tick(int n) const
{
    for (int i = 0; i < n; ++i)
        QMetaObject::invokeMethod(mainWindow, "onTickTimeOut", Qt::DirectConnection);
}

bool GuiFixture::key(int qtKey) const
{
    QKeyEvent event(QEvent::KeyPress, qtKey, Qt::NoModifier);
    return mainWindow->doKeyPress(&event);
}

FormMessage *GuiFixture::box()
{
    return FormMessage::instance();
}

bool GuiFixture::boxShown()
{
    return box()->isActived();
}

QString GuiFixture::boxTitle()
{
    return box()->title();
}

QString GuiFixture::boxText()
{
    return box()->text();
}

void GuiFixture::answerBox(QMessageBox::StandardButton button)
{
    const char *name = button == QMessageBox::Ok ? "btnOK" : "btnCancel";
    auto *b = box()->findChild<QPushButton *>(QLatin1String(name));
    QVERIFY2(b, name);
    QVERIFY2(b->isVisible() && b->isEnabled(), name);
    QTest::mouseClick(b, Qt::LeftButton);
}
