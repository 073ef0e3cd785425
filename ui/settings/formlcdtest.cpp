#include "ui/settings/formlcdtest.h"

#include "device/VexPlayer.h"
#include "ui/guardedcall.h"

#include <QEvent>
#include <QLabel>

namespace {
constexpr int kWidth = 480;
constexpr int kHeight = 700;
constexpr int kTouchTop = 240;
constexpr int kClickTop = 320;
constexpr int kLabelHeight = 60;
const char kBaseStyle[] = "background-color: gray;";
const char kLabelStyle[] = "background:transparent;\ncolor:#FFFFFF;\nfont-size:36px;";
const char kLabelFamily[] = "微软雅黑";

// Each gradient runs from the bottom edge (stop 0) to the top edge (stop 1).
const char *const kSteps[] = {
    "background-color:red;",
    "background-color: qlineargradient(spread:pad, x1:0, y1:1, x2:0, y2:0, stop:0 rgba(255, 0, 0, 255), "
    "stop:1 rgba(0, 0, 0, 255)); border:none;color:#ffffff;font:40px;",
    "background-color: qlineargradient(spread:pad, x1:0, y1:1, x2:0, y2:0, stop:0 rgba(0, 0, 0, 255), "
    "stop:1 rgba(0, 0, 255, 255)); border:none;color:#ffffff;font:40px;",
    "background-color: qlineargradient(spread:pad, x1:0, y1:1, x2:0, y2:0, stop:0 rgba(0, 255, 0, 255), "
    "stop:1 rgba(0, 0, 0, 255)); border:none;color:#ffffff;font:40px;",
    "background-color: qlineargradient(spread:pad, x1:0, y1:1, x2:0, y2:0, stop:0 rgba(0, 255, 255, 255), "
    "stop:1 rgba(255, 0, 0, 255)); border:none;color:#ffffff;font:40px;",
};
constexpr int kStepCount = int(sizeof(kSteps) / sizeof(kSteps[0]));

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, int top)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(0, top, kWidth, kLabelHeight);
    label->setAlignment(Qt::AlignCenter);
    QFont font = label->font();
    font.setFamily(QString::fromUtf8(kLabelFamily));
    label->setFont(font);
    label->setStyleSheet(QLatin1String(kLabelStyle));
    return label;
}
} // namespace

FormLcdTest::FormLcdTest(QWidget *parent)
    : SubWindow(parent)
{
    setObjectName(QStringLiteral("FormLcdTest"));
    resize(kWidth, kHeight);
    setStyleSheet(QLatin1String(kBaseStyle));
    // A plain widget paints the sheet's background; the screen itself, a
    // subclass, would not.
    frameWidget = new QWidget(this);
    frameWidget->setObjectName(QStringLiteral("frameWidget"));
    frameWidget->setGeometry(0, 0, kWidth, kHeight);
    label_2 = makeLabel(frameWidget, "label_2", tr("点击"), kTouchTop);
    label = makeLabel(frameWidget, "label", tr("Click me!"), kClickTop);
    installEventFilter(this);
}

FormLcdTest::~FormLcdTest() = default;

int FormLcdTest::step() const
{
    return colourStep;
}

void FormLcdTest::onActive()
{
    colourStep = 0;
    applyStep();
}

bool FormLcdTest::eventFilter(QObject *watched, QEvent *event)
{
    // A quick second tap comes as a double click, not a press: one step per
    // press only.
    if (watched == this && event->type() == QEvent::MouseButtonPress)
        guardedCall("FormLcdTest::onClick", this, [this] { onClick(); });
    return SubWindow::eventFilter(watched, event);
}

void FormLcdTest::onClick()
{
    VexPlayer::playDong();
    colourStep = (colourStep + 1) % kStepCount;
    applyStep();
}

void FormLcdTest::applyStep()
{
    setStyleSheet(QLatin1String(kSteps[colourStep]));
}
