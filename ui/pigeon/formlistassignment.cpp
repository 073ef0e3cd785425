#include "ui/pigeon/formlistassignment.h"

#include "club/morlanprotolprocess.h"
#include "core/servicefactory.h"
#include "race/pigeonbo.h"
#include "ui/guardedcall.h"

#include "ui_formlistassignment.h"

FormListAssignment::FormListAssignment(QWidget *parent)
    : RingAssignmentScreen(parent)
    , ui(std::make_unique<Ui::FormListAssignment>())
{
    ui->setupUi(this);
    useWidgets({ui->labAssocNum, ui->labEringNum, ui->labTipInfo, ui->btnAssign, ui->btnRestart});
}

FormListAssignment::~FormListAssignment()
{
    disconnect(tagConnection);
}

void FormListAssignment::startScanTag()
{
    showScanning();
    // The club reader's answer (readTagEnd) is not taken here; the request
    // only wakes a connector reader where one is in use.
    if (MorlanProtocolProcess *link = ServiceFactory::getInstance()->protocolProcess)
        link->startReadTag();
    else
        ServiceFactory::debug(QStringLiteral("FormListAssignment::startScanTag no club link"));
    PigeonBo *bo = ServiceFactory::getInstance()->pigeonBo;
    if (!bo) {
        ServiceFactory::debug(QStringLiteral("FormListAssignment::startScanTag no race engine"));
        return;
    }
    // One connection at most, however often scanning starts.
    disconnect(tagConnection);
    tagConnection = connect(bo, &PigeonBo::tagScaned, this, &FormListAssignment::onListTagScaned);
    scanning = true;
}

void FormListAssignment::stopScanTag()
{
    ui->btnRestart->setEnabled(true);
    disconnect(tagConnection);
    tagConnection = {};
    scanning = false;
}

void FormListAssignment::onListTagScaned(LFTAG_INFO lfTag)
{
    guardedCallWithErrorPrompt("FormListAssignment::onListTagScaned", this, [&] { takeReading(lfTag); });
}

void FormListAssignment::takeReading(const LFTAG_INFO &lfTag)
{
    if (!scanning || lfTag.stored != 0)
        return;
    if (lfTag.eRing.isEmpty()) {
        dropHeldRing();
        return;
    }
    // The race engine drops any other ring, so a pigeon given one could
    // never arrive.
    if (!PigeonBo::isRingNumber(lfTag.eRing))
        return;
    if (takeRing(lfTag.eRing, lfTag.uid))
        stopScanTag();
}
