#include "ui/settings/formringtest.h"

#include "core/servicefactory.h"
#include "device/VexPlayer.h"
#include "race/pigeonbo.h"
#include "storage/storage.h"
#include "ui/guardedcall.h"

#include "ui_formringtest.h"

namespace {
constexpr int kShowReadingMs = 1000;
}

FormRingTest::FormRingTest(QWidget *parent)
    : SubWindow(parent)
    , ui(std::make_unique<Ui::FormRingTest>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
}

FormRingTest::~FormRingTest() = default;

void FormRingTest::showWaiting()
{
    ui->labelRingNum->setText(tr("--------"));
    ui->labAssocNum->setText(tr("--------"));
    ui->labelWarning->setText(tr("Waiting for ring..."));
}

void FormRingTest::onActive()
{
    showWaiting();
    QObject::disconnect(readings);
    // Without a race engine (services late at start) nothing is read.
    if (PigeonBo *engine = ServiceFactory::getInstance()->pigeonBo)
        readings = connect(engine, &PigeonBo::tagScaned, this, &FormRingTest::onTagScaned);
}

void FormRingTest::onDeactive(_DeactiveMode)
{
    QObject::disconnect(readings);
}

void FormRingTest::onTimeTick(int elapsedMs)
{
    if (revertMs <= 0)
        return;
    revertMs -= elapsedMs;
    if (revertMs < 1)
        showWaiting();
}

void FormRingTest::onTagScaned(LFTAG_INFO tag)
{
    // A reading queued just before the screen was left still arrives; it
    // must not sound over another screen. A replayed record is no live ring.
    if (!isActive() || tag.stored != 0)
        return;
    guardedCall("FormRingTest::onTagScaned", this, [this, &tag] { showReading(tag); });
}

void FormRingTest::showReading(const LFTAG_INFO &tag)
{
    VexPlayer::playPigeonTest();
    ui->labelRingNum->setText(tag.eRing);
    // A uid-only reading has no ring: looking it up would find a pigeon
    // without a ring.
    const QString assocNum =
        tag.eRing.isEmpty() ? QString() : Storage::instance()->findPigeonIdByEringNum(tag.eRing);
    ui->labAssocNum->setText(assocNum.isEmpty() ? tr("--------") : assocNum);
    ui->labelWarning->setText(tr("Check successfully!"));
    revertMs = kShowReadingMs;
}
