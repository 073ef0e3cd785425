#include "ui/statusbar.h"

#include "club/morlanprotolprocess.h"
#include "core/locationinfo.h"
#include "core/servicefactory.h"
#include "core/utc.h"
#include "device/rfidservice.h"
#include "gsm/gsmservice.h"
#include "race/pigeonbo.h"

#include <QCoreApplication>

namespace {
const char kTopIcons[] = ":/image/topIcons/image/";
const char *const kTimePattern = QT_TRANSLATE_NOOP("CommonResource", "dd/MM/yyyy hh:mm:ss");
// The status bar's texts belong to the main window's form.
const char *const kGpsOnline = QT_TRANSLATE_NOOP("MainWindow", "GPS");
const char *const kGpsValid = QT_TRANSLATE_NOOP("MainWindow", "Gps");

QString iconStyle(const char *picture)
{
    return QStringLiteral("border:none;background:url(%1%2) no-repeat;")
        .arg(QLatin1String(kTopIcons), QLatin1String(picture));
}
}

StatusSnapshot StatusBar::gather(bool mainsPresent)
{
    StatusSnapshot s;
    s.loftTimeMs = UTC::now().value();
    ServiceFactory *factory = ServiceFactory::getInstance();
    if (GSMService *gsm = factory->gsmService) {
        const GsmState state = gsm->getGSMState();
        s.gsmFlags = state.flags;
        s.csq = state.csq;
        s.modemFailed = gsm->isFailed();
    }
    if (PigeonBo *bo = factory->pigeonBo) {
        s.loftTimeMs = bo->getLoftTime();
        LocationInfo fix;
        bo->getGpsInfo(&fix);
        s.gpsError = fix.isError();
        s.gpsOnline = fix.isOnline();
        s.gpsValid = fix.isValid();
    }
    s.mainsPresent = mainsPresent;
    s.channelMode = ServiceFactory::getParamInt32(QStringLiteral("channelMode"), 0);
    if (MorlanProtocolProcess *link = factory->protocolProcess)
        s.connectorReady = link->isConnectorReady();
    if (RFIDService *rfid = factory->rfidService)
        s.readerValid = rfid->isValid();
    return s;
}

QString StatusBar::gsmSignalPicture(int csq)
{
    // Only 0..31 measure a signal; 99 is "unknown" and anything else is
    // outside the modem's scale: all of those show no bars.
    if (csq >= 25 && csq <= 31)
        return QStringLiteral("gsmSignal5.png");
    if (csq >= 17 && csq <= 24)
        return QStringLiteral("gsmSignal4.png");
    if (csq >= 10 && csq <= 16)
        return QStringLiteral("gsmSignal3.png");
    if (csq >= 5 && csq <= 9)
        return QStringLiteral("gsmSignal2.png");
    if (csq >= 3 && csq <= 4)
        return QStringLiteral("gsmSignal1.png");
    return QStringLiteral("gsmSignal0.png");
}

StatusLook StatusBar::look(const StatusSnapshot &s)
{
    StatusLook l;
    if (!(s.gsmFlags & ModemReady) || s.modemFailed) {
        l.gsmStyle = iconStyle("GsmSignalError.png");
        l.gprsKept = true;
    } else {
        l.gsmStyle = iconStyle(gsmSignalPicture(s.csq).toLatin1().constData());
        if ((s.gsmFlags & SocketOpen) && (s.gsmFlags & DataContext))
            l.gprsStyle = QStringLiteral("background: url(:/image/topIcons/image/SocketOpen.png) no-repeat;");
        else if (s.gsmFlags & DataContext)
            l.gprsStyle = QStringLiteral("background: url(:/image/topIcons/image/GprsOpen.png) no-repeat;");
    }

    if (s.gpsError) {
        l.gpsStyle = iconStyle("gps_invalid.png");
    } else if (s.gpsOnline) {
        l.gpsText = QCoreApplication::translate("MainWindow", kGpsOnline);
        l.gpsStyle = iconStyle("gps_online.png");
    } else if (s.gpsValid) {
        l.gpsText = QCoreApplication::translate("MainWindow", kGpsValid);
        l.gpsStyle = iconStyle("gps_online.png");
    } else {
        l.gpsStyle = iconStyle("gps_offline.png");
    }

    l.timeText = timeText(s.loftTimeMs);

    const char *rf = "rf_invalid.png";
    if (s.channelMode != 0) {
        if (s.connectorReady)
            rf = "rf_online.png";
        else if (s.readerValid)
            rf = "rf_disable.png";
    } else if (s.readerValid) {
        rf = "rf_online.png";
    }
    l.rfStyle = QStringLiteral("border:none;background: url(%1%2) no-repeat;")
                    .arg(QLatin1String(kTopIcons), QLatin1String(rf));

    l.powerWarning = !s.mainsPresent;
    return l;
}

QString StatusBar::timeText(qint64 utcMs)
{
    return UTC::format(utcMs, QCoreApplication::translate("CommonResource", kTimePattern));
}

qint64 StatusBar::clubTimeMs()
{
    return UTC::clubTime().value();
}
