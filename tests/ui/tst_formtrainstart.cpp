#include "core/myapp.h"
#include "core/platform.h"
#include "core/utc.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/formmessagehandler.h"
#include "ui/mainwindow.h"
#include "ui/marking/formtrain.h"
#include "ui/marking/formtrainstart.h"

#include "guifixture.h"
#include "promptqueue.h"
#include "screendriver.h"
#include "storagefixture.h"

#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <memory>

namespace {
constexpr int kZone = 28800;
// 14 March 2026 20:30:15.678 UTC: already the 15th in the loft's zone.
constexpr qint64 kNow = 1773520215678LL;

const char *const kCombos[] = {"comboBoxDay", "comboBoxMonth", "comboBoxYear",
                               "comboBoxHour", "comboBoxMinute", "comboBoxSecond"};

// Milliseconds of a wall-clock time in the loft's zone, worked out apart
// from the product's conversion.
qint64 loftMs(int year, int month, int day, int hour, int minute, int second)
{
    const QDateTime utc(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
    return utc.toMSecsSinceEpoch() - kZone * 1000LL;
}

// The start screen's answer as its caller sees it, and whether the screen
// had left the stack by then.
class AnswerRecorder : public FormMessageHandler
{
public:
    void onFormMessage(QMessageBox::StandardButton button, void *context) override
    {
        MainWindow *w = MainWindow::instance();
        buttons << button;
        contexts << context;
        startScreenGone << (w->topSubForm() != static_cast<SubWindow *>(w->formTrainStart)
                            && !w->formTrainStart->isActive() && w->formTrainStart->isHidden());
    }
    QList<QMessageBox::StandardButton> buttons;
    QList<void *> contexts;
    QList<bool> startScreenGone;
};

} // namespace

// The start of a training flight: presets from the parameters and the club
// time, the keyboard, the checks of Start, what it stores, and the answer to
// the training screen, which renews the records.
class TestFormTrainStart : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void presetDistance_data();
    void presetDistance();
    void presetDate_data();
    void presetDate();
    void keys_data();
    void keys();
    void start_data();
    void start();
    void refused_data();
    void refused();
    void leaving_storesAndAnswersNothing_data();
    void leaving_storesAndAnswersNothing();
    void answer_exactlyOneOkAfterLeaving();
    void parameterFailure_errorAndScreenStays_data();
    void parameterFailure_errorAndScreenStays();
    void resetFailure_recordsUnchanged();
    void anyStatementFailing_recordsWholeOrUntouched();

private:
    FormTrainStart *screen() const { return fixture->window()->formTrainStart; }
    FormTrain *training() const { return fixture->window()->formTrain; }
    QLineEdit *edit(const char *name) const { return screen()->findChild<QLineEdit *>(QLatin1String(name)); }
    QComboBox *combo(const char *name) const { return screen()->findChild<QComboBox *>(QLatin1String(name)); }
    QStringList comboTexts() const;
    void select(const char *name, const QString &text) const;
    // Day, month, year and the two distance fields, each list empty to keep
    // the presets; then Start.
    void startWith(const QStringList &date, const QStringList &distance) const;
    void touch(const char *name) const;
    void openFromTraining();
    void seedLoft() const;
    QList<QVariantList> params() const;
    QList<QVariantList> records() const;

    std::unique_ptr<GuiFixture> fixture;
    std::unique_ptr<ScreenDriver> driver;
    std::unique_ptr<ScreenDriver> trainDriver;
};

void TestFormTrainStart::init()
{
    fixture = std::make_unique<GuiFixture>();
    Platform::setSystemClock([] { return kNow; });
    UTC::_timeBase = 0;
    UTC::_clubTimeDiff = 0;
    UTC::setTimeZone(kZone);
    driver = std::make_unique<ScreenDriver>(screen(), QStringLiteral("tst_formtrainstart"));
    trainDriver = std::make_unique<ScreenDriver>(training(), QStringLiteral("tst_formtrainstart"));
    QVERIFY(QTest::qWaitForWindowActive(fixture->window()));
}

void TestFormTrainStart::cleanup()
{
    trainDriver.reset();
    driver.reset();
    fixture.reset();
    Platform::setSystemClock({});
}

