#pragma once

#include "print/reportprinter.h"
#include "storage/loftinfo.h"

#include <QList>
#include <QSharedPointer>
#include <QString>

class PigeonInfo;

// The loft's ring-assignment list: every pigeon with an electronic ring, two
// to a line (number, association number, colour, ring), and the totals of
// birds, hens, cocks and yearlings on the last page. Printed in the GUI
// thread by the ring-assignment list screen.
class PigeonsAssignmentReport : public ReportPrinter
{
    Q_OBJECT
public:
    explicit PigeonsAssignmentReport(QObject *parent = nullptr);
    ~PigeonsAssignmentReport() override;

    void loadReport(QString clockNo, const LoftInfo &loft, QList<QSharedPointer<PigeonInfo>> pigeons);

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
    LoftInfo loft;
    QList<QSharedPointer<PigeonInfo>> pigeons;
};
