#pragma once

#include "print/racelistreport.h"

// The basketing list of a race: the loft and race head, one line for each
// marked pigeon with its marking time and order, the totals on the last
// page and the declaration on every page. Pigeons are looked up in storage
// by the records' association numbers. Printed in the GUI thread by the
// basketing screen.
class RaceMarkReport : public RaceListReport
{
    Q_OBJECT
public:
    explicit RaceMarkReport(QObject *parent = nullptr);
    ~RaceMarkReport() override;

    void loadReport(const QString &clockNo, const LoftInfo &loft, const RaceInfo &race,
                    QList<QSharedPointer<PigeonRecord>> records);

protected:
    void printPageTopic() override;
    void printRecord() override;
    void printReportTopic() override;
    void printReportBottom() override;
    void printRecordsTopic() override;
};