QStringList TestFormTrainStart::comboTexts() const
{
    QStringList texts;
    for (const char *name : kCombos)
        texts << combo(name)->currentText();
    return texts;
}

void TestFormTrainStart::select(const char *name, const QString &text) const
{
    QComboBox *box = combo(name);
    const int index = box->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    box->setCurrentIndex(index);
}

void TestFormTrainStart::startWith(const QStringList &date, const QStringList &distance) const
{
    if (!date.isEmpty()) {
        select("comboBoxDay", date.at(0));
        select("comboBoxMonth", date.at(1));
        select("comboBoxYear", date.at(2));
    }
    if (!distance.isEmpty()) {
        edit("editMiles")->setText(distance.at(0));
        edit("editYards")->setText(distance.at(1));
    }
    driver->click("btnStartTrain");
}

// A touch at the field's right end: the focus, with the cursor after the text.
void TestFormTrainStart::touch(const char *name) const
{
    QLineEdit *field = edit(name);
    QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(field->width() - 4, field->height() / 2));
    QTRY_VERIFY(field->hasFocus());
}

void TestFormTrainStart::openFromTraining()
{
    fixture->push(training());
    trainDriver->click("btnReset");
    QCOMPARE(fixture->top(), static_cast<SubWindow *>(screen()));
}

// Training pigeons arrived and not, one basketed for a race, one without a
// record yet.
void TestFormTrainStart::seedLoft() const
{
    const StorageFixture &db = fixture->store();
    const auto add = [&db](const QString &assoc, const QString &ring, const QString &race, qint64 mark, qint64 back) {
        QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('%1','%2')").arg(assoc, ring)));
        QVERIFY(db.exec(QStringLiteral("insert into Record(AssocNum,EringNum,RaceCode,MarkTime,BackTimeEring,BackOrder) "
                                       "values('%1','%2','%3',%4,%5,%6)")
                            .arg(assoc, ring, race)
                            .arg(mark)
                            .arg(back)
                            .arg(back ? 1 : 0)));
    };
    add(QStringLiteral("T-1"), QStringLiteral("D0000001"), QStringLiteral("train"), 0, kNow - 60000);
    add(QStringLiteral("T-2"), QStringLiteral("D0000002"), QString(""), 0, kNow - 30000);
    add(QStringLiteral("T-3"), QStringLiteral("D0000003"), QStringLiteral("train"), 0, 0);
    add(QStringLiteral("B-1"), QStringLiteral("D0000004"), QStringLiteral("R1"), kNow - 86400000, kNow - 1000);
    QVERIFY(db.exec(QStringLiteral("insert into Pigeon(AssocNum,EringNum) values('L-1','D0000005')")));
}

QList<QVariantList> TestFormTrainStart::params() const
{
    return fixture->store().rows(QStringLiteral("select id,val from APPPARAMS order by id"));
}

QList<QVariantList> TestFormTrainStart::records() const
{
    return fixture->store().rows(
        QStringLiteral("select AssocNum,EringNum,RaceCode,MarkTime,BackTimeEring,BackOrder from Record order by AssocNum"));
}

void TestFormTrainStart::presetDistance_data()
{
    QTest::addColumn<QString>("distance"); // null: never stored
    QTest::addColumn<QString>("standard");
    QTest::addColumn<QStringList>("shown"); // whole, remainder, both captions

    QTest::newRow("nothing stored") << QString() << QString() << QStringList{"5", "0", "Kilometer", "Meter"};
    QTest::newRow("21500 metric") << "21500" << "0" << QStringList{"10", "1500", "Kilometer", "Meter"};
    QTest::newRow("21500 imperial") << "21500" << "1" << QStringList{"10", "1500", "Miles", "Yards"};
}

