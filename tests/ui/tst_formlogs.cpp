#include "core/log.h"
#include "core/myapp.h"
#include "device/hardware_control.h"
#include "storage/storage.h"
#include "ui/formmessage.h"
#include "ui/mainwindow.h"
#include "ui/settings/formlogs.h"
#include "ui/settings/formtest.h"

#include "guifixture.h"
#include "promptqueue.h"
#include "screenshot.h"
#include "storagefixture.h"
#include "testroot.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {
constexpr qint64 kOldTime = 1700000000000;
constexpr qint64 kNewTime = 1700000090000;
}

// The event log: ten entries a page, newest first, the touched entry's text
// below, and pages that only change when there is one to show.
class TestFormLogs : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void pages_data();
    void pages();
    void entryText();
    void queryFails();

private:
    void addEntries(int count);
    QStringList shownIds() const;
    QStringList allIds() const;
    void click(const char *name);
    void checkNoCurrentRow() const;

    std::unique_ptr<GuiFixture> gui;
    StorageFixture *store = nullptr;
    MainWindow *window = nullptr;
    FormLogs *form = nullptr;
    QTableWidget *table = nullptr;
};

void TestFormLogs::init()
{
    gui = std::make_unique<GuiFixture>();
    store = &gui->store();
    window = gui->window();
    form = window->formLogs;
    table = form->findChild<QTableWidget *>(QStringLiteral("tableLog"));
    // Whatever the start wrote goes: each case counts its own entries.
    QVERIFY(store->exec(QStringLiteral("delete from Log")));
}

void TestFormLogs::cleanup()
{
    gui.reset();
}

void TestFormLogs::addEntries(int count)
{
    for (int i = 0; i < count; ++i)
        Storage::instance()->logPowerOff(QStringLiteral("reason %1").arg(i));
}

QStringList TestFormLogs::shownIds() const
{
    QStringList ids;
    for (int row = 0; row < table->rowCount(); ++row)
        ids << table->item(row, 0)->text();
    return ids;
}

QStringList TestFormLogs::allIds() const
{
    QStringList ids;
    for (const QVariantList &row : store->rows(QStringLiteral("select LogId from Log order by LogId desc")))
        ids << row.at(0).toString();
    return ids;
}

void TestFormLogs::click(const char *name)
{
    QTest::mouseClick(form->findChild<QPushButton *>(QLatin1String(name)), Qt::LeftButton);
}

void TestFormLogs::checkNoCurrentRow() const
{
    QCOMPARE(table->currentRow(), -1);
    QVERIFY(table->selectedItems().isEmpty());
    QVERIFY(form->findChild<QPlainTextEdit *>(QStringLiteral("txtContent"))->toPlainText().isEmpty());
}

void TestFormLogs::pages_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<QString>("presses"); // "<" and ">" in turn
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("firstShown"); // index among all ids, newest first
    QTest::addColumn<int>("shown");
    QTest::newRow("empty log, >") << 0 << ">" << 0 << 0 << 0;
    QTest::newRow("ten, >") << 10 << ">" << 0 << 0 << 10;
    QTest::newRow("eleven, >") << 11 << ">" << 1 << 10 << 1;
    QTest::newRow("eleven, > <") << 11 << "><" << 0 << 0 << 10;
    QTest::newRow("eleven, < on page 0") << 11 << "<" << 0 << 0 << 10;
    QTest::newRow("25, > > >") << 25 << ">>>" << 2 << 20 << 5;
    QTest::newRow("25, > > <") << 25 << ">><" << 1 << 10 << 10;
}

