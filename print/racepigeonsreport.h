#pragma once

#include "print/racelistreport.h"

// The list of a race after the arrivals ("Race in Progress" while the race
// runs, else "Race Finalization"): the loft and race head with the basketed
// and arrived counts, one line for each basketed pigeon (the arrived first)
// with arrival time, marking order and the check of its secret numbers, the
// totals on the last page and the declaration on every page. Printed in the
// GUI thread by the race detail screen.
class RacePigeonsReport : public RaceListReport
{
    Q_OBJECT
public:
    explicit RacePigeonsReport(QObject *parent = nullptr);
    ~RacePigeonsReport() override;

    void loadReport(const QString &clockNo, const LoftInfo &loft, const RaceInfo &race,
                    QList<QSharedPointer<PigeonRecord>> arrived, QList<QSharedPointer<PigeonRecord>> notArrived);

protected:
    void printPageTopic() override;
    void printRecord() override;
    void printReportTopic() override;
    void printReportBottom() override;
    void printRecordsTopic() override;

private:
    int basketedCount = 0;
    int arrivedCount = 0;
};
