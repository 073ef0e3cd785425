#pragma once

#include <QString>

// The one exception type of the system: an int code whose high part names the
// family, the English message and the description shown to the user. Thrown by
// value, caught by reference, in whichever thread fails.
class VexException
{
public:
    VexException(int code, const QString &message, const QString &desc);
    virtual ~VexException();
    VexException(const VexException &) = default;
    VexException &operator=(const VexException &) = default;

    virtual int getErrorCode() const;
    virtual int getErrorType() const;
    virtual QString getErrorMessage() const;
    virtual QString getErrorDesc() const;

private:
    int errorCode = 0;
    QString errorMessage;
    QString errorDesc;
};

// A database failure: 0x11000000 plus the low 8 bits of the SQL error number.
class DBException : public VexException
{
public:
    DBException(int sqlError, const QString &message, const QString &desc);
};

// A modem failure; upload paths catch it before VexException.
class GsmException : public VexException
{
public:
    using VexException::VexException;
};
