#include "core/servicefactory.h"
#include "core/vexexception.h"
#include "print/pigeonsassignmentreport.h"
#include "print/racemarkreport.h"
#include "print/racepigeonsreport.h"
#include "print/reportlayout.h"
#include "storage/pigeoninfo.h"
#include "storage/pigeonrecord.h"
#include "storage/storage.h"

#include "clubportpeer.h"
#include "reportfixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

#include <memory>

namespace {

constexpr quint8 kPrintCommand = 0x50;
constexpr int kMaxFrameData = 250;
constexpr int kSyncCallWaitMs = 10000; // what a synchronous call to the link waits at most
const QString kLineEnd = QStringLiteral("\r\n");
const QString kFormFeed = QStringLiteral("\f");

// A report of plain lines, so that a page costs little more than its lines:
// a three-line topic, one line a record, a total and one closing line.
class LineReport : public ReportPrinter
{
public:
    int records = 0;

    static constexpr int kTopicLines = 3;
    static constexpr int kReserved = 2;

protected:
    void printPageTopic() override
    {
        doPrintLine(QStringLiteral("TOPIC"));
        notifyState(IPrinterNotify::PrintReportTopicBegin);
        printReportTopic();
        notifyState(IPrinterNotify::PrintReportTopicEnd);
        doPrintLine(QStringLiteral("HEADER"));
    }
    void printReportTopic() override { doPrintLine(QStringLiteral("REPORT TOPIC")); }
    void printRecord() override { doPrintLine(QStringLiteral("record %1").arg(getRecordIndex() + 1)); }
    int getMaxRecordLines() override { return getMaxPageLines() - getLineCount() - kReserved; }
    int getRecordCount() override { return records; }
    void printPageBottom() override
    {
        printTotalsAndFill(1);
        doPrintLine(QStringLiteral("CLOSING"));
    }
    void printReportBottom() override { doPrintLine(QStringLiteral("TOTAL %1").arg(records)); }
};

// The pages a LineReport must give: records numbered from 1, pageLines each.
QList<QStringList> linePages(int records, int pageLines)
{
    const int perPage = pageLines - LineReport::kTopicLines - LineReport::kReserved;
    QList<QStringList> pages;
    int next = 1;
    do {
        QStringList page{QStringLiteral("TOPIC"), QStringLiteral("REPORT TOPIC"), QStringLiteral("HEADER")};
        for (int i = 0; i < perPage && next <= records; ++i)
            page << QStringLiteral("record %1").arg(next++);
        if (next > records)
            page << QStringLiteral("TOTAL %1").arg(records);
        while (page.size() < pageLines - 1)
            page << QString();
        page << QStringLiteral("CLOSING");
        pages << page;
    } while (next <= records);
    return pages;
}

QSharedPointer<PigeonInfo> pigeon(const QString &assocNum, const QString &color, const QString &ring, int sex = 0,
                                  int year = 2020)
{
    auto p = QSharedPointer<PigeonInfo>::create();
    p->assocNum = assocNum;
    p->color = color;
    p->eringNum = ring;
    p->sex = sex;
    p->year = year;
    return p;
}

LoftInfo loft()
{
    return ReportFixture::loft();
}

QList<QSharedPointer<PigeonInfo>> threeBirds()
{
    return {pigeon(QStringLiteral("BE-2024-1000001"), QStringLiteral("Blue"), QStringLiteral("0A1B2C3D")),
            pigeon(QStringLiteral("BE-2024-1000002"), QStringLiteral("Red"), QStringLiteral("0A1B2C3E"), 1),
            pigeon(QStringLiteral("BE-2024-1000003"), QStringLiteral("Mealy"), QStringLiteral("0A1B2C3F"))};
}

QString field(const QString &text, int width)
{
    return ReportFixture::field(text, width);
}

struct Failure
{
    int code = 0;
    QString message;
};

Failure printFailing(ReportPrinter &report)
{
    try {
        report.printAll();
    } catch (const VexException &e) {
        return Failure{e.getErrorCode(), e.getErrorMessage()};
    }
    return Failure{};
}

} // namespace

