#pragma once

#include <QString>

// One line of the table that scripts/bench.sh prints: a benchmark writes each
// of its headline figures as one tagged line among its own report, and the
// runner gathers the lines of every benchmark into one table.
struct BenchRow
{
    enum class Met { NoTarget, Yes, No };

    QString figure;
    QString value;
    QString reference;   // what the value is compared with, measured in the same run
    double ratio = -1.0; // value / reference; negative when there is none
    QString target;
    Met met = Met::NoTarget;

    void print() const;

    static Met meets(bool met) { return met ? Met::Yes : Met::No; }
    static QString ms(double value);
    static QString mb(double kib);
    static QString percent(double value);
};
