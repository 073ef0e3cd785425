#include "core/vexexception.h"

#include "core/servicefactory.h"

#include <QCoreApplication>

VexException::VexException(int code, const QString &message, const QString &desc)
    : errorCode(code)
    , errorMessage(message)
{
    const QString hex = QStringLiteral("%1").arg(static_cast<uint>(code), 4, 16, QLatin1Char('0')).toUpper();
    ServiceFactory::debug(QStringLiteral("Error:") + hex + QStringLiteral(",Message:") + message);
    // translate() works before the application object exists; an untranslated
    // message (a driver's text) comes back as it is.
    errorDesc = desc.isEmpty()
        ? QCoreApplication::translate("ExceptionResource", message.toUtf8().constData())
        : desc;
}

VexException::~VexException() = default;

int VexException::getErrorCode() const { return errorCode; }
int VexException::getErrorType() const { return errorCode & ~0xFF; }
QString VexException::getErrorMessage() const { return errorMessage; }
QString VexException::getErrorDesc() const { return errorDesc; }

DBException::DBException(int sqlError, const QString &message, const QString &desc)
    : VexException((sqlError & 0xFF) + 0x11000000, message, desc)
{
}