// The page engine against the club router peer: pieces and line ends, the
// page loop and its states, the pause and page-size settings, failures of
// the link, long pieces, translation and the shutdown guard's flag.
class TestReportPrinter : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void pageLoop_data();
    void pageLoop();
    void states_orderAndRecordIndex();
    void linePause_data();
    void linePause();
    void settings_readAtEveryUse();
    void pieces_fieldsAndLineEnds();
    void secondPrintAll_samePagesAgain();
    void linkFails_data();
    void linkFails();
    void longPiece_wholeOverSeveralFrames();
    void noLink_failsAtOnce();
    void timeZoneText_data();
    void timeZoneText();
    void translation_catalogueAndWithout();
    void translatableTexts_listedForTranslators();

private:
    QList<QStringList> pages();

    std::unique_ptr<ReportFixture> fixture;
};

void TestReportPrinter::init()
{
    fixture = std::make_unique<ReportFixture>();
    QVERIFY(fixture->startClub());
}

void TestReportPrinter::cleanup()
{
    fixture.reset();
}

QList<QStringList> TestReportPrinter::pages()
{
    QString problem;
    const QList<QStringList> out = ReportFixture::pagesOf(fixture->printedText(), &problem);
    if (!problem.isEmpty())
        qWarning("%s", qPrintable(problem));
    return out;
}

void TestReportPrinter::pageLoop_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<QString>("pageSize"); // empty: not set
    QTest::addColumn<int>("pageLines");
    QTest::addColumn<int>("pageCount");
    QTest::newRow("no records: one whole page") << 0 << QString() << 62 << 1;
    QTest::newRow("records fill the page exactly: no empty page after") << 57 << QString() << 62 << 1;
    QTest::newRow("one more: a second page") << 58 << QString("0") << 62 << 2;
    QTest::newRow("letter size, exactly full") << 53 << QString("1") << 58 << 1;
    QTest::newRow("letter size, one more") << 54 << QString("1") << 58 << 2;
    QTest::newRow("size not a number counts as 0") << 1 << QString("A4") << 62 << 1;
}

void TestReportPrinter::pageLoop()
{
    QFETCH(int, records);
    QFETCH(QString, pageSize);
    QFETCH(int, pageLines);
    QFETCH(int, pageCount);
    if (!pageSize.isNull())
        Storage::instance()->setParam(QStringLiteral("cmbPrintPageSize"), pageSize);
    LineReport report;
    report.records = records;
    report.printAll();
    const QList<QStringList> printed = pages();
    QCOMPARE(printed.size(), pageCount);
    QCOMPARE(printed, linePages(records, pageLines));
    // The form feed goes alone: no line end follows it, none is sent with it.
    QCOMPARE(fixture->pieces().count(kFormFeed), pageCount);
    QVERIFY(!fixture->printedText().contains(QStringLiteral("\f\r")));
    // Only lines pause; the form feed does not.
    QCOMPARE(fixture->pauses.size(), pageCount * pageLines);
}

void TestReportPrinter::states_orderAndRecordIndex()
{
    StateRecorder recorder(fixture.get());
    LineReport report;
    report.records = 58;
    report.bindNotify(&recorder);
    report.printAll();
    QCOMPARE(pages(), linePages(58, 62));

    // Per page: topic with 2 and 3 around the report topic, the page phases,
    // one 1 per line after it is sent, the totals between 10 and 11 on the
    // last page only, 9 after the form feed.
    const auto topic = QList<int>{4, 1, 2, 1, 3, 1, 5, 6};
    QList<int> expected = topic + QList<int>(57, 1) + QList<int>{7, 8} + QList<int>{1, 1, 9};
    expected += topic + QList<int>{1, 7, 8, 10, 1, 11} + QList<int>(57, 1) + QList<int>{9};
    QCOMPARE(recorder.states(), expected);

    // At each line, recordIndex counts the records already handled: the
    // record line k shows k - 1, and everything after the last record 58.
    const QStringList sent = fixture->pieces();
    int lines = 0;
    for (const StateRecorder::Entry &entry : recorder.entries) {
        if (entry.state != IPrinterNotify::PrintLine)
            continue;
        ++lines;
        const QString line = sent.at(entry.piecesSoFar - 1);
        int handled = entry.recordIndex;
        if (line.startsWith(QStringLiteral("record "))) {
            QCOMPARE(handled, line.mid(7).chopped(2).toInt() - 1);
        } else {
            const int recordsSent = int(sent.mid(0, entry.piecesSoFar).filter(QStringLiteral("record ")).size());
            QCOMPARE(handled, recordsSent);
        }
        QVERIFY(entry.lineCount >= 1 && entry.lineCount <= 62);
    }
    QCOMPARE(lines, 2 * 62);
    // Nothing is reported without a listener.
    report.bindNotify(nullptr);
    report.printAll();
    QCOMPARE(recorder.entries.size(), expected.size());
}

