#include "gsm/gps.h"

#include "core/servicefactory.h"
#include "core/utc.h"
#include "gsm/nmearmc.h"

#include <QCoreApplication>
#include <QSerialPort>

namespace {
constexpr qint32 kBaudRate = 9600;
}

GpsModule::GpsModule(const QString &portName)
    : port(std::make_unique<QSerialPort>())
{
    port->setPortName(portName);
    port->setBaudRate(kBaudRate);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
}

GpsModule::~GpsModule()
{
    if (port->isOpen())
        port->close();
}

bool GpsModule::openPort()
{
    if (port->open(QIODevice::ReadOnly))
        return true;
    ServiceFactory::debug(QStringLiteral("GpsModule::openPort ") + port->errorString());
    return false;
}

QString GpsModule::readGpsString()
{
    if (!port->isOpen())
        return QString();
    // Without an event loop Qt only pulls bytes in when asked to.
    if (port->bytesAvailable() == 0)
        port->waitForReadyRead(0);
    qint64 available = port->bytesAvailable();
    while (available-- > 0) {
        char c = 0;
        if (!port->getChar(&c))
            break;
        lineBuffer[lineLength] = c;
        if (c == '\r' || c == '\n') {
            if (lineLength == 0)
                continue;
            if (lineBuffer[0] == '$') {
                const QString sentence = QString::fromLatin1(lineBuffer, lineLength);
                lineLength = 0;
                return sentence;
            }
            logNoise();
            lineLength = 0;
        } else if (c == '$' && lineLength > 0) {
            logNoise();
            lineBuffer[0] = '$';
            lineLength = 1;
        } else if (++lineLength >= kLineBufferBytes) {
            ServiceFactory::debug(QStringLiteral("Gps Buffer Overflow!"));
            lineLength = 0;
        }
    }
    return QString();
}

void GpsModule::logNoise()
{
    const QString pattern = QCoreApplication::translate("CommonResource", "dd/MM/yyyy hh:mm:ss");
    const QString when = UTC::format(UTC::now().value(), pattern);
    ServiceFactory::debug(when + QStringLiteral(" Gps Error:") + QString::fromLatin1(lineBuffer, lineLength));
}

bool GpsModule::parse(GpsInfo *info)
{
    const QString sentence = readGpsString();
    if (sentence.isEmpty())
        return false;
    return parseGpsString(sentence, info);
}

bool GpsModule::parseGpsString(const QString &sentence, GpsInfo *info)
{
    NmeaRmc rmc;
    if (!NmeaRmc::parse(sentence, &rmc))
        return false;
    info->lon = rmc.lon;
    info->lat = rmc.lat;
    info->fixState = rmc.fixValid ? 3 : 0;
    info->time = rmc.timeMs;
    return true;
}

int GpsModule::formatToInt(double value)
{
    // Minutes keep four decimals; further decimals are cut off, as the
    // receivers' own conversion does.
    const qint64 i = static_cast<qint64>(value * 10000);
    const qint64 degrees = i / 1000000;
    const qint64 rest = i % 1000000;
    return static_cast<int>(degrees * 3600000 + (rest / 10000) * 60000 + (rest % 10000) * 6);
}
