#pragma once

#include "print/reportprinter.h"
#include "storage/loftinfo.h"
#include "storage/raceinfo.h"

#include <QList>
#include <QSharedPointer>
#include <QString>

class PigeonRecord;

// The basketing list of a race: the loft and race head, one line for each
// marked pigeon with its marking time and order, the totals on the last
// page and the declaration on every page. Pigeons are looked up in storage
// by the records' association numbers. Printed in the GUI thread by the
// basketing screen.
class RaceMarkReport : public ReportPrinter
{
    Q_OBJECT
public:
    explicit RaceMarkReport(QObject *parent = nullptr);
    ~RaceMarkReport() override;

    void loadReport(const QString &clockNo, const LoftInfo &loft, const RaceInfo &race,
                    QList<QSharedPointer<PigeonRecord>> records);

protected:
    void printPageTopic() override;
    void printPageBottom() override;
    void printRecord() override;
    int getMaxRecordLines() override;
    int getRecordCount() override;
    void printReportTopic() override;
    void printReportBottom() override;
    virtual void printRecordsTopic();

private:
    QString clockNo;
    RaceInfo race;
    LoftInfo loft;
    QList<QSharedPointer<PigeonRecord>> records;
};