void TestReportPrinter::linePause_data()
{
    QTest::addColumn<QString>("speed"); // null: not set
    QTest::addColumn<int>("lineMs");
    QTest::addColumn<int>("emptyMs");
    QTest::newRow("unset") << QString() << 75 << 17;
    QTest::newRow("fast") << QString("0") << 50 << 10;
    QTest::newRow("medium") << QString("1") << 75 << 17;
    QTest::newRow("slow") << QString("2") << 100 << 25;
    QTest::newRow("not a number counts as fast") << QString("abc") << 50 << 10;
}

void TestReportPrinter::linePause()
{
    QFETCH(QString, speed);
    QFETCH(int, lineMs);
    QFETCH(int, emptyMs);
    if (!speed.isNull())
        Storage::instance()->setParam(QStringLiteral("cmbPrintSpeed"), speed);
    StateRecorder recorder(fixture.get());
    // Each pause comes after the listener heard the line.
    recorder.hook = [this, &recorder](ReportPrinter *, int state) {
        if (state == IPrinterNotify::PrintLine)
            QCOMPARE(fixture->pauses.size(), int(recorder.states().count(IPrinterNotify::PrintLine)) - 1);
    };
    LineReport report;
    report.bindNotify(&recorder);
    report.printAll();
    QList<int> expected;
    const QStringList page = linePages(0, 62).first();
    for (const QString &line : page)
        expected << (line.isEmpty() ? emptyMs : lineMs);
    QCOMPARE(fixture->pauses, expected);
}

void TestReportPrinter::settings_readAtEveryUse()
{
    StateRecorder recorder(fixture.get());
    // Changed after the page topic: the rest of the page follows the new
    // values (slow, letter size).
    recorder.hook = [](ReportPrinter *, int state) {
        if (state == IPrinterNotify::PrintPageTopicEnd) {
            ServiceFactory::setParamInt32(QStringLiteral("cmbPrintSpeed"), 2);
            ServiceFactory::setParamInt32(QStringLiteral("cmbPrintPageSize"), 1);
        }
    };
    LineReport report;
    report.records = 60;
    report.bindNotify(&recorder);
    report.printAll();
    const QList<QStringList> printed = pages();
    QCOMPARE(printed.size(), 2);
    QCOMPARE(printed[0].size(), 58);
    QCOMPARE(printed[0].at(3 + 52), QStringLiteral("record 53"));
    QCOMPARE(fixture->pauses.mid(0, 4), (QList<int>{75, 75, 75, 100}));
}

void TestReportPrinter::pieces_fieldsAndLineEnds()
{
    PigeonsAssignmentReport report;
    report.loadReport(QStringLiteral("C0FFEE01"), loft(), threeBirds().mid(0, 2));
    report.printAll();
    const QStringList sent = fixture->pieces();
    // A full line of two birds: each field and separator its own command,
    // 16 in all, and only the line end carries CR LF.
    const QStringList line{QStringLiteral("1  "), "|", field("BE-2024-1000001", 19), "|", "Blue ", "|",
                           "0A1B2C3D", "|", "2  ", "|", field("BE-2024-1000002", 19), "|", "Red  ", "|",
                           "0A1B2C3E", kLineEnd};
    const int at = int(sent.indexOf(QStringLiteral("1  ")));
    QVERIFY(at > 0);
    QCOMPARE(sent.mid(at, 16), line);
    for (const QString &piece : sent) {
        if (piece == kFormFeed)
            continue;
        const int ends = int(piece.count(kLineEnd));
        QVERIFY2(ends == 0 || (ends == 1 && piece.endsWith(kLineEnd)), qPrintable(piece));
        QVERIFY2(!piece.chopped(ends * 2).contains(QLatin1Char('\r')) && !piece.chopped(ends * 2).contains('\n'),
                 qPrintable(piece));
        QVERIFY(!piece.contains(QLatin1Char('\f')));
    }
    QCOMPARE(sent.count(kFormFeed), 1);
    QCOMPARE(sent.last(), kFormFeed);
}

