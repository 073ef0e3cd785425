#include "benchrow.h"

#include <cstdio>

namespace {
// The tag the runner looks for; the fields follow, separated by tabs.
const char kRowTag[] = "@row";

QString field(QString text)
{
    return text.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
}
} // namespace

void BenchRow::print() const
{
    const QString ratioText = ratio < 0 ? QStringLiteral("-") : QString::number(ratio, 'f', ratio < 10 ? 2 : 1);
    const char *verdict = met == Met::Yes ? "yes" : met == Met::No ? "NO" : "-";
    std::printf("%s\t%s\t%s\t%s\t%s\t%s\t%s\n", kRowTag, qPrintable(field(figure)), qPrintable(field(value)),
                qPrintable(field(reference.isEmpty() ? QStringLiteral("-") : reference)), qPrintable(ratioText),
                qPrintable(field(target.isEmpty() ? QStringLiteral("-") : target)), verdict);
    std::fflush(stdout);
}

QString BenchRow::ms(double value)
{
    return QString::number(value, 'f', value < 10 ? 2 : value < 100 ? 1 : 0) + QStringLiteral(" ms");
}

QString BenchRow::mb(double kib)
{
    return QString::number(kib / 1024.0, 'f', 1) + QStringLiteral(" MB");
}

QString BenchRow::percent(double value)
{
    return QString::number(value, 'f', value < 1 ? 3 : 2) + QStringLiteral(" %");
}