void TestFormTrainStart::presetDistance()
{
    QFETCH(QString, distance);
    QFETCH(QString, standard);
    QFETCH(QStringList, shown);
    const StorageFixture &db = fixture->store();
    if (!distance.isNull())
        QVERIFY(db.exec(QStringLiteral("insert into APPPARAMS(id,val) values('train_distance','%1')").arg(distance)));
    if (!standard.isNull())
        QVERIFY(db.exec(QStringLiteral("insert into APPPARAMS(id,val) values('standard','%1')").arg(standard)));
    openFromTraining();
    QCOMPARE((QStringList{edit("editMiles")->text(), edit("editYards")->text(), driver->text("labKM"),
                          driver->text("labMeter")}),
             shown);
    QCOMPARE(screen()->findChild<QWidget *>(QStringLiteral("FormKeyBoard")) == nullptr, false);
    if (QTest::currentDataTag() == QByteArray("21500 imperial"))
        driver->shot(QStringLiteral("start-imperial"));
}

void TestFormTrainStart::presetDate_data()
{
    QTest::addColumn<qint64>("clock");
    QTest::addColumn<qint64>("clubDiff");
    QTest::addColumn<QStringList>("shown"); // day, month, year, hour, minute, second
    QTest::addColumn<QString>("lastYear");

    QTest::newRow("late in the UTC day: the next local day")
        << kNow << qint64(0) << QStringList{"15", "03", "2026", "04", "30", "15"} << "2036";
    QTest::newRow("club time, not the device's")
        << kNow << qint64(-3600000) << QStringList{"15", "03", "2026", "03", "30", "15"} << "2036";
    QTest::newRow("club year 1970: the last year listed")
        << qint64(0) << qint64(0) << QStringList{"01", "01", "2025", "08", "00", "00"} << "2025";
}

void TestFormTrainStart::presetDate()
{
    QFETCH(qint64, clock);
    QFETCH(qint64, clubDiff);
    QFETCH(QStringList, shown);
    QFETCH(QString, lastYear);
    Platform::setSystemClock([clock] { return clock; });
    UTC::_clubTimeDiff = clubDiff;
    openFromTraining();
    QCOMPARE(comboTexts(), shown);
    QComboBox *years = combo("comboBoxYear");
    QCOMPARE(years->itemText(0), QStringLiteral("2015"));
    QCOMPARE(years->itemText(years->count() - 1), lastYear);
    QCOMPARE(combo("comboBoxDay")->count(), 31);
    QCOMPARE(combo("comboBoxSecond")->count(), 60);
}

void TestFormTrainStart::keys_data()
{
    QTest::addColumn<QStringList>("touches");
    QTest::addColumn<QString>("keys"); // typed on the screen's keyboard; \b is Backspace
    QTest::addColumn<QString>("miles");
    QTest::addColumn<QString>("yards");

    QTest::newRow("typing before touching a field") << QStringList{} << "12" << "5" << "0";
    QTest::newRow("digits into the remainder") << QStringList{"editYards"} << "12" << "5" << "012";
    QTest::newRow("a letter, '-' and '.' ignored") << QStringList{"editYards"} << "A-.7" << "5" << "07";
    QTest::newRow("Backspace erases one") << QStringList{"editYards"} << "\b9" << "5" << "9";
    QTest::newRow("the field touched last takes the keys") << QStringList{"editYards", "editMiles"} << "3" << "53"
                                                           << "0";
}

void TestFormTrainStart::keys()
{
    QFETCH(QStringList, touches);
    QFETCH(QString, keys);
    QFETCH(QString, miles);
    QFETCH(QString, yards);
    openFromTraining();
    for (const QString &field : touches)
        touch(field.toLatin1().constData());
    QVERIFY(driver->type(keys));
    QCOMPARE(edit("editMiles")->text(), miles);
    QCOMPARE(edit("editYards")->text(), yards);
}

void TestFormTrainStart::start_data()
{
    QTest::addColumn<QStringList>("date"); // day, month, year; empty: the presets
    QTest::addColumn<QStringList>("distance"); // whole, remainder; empty: the presets
    QTest::addColumn<qint64>("liberation");
    QTest::addColumn<int>("stored");

    // The club time at opening, to the second.
    QTest::newRow("the presets") << QStringList{} << QStringList{} << loftMs(2026, 3, 15, 4, 30, 15) << 10000;
    QTest::newRow("1 and 500") << QStringList{} << QStringList{"1", "500"} << loftMs(2026, 3, 15, 4, 30, 15)
                               << 2500;
    QTest::newRow("both fields empty") << QStringList{} << QStringList{"", ""} << loftMs(2026, 3, 15, 4, 30, 15) << 0;
    QTest::newRow("the largest distance") << QStringList{} << QStringList{"1073741", "1647"}
                                          << loftMs(2026, 3, 15, 4, 30, 15) << 2147483647;
    QTest::newRow("29/02 of a leap year") << QStringList{"29", "02", "2024"} << QStringList{}
                                          << loftMs(2024, 2, 29, 4, 30, 15) << 10000;
}