void TestReportPrinter::secondPrintAll_samePagesAgain()
{
    Storage *storage = Storage::instance();
    QList<QSharedPointer<PigeonRecord>> arrived;
    const auto birds = threeBirds();
    for (int i = 0; i < birds.size(); ++i) {
        storage->savePigeon(birds[i].data());
        auto record = QSharedPointer<PigeonRecord>::create();
        record->assocNum = birds[i]->assocNum;
        record->markOrder = i + 1;
        record->backTimeEring = ReportFixture::kDeviceMs - 1000 * i;
        arrived << record;
    }
    RaceInfo race;
    race.valid = 4;
    RacePigeonsReport report;
    report.loadReport(QStringLiteral("C0FFEE01"), loft(), race, arrived, {});
    StateRecorder recorder(fixture.get());
    report.bindNotify(&recorder);
    report.printAll();
    const QString first = fixture->printedText();
    const int firstStates = int(recorder.entries.size());
    report.printAll();
    QCOMPARE(fixture->printedText(), first + first);
    // The second run starts again at record 0 and reports the same states.
    QCOMPARE(recorder.entries.at(firstStates).recordIndex, 0);
    QCOMPARE(recorder.states().mid(firstStates), recorder.states().mid(0, firstStates));
    const QList<QStringList> printed = pages();
    QCOMPARE(printed.size(), 2);
    QCOMPARE(printed[1], printed[0]);
    QVERIFY(printed[0].at(21).startsWith(QStringLiteral("1  |BE-2024-1000001")));
}

void TestReportPrinter::linkFails_data()
{
    QTest::addColumn<int>("fromPiece");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    using Fault = ClubPortPeer::Fault;
    // 0: the form feed, the page's last command.
    QTest::newRow("refused in the loft block") << 4 << int(Fault::Refuse) << 0x500 << "Print failed!error=7";
    QTest::newRow("refused inside a bird line") << 20 << int(Fault::Refuse) << 0x500 << "Print failed!error=7";
    QTest::newRow("refused at a line end") << 29 << int(Fault::Refuse) << 0x500 << "Print failed!error=7";
    QTest::newRow("refused at the form feed") << 0 << int(Fault::Refuse) << 0x500 << "Print failed!error=7";
    QTest::newRow("silent printer") << 35 << int(Fault::Silence) << 0x506 << "Morlan no response!";
}

void TestReportPrinter::linkFails()
{
    QFETCH(int, fromPiece);
    QFETCH(int, kind);
    QFETCH(int, code);
    QFETCH(QString, message);
    StateRecorder recorder(fixture.get());
    PigeonsAssignmentReport report;
    report.loadReport(QStringLiteral("C0FFEE01"), loft(), threeBirds());
    report.bindNotify(&recorder);
    report.printAll();
    const QStringList reference = fixture->pieces();
    const QList<StateRecorder::Entry> referenceStates = recorder.entries;
    if (fromPiece == 0)
        fromPiece = int(reference.size());
    QVERIFY(reference.size() >= fromPiece);
    if (QByteArray(QTest::currentDataTag()).contains("line end"))
        QVERIFY(reference.at(fromPiece - 1).endsWith(kLineEnd));

    fixture->clearPrinted();
    recorder.entries.clear();
    // Both printer addresses fail from that command on.
    fixture->peer().setCommandFault(kPrintCommand, ClubPortPeer::Fault{ClubPortPeer::Fault::Kind(kind), 7, {}},
                                    fromPiece);
    recorder.hook = [](ReportPrinter *, int) { QVERIFY(ReportPrinter::isPrinting()); };
    // It fails and stops there (how long a silent printer takes to fail is
    // a figure of the benchmarks).
    const Failure failure = printFailing(report);
    QCOMPARE(failure.code, code);
    QCOMPARE(failure.message, message);
    QVERIFY(!ReportPrinter::isPrinting());
    // What was sent stays: the text ends at the piece before; no form feed,
    // and no state after the failure.
    QCOMPARE(fixture->pieces(), reference.mid(0, fromPiece - 1));
    QList<int> statesBefore;
    for (const StateRecorder::Entry &entry : referenceStates) {
        if (entry.piecesSoFar <= fromPiece - 1)
            statesBefore << entry.state;
    }
    QCOMPARE(recorder.states(), statesBefore);

    // The printer works again: the next print starts a fresh page at record 1.
    fixture->peer().clearFaults();
    fixture->clearPrinted();
    recorder.entries.clear();
    report.printAll();
    QCOMPARE(fixture->pieces(), reference);
    QCOMPARE(recorder.entries.size(), referenceStates.size());
}

