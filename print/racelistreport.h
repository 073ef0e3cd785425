#pragma once

#include "print/reportprinter.h"
#include "storage/loftinfo.h"
#include "storage/raceinfo.h"

#include <QList>
#include <QSharedPointer>
#include <QString>

class PigeonRecord;

// What the two lists of a race (the basketing list and the list after the
// arrivals) print alike: the boxed title over the loft and race head, one
// line a record that starts with the record's number and its pigeon, as
// many records a page as leave room for the totals and the declaration, and
// the declaration at the foot of every page. The lists add their title,
// columns, the rest of a record line and the totals.
class RaceListReport : public ReportPrinter
{
    Q_OBJECT
public:
    ~RaceListReport() override;

protected:
    explicit RaceListReport(QObject *parent = nullptr);

    void printPageBottom() override;
    int getMaxRecordLines() override;
    int getRecordCount() override;
    // The column header of the list.
    virtual void printRecordsTopic() = 0;

    void loadRace(const QString &clockNo, const LoftInfo &loft, const RaceInfo &race,
                  QList<QSharedPointer<PigeonRecord>> records);
    const RaceInfo &raceInfo() const { return race; }
    const QList<QSharedPointer<PigeonRecord>> &raceRecords() const { return records; }

    // The boxed title, the report topic and the column header.
    void printListTopic(const QString &title);
    // The loft lines with the time printed, an empty line and the marking times.
    void printLoftAndMarkTimes();
    // Starts the line of the record at the record index: its number and its
    // pigeon's columns, then the separator. Null, with nothing printed, when
    // the pigeon was deleted since basketing (its number stays unused).
    QSharedPointer<PigeonRecord> beginRecordLine(int birdChars, int colorChars);

private:
    QString clockNo;
    RaceInfo race;
    LoftInfo loft;
    QList<QSharedPointer<PigeonRecord>> records;
};
