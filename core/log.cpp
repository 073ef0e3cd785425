#include "core/log.h"

#include "core/utc.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The PC link reads long details in five pieces of this many characters; the
// last piece takes the rest.
constexpr int kPieceChars = 150;
constexpr int kPieces = 5;
constexpr int kTimeVerify = 5;
constexpr int kDeleteRace = 11;

QString nonNull(const QString &text)
{
    return text.isNull() ? QString(QLatin1String("")) : text;
}

} // namespace

Log::Log()
    : logInfo(QLatin1String(""))
{
}

QString Log::getTypeString() const
{
    switch (logType) {
    case 1: return QStringLiteral("Pigeon Back");
    case 2: return QStringLiteral("Internet Upload");
    case 3: return QStringLiteral("SMS Upload");
    case 4: return QStringLiteral("Power on");
    case 5: return QStringLiteral("Time Verify");
    case 6: return QStringLiteral("Mark");
    case 9: return QStringLiteral("Unassignment");
    case 11: return QStringLiteral("Delete Race");
    case 13: return QStringLiteral("Modify Params");
    case 14: return QStringLiteral("SMS Notify");
    case 15: return QStringLiteral("Power off");
    case 16: return QStringLiteral("Mark Upload");
    case 17: return QStringLiteral("Close Upload");
    case 18: return QStringLiteral("Assignment");
    default: return QStringLiteral("Unknow");
    }
}

QVariant Log::getField(const QString &key) const
{
    if (key == QLatin1String("logId"))
        return logId;
    if (key == QLatin1String("logType"))
        return logType;
    if (key == QLatin1String("logTime"))
        return logTime;
    if (key == QLatin1String("logInfo"))
        return logInfo;
    if (key == QLatin1String("infoLen"))
        return int(logInfo.size());
    for (int piece = 0; piece < kPieces; ++piece) {
        if (key != QLatin1String("logInfo") + QString::number(piece))
            continue;
        const int length = piece == kPieces - 1 ? -1 : kPieceChars;
        return nonNull(logInfo.mid(piece * kPieceChars, length));
    }
    return QVariant();
}

void Log::setField(const QString &key, const QVariant &value)
{
    if (key == QLatin1String("logId"))
        logId = value.toLongLong();
    else if (key == QLatin1String("logType"))
        logType = value.toInt();
    else if (key == QLatin1String("logTime"))
        logTime = value.toLongLong();
    else if (key == QLatin1String("logInfo"))
        logInfo = value.toString();
}

QMap<QString, QVariant> Log::getFields(const QList<QString> &keys) const
{
    QMap<QString, QVariant> fields;
    for (const QString &key : keys)
        fields.insert(key, getField(key));
    return fields;
}

void Log::setFields(const QMap<QString, QVariant> &fields)
{
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it)
        setField(it.key(), it.value());
}

QString Log::toDisplayText() const
{
    QJsonObject details;
    if (!logInfo.isEmpty())
        details = QJsonDocument::fromJson(logInfo.toUtf8()).object();
    QString text = logInfo + QLatin1Char('\n');
    const QString fmt = QCoreApplication::translate("CommonResource", "dd/MM/yyyy hh:mm:ss");
    // toInteger, not toInt: real times do not fit in 32 bits.
    if (logType == kTimeVerify) {
        text += UTC::format(details.value(QLatin1String("oldTime")).toInteger(), fmt)
            + QStringLiteral(" --> ")
            + UTC::format(details.value(QLatin1String("newTime")).toInteger(), fmt);
    } else if (logType == kDeleteRace) {
        text += QStringLiteral("liberTime:")
            + UTC::format(details.value(QLatin1String("liberTime")).toInteger(), fmt);
    }
    return text;
}