void TestReportPrinter::longPiece_wholeOverSeveralFrames()
{
    LoftInfo info = loft();
    info.street.clear();
    for (int i = 0; i < 300; ++i)
        info.street += QChar(u'a' + i % 26);
    PigeonsAssignmentReport report;
    report.loadReport(QStringLiteral("C0FFEE01"), info, {});
    StateRecorder recorder(fixture.get());
    report.bindNotify(&recorder);
    report.printAll();
    const QList<QStringList> printed = pages();
    QCOMPARE(printed.size(), 1);
    QCOMPARE(printed[0].size(), 62);
    QCOMPARE(printed[0].at(4), QStringLiteral("ADDRESS: ") + info.street + QStringLiteral(" - Oostende - 8400"));
    // Two commands carry the line, each a well-formed frame of at most 250
    // bytes; the line still counts once, with one state and one pause.
    const QStringList sent = fixture->pieces();
    const int at = int(sent.indexOf(QRegularExpression(QStringLiteral("ADDRESS: .*"))));
    QVERIFY(at >= 0);
    QCOMPARE(sent.at(at).size(), kMaxFrameData);
    QVERIFY(sent.at(at + 1).endsWith(kLineEnd));
    for (const ClubPortPeer::Frame &frame : fixture->peer().framesOf(kPrintCommand)) {
        QVERIFY(frame.sumOk);
        QVERIFY(frame.data.size() <= kMaxFrameData);
    }
    QCOMPARE(int(recorder.states().count(IPrinterNotify::PrintLine)), 62);
    QCOMPARE(fixture->pauses.size(), 62);
}

void TestReportPrinter::noLink_failsAtOnce()
{
    ServiceFactory::getInstance()->protocolProcess = nullptr;
    LineReport report;
    QElapsedTimer timer;
    timer.start();
    const Failure failure = printFailing(report);
    // Without a link there is nothing to wait for: it fails well before the
    // 10 s a synchronous call waits (how soon is a figure of the benchmarks).
    QVERIFY2(timer.elapsed() < kSyncCallWaitMs / 2, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(failure.code, 0x1201);
    QCOMPARE(failure.message, QStringLiteral("Semaphore timeout!"));
    QVERIFY(!ReportPrinter::isPrinting());
    ServiceFactory::getInstance()->protocolProcess = &fixture->link();
}

void TestReportPrinter::timeZoneText_data()
{
    QTest::addColumn<int>("zoneSeconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("east") << 28800 << "TIME ZONE:      UTC+08:00";
    QTest::newRow("west, half hour") << -16200 << "TIME ZONE:      UTC-04:30";
    QTest::newRow("UTC") << 0 << "TIME ZONE:      UTC+00:00";
    QTest::newRow("west, odd seconds truncated toward zero") << -16230 << "TIME ZONE:      UTC-04:30";
    QTest::newRow("east, odd seconds") << 19830 << "TIME ZONE:      UTC+05:30";
    QTest::newRow("less than a minute west") << -59 << "TIME ZONE:      UTC+00:00";
    QTest::newRow("a minute west") << -60 << "TIME ZONE:      UTC-00:01";
    QTest::newRow("fourteen hours east") << 50400 << "TIME ZONE:      UTC+14:00";
}

void TestReportPrinter::timeZoneText()
{
    QFETCH(int, zoneSeconds);
    QFETCH(QString, text);
    QCOMPARE(ReportLayout::timeZoneText(zoneSeconds), text);
}

void TestReportPrinter::translation_catalogueAndWithout()
{
    RaceInfo race;
    race.markReaderTime = ReportFixture::kDeviceMs - 3600000;
    RaceMarkReport report;
    report.loadReport(QStringLiteral("C0FFEE01"), loft(), race, {});
    {
        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral(":/i18n/report_test.qm")));
        QVERIFY(QCoreApplication::installTranslator(&translator));
        report.printAll();
        QCoreApplication::removeTranslator(&translator);
    }
    report.printAll();
    const QList<QStringList> printed = pages();
    QCOMPARE(printed.size(), 2);
    QCOMPARE(printed[0].at(4), field("VEREIN: Ostend Club", 29) + field("CLOCK No: C0FFEE01", 21)
                                   + QStringLiteral("PRINTED: 2026-03-14 17.28.58"));
    QCOMPARE(printed[0].at(8), field("TIME SET:       2026-03-14 16.26.53", 39)
                                   + field("MEMBER'S CLOCK: 1970-01-01 08.00.00", 39));
    QCOMPARE(printed[1].at(4), field("CLUB: Ostend Club", 29) + field("CLOCK No: C0FFEE01", 21)
                                   + QStringLiteral("PRINTED: 14/03/2026 17:28:58"));
    QCOMPARE(printed[1].at(8), field("TIME SET:       14/03/2026 16:26:53", 39)
                                   + field("MEMBER'S CLOCK: 01/01/1970 08:00:00", 39));
}