void TestFormTrainStart::start()
{
    QFETCH(QStringList, date);
    QFETCH(QStringList, distance);
    QFETCH(qint64, liberation);
    QFETCH(int, stored);
    seedLoft();
    const QVariantList basketed = fixture->store().rows(QStringLiteral("select * from Record where AssocNum='B-1'")).value(0);
    PromptQueue sound;
    openFromTraining();
    startWith(date, distance);

    QCOMPARE(sound.prompts(), (QStringList{"dong", "ok"}));
    QVERIFY(!fixture->boxShown());
    QCOMPARE(fixture->top(), static_cast<SubWindow *>(training()));
    QCOMPARE(fixture->store().value(QStringLiteral("select val from APPPARAMS where id='train_libertime'")).toString(),
             QString::number(liberation));
    QCOMPARE(fixture->store().value(QStringLiteral("select val from APPPARAMS where id='train_distance'")).toString(),
             QString::number(stored));
    // Every ringed pigeon not basketed has a fresh training record.
    const QList<QVariantList> expected{
        {"B-1", "D0000004", "R1", kNow - 86400000, kNow - 1000, 1},
        {"L-1", "D0000005", "train", 0, 0, 0},
        {"T-1", "D0000001", "train", 0, 0, 0},
        {"T-2", "D0000002", "train", 0, 0, 0},
        {"T-3", "D0000003", "train", 0, 0, 0},
    };
    const QList<QVariantList> now = records();
    QCOMPARE(now.size(), expected.size());
    for (int i = 0; i < now.size(); ++i) {
        for (int c = 0; c < expected.at(i).size(); ++c)
            QCOMPARE(now.at(i).at(c).toString(), expected.at(i).at(c).toString());
    }
    QCOMPARE(fixture->store().rows(QStringLiteral("select * from Record where AssocNum='B-1'")).value(0), basketed);
    QCOMPARE(training()->findChild<QTableWidget *>(QStringLiteral("tablePigeonList"))->rowCount(), 0);
    QCOMPARE(trainDriver->text("labelTotalPigeon"), QStringLiteral("0"));
    QCOMPARE(trainDriver->text("labLiberTime"),
             QDateTime::fromMSecsSinceEpoch(liberation + kZone * 1000LL, Qt::UTC).toString("dd/MM/yyyy hh:mm:ss"));

    // Nothing pending any more: a stray Ok renews nothing.
    QVERIFY(fixture->store().exec(QStringLiteral("update Record set BackTimeEring=%1 where AssocNum='T-3'").arg(kNow)));
    training()->onFormMessage(QMessageBox::Ok, nullptr);
    QCOMPARE(fixture->store().value(QStringLiteral("select BackTimeEring from Record where AssocNum='T-3'")).toLongLong(),
             kNow);
}

void TestFormTrainStart::refused_data()
{
    QTest::addColumn<QStringList>("date");
    QTest::addColumn<QStringList>("distance");
    QTest::addColumn<QString>("text");

    QTest::newRow("remainder of a whole unit") << QStringList{} << QStringList{"1", "2000"} << "Invalid distance!";
    QTest::newRow("whole units of 20 digits") << QStringList{} << QStringList{"99999999999999999999", "0"}
                                              << "Invalid distance!";
    QTest::newRow("above 32 bits") << QStringList{} << QStringList{"1073741", "1648"} << "Invalid distance!";
    QTest::newRow("29/02/2025") << QStringList{"29", "02", "2025"} << QStringList{} << "Invalid date!";
    QTest::newRow("31/04") << QStringList{"31", "04", "2026"} << QStringList{} << "Invalid date!";
    QTest::newRow("a bad date and a bad distance") << QStringList{"30", "02", "2026"} << QStringList{"1", "2500"}
                                                   << "Invalid date!";
}

