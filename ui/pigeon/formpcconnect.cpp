#include "ui/pigeon/formpcconnect.h"

#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "race/pigeonbo.h"
#include "ui/guardedcall.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QLabel>
#include <QPixmap>

#include <exception>

namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 700;
constexpr int kPictureTop = 90;
constexpr int kPictureBottom = 281;
constexpr int kTextTop = 320;
constexpr int kTextBottom = 380;
constexpr int kTipTop = 430;
constexpr int kTipBottom = 580;
const char kPicture[] = ":/image/image/connecttopc.png";
const char kStyle[] = "#frameWidget{border-image: url(:/image/image/main-bg.png);border:none;}"
                      "#graphicsView{background:transparent;border:none;}"
                      "#label,#labTip{color:#ffffff;font-size:36px;background:transparent;}";

} // namespace

FormPcConnect::FormPcConnect(QWidget *parent)
    : SubWindow(parent)
{
    setWindowTitle(QString());
    setStyleSheet(QLatin1String(kStyle));

    frameWidget = new QWidget(this);
    frameWidget->setObjectName(QStringLiteral("frameWidget"));
    frameWidget->setAttribute(Qt::WA_StyledBackground);
    frameWidget->setGeometry(0, 0, kWidth, kHeight);

    graphicsView = new QGraphicsView(frameWidget);
    graphicsView->setObjectName(QStringLiteral("graphicsView"));
    graphicsView->setGeometry(0, kPictureTop, kWidth, kPictureBottom - kPictureTop);
    graphicsView->setFrameShape(QFrame::NoFrame);
    graphicsView->setFocusPolicy(Qt::NoFocus);
    graphicsView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    graphicsView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *scene = new QGraphicsScene(graphicsView);
    // A missing picture leaves the view empty.
    const QPixmap picture(QString::fromLatin1(kPicture));
    if (!picture.isNull())
        scene->addPixmap(picture);
    graphicsView->setScene(scene);

    label = new QLabel(tr("Connecting ..."), frameWidget);
    label->setObjectName(QStringLiteral("label"));
    label->setGeometry(0, kTextTop, kWidth, kTextBottom - kTextTop);
    label->setAlignment(Qt::AlignCenter);

    labTip = new QLabel(frameWidget);
    labTip->setObjectName(QStringLiteral("labTip"));
    labTip->setGeometry(0, kTipTop, kWidth, kTipBottom - kTipTop);
    labTip->setAlignment(Qt::AlignCenter);
    // The PC's text as typed: markup is not interpreted, long tips wrap.
    labTip->setTextFormat(Qt::PlainText);
    labTip->setWordWrap(true);
}

FormPcConnect::~FormPcConnect() = default;

void FormPcConnect::onActive()
{
    ServiceFactory::switchToComm();
    MorlanProtocolProcess *link = ServiceFactory::getInstance()->protocolProcess;
    if (!link) {
        ServiceFactory::debug(QStringLiteral("FormPcConnect: no club link published, no tips"));
        return;
    }
    // Queued: the link emits in its own thread.
    tipConnection = connect(link, &MorlanProtocolProcess::showTip, this, &FormPcConnect::onShowTip);
}

void FormPcConnect::onShowTip(QString tipInfo)
{
    labTip->setText(tipInfo);
}

void FormPcConnect::onDeactive(SubWindow::_DeactiveMode)
{
    // A tip posted just before this still arrives; it only sets the label.
    disconnect(tipConnection);
    // Race work follows whatever the reload does: its failure is held and
    // shown after the switch, never instead of it.
    std::exception_ptr failure;
    try {
        if (PigeonBo *bo = ServiceFactory::getInstance()->pigeonBo)
            bo->reflushCache();
        else
            ServiceFactory::debug(QStringLiteral("FormPcConnect: no race engine, loft settings not reloaded"));
    } catch (...) {
        failure = std::current_exception();
    }
    ServiceFactory::switchToRace(false);
    if (failure)
        guardedCall("FormPcConnect::onDeactive", this, [&failure] { std::rethrow_exception(failure); });
}
