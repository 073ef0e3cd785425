#include "core/exceptionresource.h"
#include "core/vexexception.h"

#include "messagecapture.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

namespace {
enum Kind { Vex, Db, Gsm };

const QString kFrench = QStringLiteral("Délai du sémaphore dépassé !");

VexException make(int kind, int code, const QString &message, const QString &desc)
{
    switch (kind) {
    case Db:
        return DBException(code, message, desc);
    case Gsm:
        return GsmException(code, message, desc);
    default:
        return VexException(code, message, desc);
    }
}

// The texts translators must see, in the catalogue's order.
const QStringList kCatalogue = {
    "Morlan crc error!", "Commit failed!", "Communication send failed!", "create database error!",
    "Response crc error!", "Morlan response exception!", "Morlan no response!", "Morlan response overtime!",
    "Loft Number is empty!", "Save pigeon failed!", "Delete pigeon failed!", "Update pigeon failed!",
    "Pigeon not exists!", "Index overflow!", "Please insert SD card!", "Save to sd card failed!",
    "Ack file crashed!", "Ack file format error!", "Ack file dimatch!", "Ack file not found!",
    "Semaphore timeout!", "Gps not exists!", "Gps module open failed!", "GSM open port error!", "GSM exit!",
    "GSM response timeout!", "GSM response ERROR!", "GSM no OK response!", "GSM response error!",
    "GSM receive timeout!", "GSM response error:", "GSM not exists!", "GSM read byte timeout!",
    "HTTP protocol error!", "HTTP post error!", "Response format error!", "Send record failed!",
    "Open port failed!", "Write data error!", "Packet parameters error!", "Packet format error!",
    "Nothing received!", "STB error!", "Data not received!", "Data format error!", "Comm buffer out!",
    "RF Port Invalid!", "RF Port open failed!", "Response packet format error!", "Response error!",
    "Response length error!", "Do command error!", "unknow error", "read fdx error!", "read id64 error!",
    "active HitagS error!", "read HitagS page error!", "write HitagS page error!",
    "error morlan cmd received!", "error morlan cmd!", "Club clock unauthorized!",
    "Morlan unknown exception!", "Set random failed!", "Print failed!error=", "Read time failed!",
    "Set time failed!",
};
} // namespace

// What every failure carries to the log and to the user: the debug line
// written at construction, the code and family, and the description that is
// looked up by translating the English message.
class TestVexException : public QObject
{
    Q_OBJECT
private slots:
    void construction_data();
    void construction();
    void debugLine_oncePerConstruction_notForCopies();
    void catalogue_listsEveryTextForTranslators();
};

void TestVexException::construction_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("desc");
    QTest::addColumn<bool>("translated");
    QTest::addColumn<int>("expectedCode");
    QTest::addColumn<int>("expectedType");
    QTest::addColumn<QString>("debugLine");
    QTest::addColumn<QString>("expectedDesc");

    const QString semaphore = QStringLiteral("Semaphore timeout!");
    const QString driver = QStringLiteral("UNIQUE constraint failed: Pigeon.AssociationNum");
    QTest::newRow("timeout, with the test translation")
        << int(Vex) << 0x1201 << semaphore << QString() << true << 0x1201 << 0x1200
        << QStringLiteral("Error:1201,Message:Semaphore timeout!") << kFrench;
    QTest::newRow("timeout, no translation loaded")
        << int(Vex) << 0x1201 << semaphore << QString() << false << 0x1201 << 0x1200
        << QStringLiteral("Error:1201,Message:Semaphore timeout!") << semaphore;
    QTest::newRow("given description is kept untranslated")
        << int(Vex) << 0x1201 << semaphore << QStringLiteral("Bitte warten") << true << 0x1201 << 0x1200
        << QStringLiteral("Error:1201,Message:Semaphore timeout!") << QStringLiteral("Bitte warten");
    QTest::newRow("small code is zero-padded to four digits")
        << int(Vex) << 0x7 << QStringLiteral("Response error!") << QString() << false << 0x7 << 0x0
        << QStringLiteral("Error:0007,Message:Response error!") << QStringLiteral("Response error!");
    QTest::newRow("database error 19 keeps the driver's text")
        << int(Db) << 19 << driver << QString() << true << 0x11000013 << 0x11000000
        << QStringLiteral("Error:11000013,Message:") + driver << driver;
    QTest::newRow("database error uses the low 8 bits only")
        << int(Db) << 0x1234 << driver << QString() << false << 0x11000034 << 0x11000000
        << QStringLiteral("Error:11000034,Message:") << driver;
    QTest::newRow("untranslated non-ASCII message is its own description")
        << int(Vex) << 0x0105 << QStringLiteral("Übertragung gestört – ±5°") << QString() << true << 0x0105
        << 0x0100 << QStringLiteral("Error:0105,Message:Übertragung gestört – ±5°")
        << QStringLiteral("Übertragung gestört – ±5°");
    QTest::newRow("modem exception")
        << int(Gsm) << 0x0302 << QStringLiteral("GSM exit!") << QString() << false << 0x0302 << 0x0300
        << QStringLiteral("Error:0302,Message:GSM exit!") << QStringLiteral("GSM exit!");
}