void TestFormTrainStart::refused()
{
    QFETCH(QStringList, date);
    QFETCH(QStringList, distance);
    QFETCH(QString, text);
    AnswerRecorder recorder;
    const QList<QVariantList> before = params();
    screen()->showForm(&recorder);
    PromptQueue sound;
    startWith(date, distance);

    QCOMPARE(sound.prompts(), QStringList{QStringLiteral("error")});
    QVERIFY(fixture->boxShown());
    QCOMPARE(fixture->box()->title(), QStringLiteral("Error"));
    QCOMPARE(fixture->boxText(), text);
    if (QTest::currentDataTag() == QByteArray("31/04"))
        driver->shot(QStringLiteral("refused-date"));
    fixture->answerBox(QMessageBox::Ok);
    QCOMPARE(params(), before);
    QCOMPARE(fixture->top(), static_cast<SubWindow *>(screen()));
    QVERIFY(recorder.buttons.isEmpty());
}

void TestFormTrainStart::leaving_storesAndAnswersNothing_data()
{
    QTest::addColumn<int>("key"); // 0: the Back button
    QTest::newRow("Back") << 0;
    QTest::newRow("Escape") << int(Qt::Key_Escape);
    QTest::newRow("Home") << int(Qt::Key_Home);
}

void TestFormTrainStart::leaving_storesAndAnswersNothing()
{
    QFETCH(int, key);
    seedLoft();
    const QList<QVariantList> recordsBefore = records();
    const QList<QVariantList> paramsBefore = params();
    fixture->push(training());
    PromptQueue sound;
    trainDriver->click("btnReset");
    edit("editMiles")->setText(QStringLiteral("42"));
    if (key == 0) {
        QTest::mouseClick(fixture->window()->findChild<QPushButton *>(QStringLiteral("pushButtonBack")),
                          Qt::LeftButton);
    } else {
        fixture->key(key);
    }
    QCOMPARE(sound.prompts().value(0), QStringLiteral("dong"));
    QVERIFY(!sound.prompts().contains(QStringLiteral("ok")));
    QVERIFY(!screen()->isActive());
    QCOMPARE(params(), paramsBefore);
    QCOMPARE(records(), recordsBefore);
    if (key != Qt::Key_Home) {
        QCOMPARE(fixture->top(), static_cast<SubWindow *>(training()));
        QCOMPARE(training()->findChild<QTableWidget *>(QStringLiteral("tablePigeonList"))->rowCount(), 2);
    }

    // The next opening presets again; the handler stays the training screen's.
    AnswerRecorder recorder;
    screen()->showForm(&recorder);
    QCOMPARE(edit("editMiles")->text(), QStringLiteral("5"));
    fixture->key(Qt::Key_Escape);
    QVERIFY(recorder.buttons.isEmpty());
}

void TestFormTrainStart::answer_exactlyOneOkAfterLeaving()
{
    AnswerRecorder recorder;
    fixture->push(training());
    screen()->showForm(&recorder);
    driver->shot(QStringLiteral("start-keyboard"));
    driver->click("btnStartTrain");
    QCOMPARE(recorder.buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
    QCOMPARE(recorder.contexts, QList<void *>{nullptr});
    QCOMPARE(recorder.startScreenGone, QList<bool>{true});
    QCOMPARE(fixture->top(), static_cast<SubWindow *>(training()));
}

void TestFormTrainStart::parameterFailure_errorAndScreenStays_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("delete fails") << "DELETE";
    QTest::newRow("insert fails") << "INSERT";
}

