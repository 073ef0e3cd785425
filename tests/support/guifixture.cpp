#include "guifixture.h"

#include "core/myapp.h"
#include "core/servicefactory.h"
#include "core/version.h"
#include "device/hardware_control.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/menu.h"

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
    // A window over an empty loft number opens the PC screen at start, and
    // the stack reset leaves it: comm mode, then race work. Services a test
    // published beforehand (a link it put in club mode) must not see that,
    // so the window is built and reset with none published.
    ServiceFactory *factory = ServiceFactory::getInstance();
    MorlanProtocolProcess *link = factory->protocolProcess;
    RFIDService *reader = factory->rfidService;
    PigeonBo *engine = factory->pigeonBo;
    factory->protocolProcess = nullptr;
    factory->rfidService = nullptr;
    factory->pigeonBo = nullptr;
    mainWindow = MainWindow::instance();
    mainWindow->findChild<QTimer *>()->stop();
    mainWindow->show();
    mainWindow->resetSubForms();
    factory->protocolProcess = link;
    factory->rfidService = reader;
    factory->pigeonBo = engine;
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

bool GuiFixture::clickMenuWhileLocked(const QString &button)
{
    auto *target = mainWindow->mainMenu()->findChild<QPushButton *>(button);
    if (!target || !storage->hold(true))
        return false;
    QTest::mouseClick(target, Qt::LeftButton);
    return storage->releaseHold();
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