void TestVexException::construction()
{
    QFETCH(int, kind);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(QString, desc);
    QFETCH(bool, translated);
    QFETCH(int, expectedCode);
    QFETCH(int, expectedType);
    QFETCH(QString, debugLine);
    QFETCH(QString, expectedDesc);

    QTranslator translator;
    if (translated) {
        QVERIFY2(translator.load(QStringLiteral(EXCEPTION_TEST_QM)), EXCEPTION_TEST_QM);
        QVERIFY(QCoreApplication::installTranslator(&translator));
    }
    MessageCapture capture;
    const VexException e = make(kind, code, message, desc);
    if (translated)
        QCoreApplication::removeTranslator(&translator);

    QCOMPARE(e.getErrorCode(), expectedCode);
    QCOMPARE(e.getErrorType(), expectedType);
    QCOMPARE(e.getErrorMessage(), message);
    QCOMPARE(e.getErrorDesc(), expectedDesc);
    // Qt quotes and escapes the debug text, so look for its content.
    QCOMPARE(capture.count(debugLine), 1);
}

void TestVexException::debugLine_oncePerConstruction_notForCopies()
{
    MessageCapture capture;
    try {
        throw DBException(5, QStringLiteral("database is locked"), QString());
    } catch (const VexException &caught) {
        const VexException copy = caught; // NOLINT: the copy is the point
        VexException assigned(0x1201, QStringLiteral("Semaphore timeout!"), QString());
        assigned = copy;
        QCOMPARE(assigned.getErrorCode(), 0x11000005);
        QCOMPARE(assigned.getErrorDesc(), QStringLiteral("database is locked"));
    }
    QCOMPARE(capture.count(QStringLiteral("Error:11000005,Message:database is locked")), 1);
    QCOMPARE(capture.count(QStringLiteral("Error:1201,Message:")), 1);
    QCOMPARE(capture.count(QStringLiteral("Error:")), 2);
}

void TestVexException::catalogue_listsEveryTextForTranslators()
{
    // Building the catalogue translates each text once and keeps nothing.
    ExceptionResource resource;
    Q_UNUSED(resource);

    // What translators get: run lupdate over the catalogue's source.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString ts = dir.filePath(QStringLiteral("catalogue.ts"));
    QProcess lupdate;
    lupdate.start(QStringLiteral(LUPDATE_PATH),
                  {QStringLiteral("-silent"), QStringLiteral(EXCEPTION_RESOURCE_SOURCE), QStringLiteral("-ts"), ts});
    QVERIFY(lupdate.waitForFinished(60000));
    QCOMPARE(lupdate.exitCode(), 0);

    QFile file(ts);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QStringList contexts;
    QStringList sources;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name"))
            contexts << xml.readElementText();
        else if (xml.name() == QLatin1String("source"))
            sources << xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(contexts, QStringList{QStringLiteral("ExceptionResource")});
    QCOMPARE(sources.size(), 66);
    QCOMPARE(sources, kCatalogue);
}

QTEST_GUILESS_MAIN(TestVexException)
#include "tst_vexexception.moc"