void TestReportPrinter::translatableTexts_listedForTranslators()
{
    // What translators get: lupdate over the report sources lists every
    // label, title, header and sex mark in "ReportPrinter" and the time
    // formats in "CommonResource".
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString ts = dir.filePath(QStringLiteral("reports.ts"));
    QProcess lupdate;
    lupdate.start(QStringLiteral(LUPDATE_PATH),
                  {QStringLiteral("-silent"), QStringLiteral(PRINT_SOURCE_DIR), QStringLiteral("-ts"), ts});
    QVERIFY(lupdate.waitForFinished(60000));
    QCOMPARE(lupdate.exitCode(), 0);
    QFile file(ts);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QMap<QString, QStringList> byContext;
    QString context;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("source"))
            byContext[context] << xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(byContext.keys(), (QStringList{"CommonResource", "ReportPrinter"}));
    QStringList formats = byContext.value(QStringLiteral("CommonResource"));
    formats.sort();
    QCOMPARE(formats, (QStringList{"dd/MM hh:mm:ss", "dd/MM/yyyy hh:mm", "dd/MM/yyyy hh:mm:ss"}));
    QStringList texts = byContext.value(QStringLiteral("ReportPrinter"));
    texts.removeDuplicates();
    texts.sort();
    QStringList expected{
        "                      QUARVELO - Assignment Ring List                        ",
        "|                      QUARVELO  -  Race Marked List                        |",
        "|                    QUARVELO  -  Race in Progress List                     |",
        "|                    QUARVELO  -  Race Finalization List                    |",
        "No.|       Bird        |Color| E-ring |No.|       Bird        |Color| E-ring ",
        "No.|       Bird         | e-Ring |Sex | Color  | Day     Time   | Nom.       ",
        "   |                   |        |    |     |    Arrival    |   | Secret Num  ",
        "No.|       Bird        | e-Ring |Sex |Color| Day    Time   |Nom|   Checked   ",
        " Signed Member:               Club:                Clock Checked:            ",
        "Signed Member:         Flyer:            Club:           Clock Checked:      ",
        "All entered pigeons have been fully vaccinated against Paramyxovirus and are ",
        "registered in my name.",
        "CLUB: ", "CLOCK No: ", "PRINTED: ", "MEMBER: ", "LOFT No: ", "TELEPHONE: ", "ADDRESS: ",
        "TIME SET:       ", "STRIKE SET:     ", "MEMBER'S CLOCK: ", "VERSION:        ",
        "TIME ZONE:      UTC-", "TIME ZONE:      UTC+", "ASSOC CODE: ", "RACE CODE: ", "MARKER ID: ",
        "KEY CODE: ", "LIBER CODE: ", "LIBER SITE: ", "TOTAL BASKETED: ", "TOTAL ARRIVED: ",
        " H  ", " C  ", "deleted!", "OK", "Not OK",
        "Total: ", "Total Marked: ", "Total hens: ", "Total cocks: ", "Yearlings: "};
    expected.sort();
    QCOMPARE(texts, expected);
}

QTEST_GUILESS_MAIN(TestReportPrinter)
#include "tst_reportprinter.moc"