void TestFormTrainStart::parameterFailure_errorAndScreenStays()
{
    QFETCH(QString, kind);
    // Stored before: setParam deletes the old row, then inserts.
    QVERIFY(fixture->store().exec(QStringLiteral("insert into APPPARAMS(id,val) values('train_libertime','5')")));
    QVERIFY(fixture->store().exec(QStringLiteral("insert into APPPARAMS(id,val) values('train_distance','7')")));
    const QList<QVariantList> before = params();
    AnswerRecorder recorder;
    fixture->push(training());
    screen()->showForm(&recorder);
    QVERIFY(fixture->store().failOn(kind, QStringLiteral("APPPARAMS")));
    PromptQueue sound;
    driver->click("btnStartTrain");
    QCOMPARE(sound.prompts(), QStringList{QStringLiteral("error")});
    QVERIFY(fixture->boxShown());
    QCOMPARE(fixture->box()->title(), QStringLiteral("Error"));
    QVERIFY(!fixture->boxText().isEmpty());
    QVERIFY(fixture->boxText() != QStringLiteral("Unknown Exception!"));
    fixture->answerBox(QMessageBox::Ok);
    QCOMPARE(fixture->top(), static_cast<SubWindow *>(screen()));
    QVERIFY(recorder.buttons.isEmpty());
    QCOMPARE(params(), before);
}

// The renewal is one transaction: a failure leaves every record as it was,
// while the flight's parameters are already stored and the reset still waits.
void TestFormTrainStart::resetFailure_recordsUnchanged()
{
    seedLoft();
    const QList<QVariantList> before = records();
    openFromTraining();
    QVERIFY(fixture->store().failOn(QStringLiteral("UPDATE"), QStringLiteral("Record")));
    PromptQueue sound;
    driver->click("btnStartTrain");

    QCOMPARE(sound.prompts(), (QStringList{"ok", "error"}));
    QVERIFY(fixture->boxShown());
    QCOMPARE(fixture->box()->title(), QStringLiteral("Error"));
    QCOMPARE(records(), before);
    QCOMPARE(fixture->store().value(QStringLiteral("select val from APPPARAMS where id='train_distance'")).toString(),
             QStringLiteral("10000"));
    QVERIFY(!screen()->isActive());
    QCOMPARE(fixture->top(), static_cast<SubWindow *>(training()));
    driver->shot(QStringLiteral("reset-failed"));
    fixture->answerBox(QMessageBox::Ok);

    // Still pending: the next Ok renews the records.
    QVERIFY(fixture->store().exec(QStringLiteral("drop trigger fail_UPDATE_Record")));
    training()->onFormMessage(QMessageBox::Ok, nullptr);
    QCOMPARE(fixture->store().value(QStringLiteral("select count(*) from Record where BackTimeEring<>0")).toInt(), 1);
}

// Start and the renewal with each of their statements failing in turn: an
// "Error" box every time, and the records either all renewed or untouched.
void TestFormTrainStart::anyStatementFailing_recordsWholeOrUntouched()
{
    seedLoft();
    const QList<QVariantList> untouched = records();
    bool completed = false;
    for (int n = 1; n < 100 && !completed; ++n) {
        openFromTraining();
        Storage::setFault(Storage::Fault::FailStatement, n);
        driver->click("btnStartTrain");
        Storage::setFault(Storage::Fault::None);
        completed = !fixture->boxShown();
        if (!completed) {
            QCOMPARE(GuiFixture::boxTitle(), QStringLiteral("Error"));
            fixture->answerBox(QMessageBox::Ok);
        }
        const QList<QVariantList> now = records();
        if (now != untouched) {
            QCOMPARE(now.size(), untouched.size() + 1); // L-1 had no record
            for (const QVariantList &row : now) {
                if (row.at(0).toString() != QStringLiteral("B-1"))
                    QCOMPARE(row.at(4).toLongLong(), 0LL);
            }
            QVERIFY(fixture->store().exec(QStringLiteral("delete from Record where AssocNum='L-1'")));
            for (const QVariantList &row : untouched) {
                QVERIFY(fixture->store().exec(
                    QStringLiteral("update Record set RaceCode='%1',BackTimeEring=%2,BackOrder=%3 where AssocNum='%4'")
                        .arg(row.at(2).toString())
                        .arg(row.at(4).toLongLong())
                        .arg(row.at(5).toInt())
                        .arg(row.at(0).toString())));
            }
        }
        fixture->window()->resetSubForms();
    }
    QVERIFY(completed);
}

int main(int argc, char *argv[])
{
    // Any use of the host's zone instead of the loft's shows in the texts.
    qputenv("TZ", "America/Sao_Paulo");
    MyApp app(argc, argv);
    TestFormTrainStart test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_formtrainstart.moc"
