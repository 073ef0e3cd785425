#include "ui/screenkit.h"

#include "core/utc.h"

#include <QComboBox>
#include <QCoreApplication>

#include <algorithm>

namespace ScreenKit {

QStringList yearItems(int currentYear)
{
    const int last = std::max(kLastYearAtLeast, currentYear + kYearsAhead);
    QStringList items;
    items.reserve(last - kFirstYear + 1);
    for (int year = kFirstYear; year <= last; ++year)
        items << QString::number(year);
    return items;
}

QStringList yearItems()
{
    const int year = UTC::format(UTC::clubTime().value(), QStringLiteral("yyyy")).toInt();
    return yearItems(year);
}

void fillYears(QComboBox *box)
{
    box->clear();
    box->addItems(yearItems());
}

QString sexText(int sex)
{
    switch (sex) {
    case 0:
        return QCoreApplication::translate("CommonResource", "Hen");
    case 1:
        return QCoreApplication::translate("CommonResource", "Cock");
    default:
        return QCoreApplication::translate("CommonResource", "Unknown");
    }
}

} // namespace ScreenKit