void TestFormLogs::pages()
{
    QFETCH(int, entries);
    QFETCH(QString, presses);
    QFETCH(int, page);
    QFETCH(int, firstShown);
    QFETCH(int, shown);
    addEntries(entries);
    window->pushSubForm(form);
    QCOMPARE(shownIds(), allIds().mid(0, 10));
    checkNoCurrentRow();
    PromptQueue sound;
    for (const QChar press : presses) {
        click(press == QLatin1Char('<') ? "btnMovePrev" : "btnMoveNext");
        checkNoCurrentRow();
    }
    QCOMPARE(sound.prompts(), QStringList(presses.size(), QStringLiteral("keyPress")));
    QCOMPARE(form->page(), page);
    QCOMPARE(shownIds(), allIds().mid(firstShown, shown));
    if (entries > 0) {
        QCOMPARE(table->item(0, 2)->text(), QStringLiteral("Power off"));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d$"))
                    .match(table->item(0, 1)->text())
                    .hasMatch());
    }
    // Opened anew: page 0 again.
    window->popSubForm(SubWindow::DeactiveHide);
    window->pushSubForm(form);
    QCOMPARE(form->page(), 0);
    QCOMPARE(shownIds(), allIds().mid(0, 10));
}

void TestFormLogs::entryText()
{
    addEntries(1);
    Storage::instance()->logTimeVerify(kOldTime, kNewTime, QStringLiteral("MANUAL"));
    const QString longText = QString(5000, QLatin1Char('x'));
    const struct
    {
        int type;
        QString info;
    } odd[] = {{7, QStringLiteral("no json at all")}, {8, longText}, {10, QStringLiteral("{\"a\":")}, {12, QStringLiteral("[1,2]")}};
    for (const auto &row : odd) {
        QVERIFY(store->exec(QStringLiteral("insert into Log(LogType,LogTime,LogInfo) values(%1,%2,'%3')")
                                .arg(row.type)
                                .arg(kOldTime)
                                .arg(row.info)));
    }
    window->pushSubForm(form);
    QCOMPARE(table->rowCount(), 6);
    for (int row = 0; row < 4; ++row)
        QCOMPARE(table->item(row, 2)->text(), QStringLiteral("Unknow"));
    QCOMPARE(table->item(4, 2)->text(), QStringLiteral("Time Verify"));
    const QList<QSharedPointer<Log>> logs = Storage::instance()->queryLogs(0, 10, 0);
    auto *content = form->findChild<QPlainTextEdit *>(QStringLiteral("txtContent"));
    for (int row = 0; row < 6; ++row) {
        const QRect cell = table->visualItemRect(table->item(row, 1));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(table->currentRow(), row);
        QCOMPARE(content->toPlainText(), logs.at(row)->toDisplayText());
    }
    QVERIFY(content->toPlainText().contains(QStringLiteral("reason 0")));
    const QRect cell = table->visualItemRect(table->item(4, 1));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    QVERIFY(content->toPlainText().contains(QStringLiteral(" --> ")));
    Screenshot::save(QStringLiteral("tst_formlogs/formlogs"));
    // Opened anew: nothing chosen.
    window->popSubForm(SubWindow::DeactiveHide);
    window->pushSubForm(form);
    checkNoCurrentRow();
}

void TestFormLogs::queryFails()
{
    addEntries(12);
    window->pushSubForm(window->formTest);
    window->pushSubForm(form);
    // A page that cannot be read leaves page and table as they were.
    QVERIFY(store->exec(QStringLiteral("alter table Log rename to LogAway")));
    const QStringList before = shownIds();
    click("btnMoveNext");
    QVERIFY(FormMessage::instance()->isActived());
    QCOMPARE(FormMessage::instance()->title(), QStringLiteral("Error"));
    QCOMPARE(form->page(), 0);
    QCOMPARE(shownIds(), before);
    FormMessage::instance()->deactive();
    // Nor does the screen open.
    window->popSubForm(SubWindow::DeactiveHide);
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(window->formTest));
    QTest::mouseClick(window->formTest->findChild<QPushButton *>(QStringLiteral("btnLogs")), Qt::LeftButton);
    QCOMPARE(window->topSubForm(), static_cast<SubWindow *>(window->formTest));
    QVERIFY(FormMessage::instance()->isActived());
    QCOMPARE(FormMessage::instance()->title(), QStringLiteral("Error"));
    QVERIFY(!form->isActive());
    QVERIFY(store->exec(QStringLiteral("alter table LogAway rename to Log")));
}

BRELLIUM_GUI_TEST_MAIN(TestFormLogs)

#include "tst_formlogs.moc"
